#include "app/linux/Smart.h"

#include <cstdio>
#include <limits>
#include <utility>

using nlohmann::json;

namespace {

enum class Kind {
  Counter,  // a count of bad things: growth during a scan is a warning
  Bits,     // a bit field of warnings: a new bit is a warning
  Info,     // a state: shown, never compared
};

enum class Shown { Plain, Hex, Percent, Hours, Celsius };

struct Reading {
  std::optional<int64_t> SmartSnapshot::*field;
  const char* key;    // JSON key and Prometheus name (after morvek_scan_smart_)
  const char* label;  // for people
  Kind kind;
  Shown shown;
  const char* help;  // Prometheus HELP
};

// In the order the terminal shows them: ATA by attribute number, then NVMe,
// then SCSI, then what every protocol has.
const Reading kReadings[] = {
    {&SmartSnapshot::reallocatedSectors, "reallocated_sectors", "reallocated sectors", Kind::Counter, Shown::Plain,
     "ATA attribute 5 Reallocated_Sector_Ct, raw value."},
    {&SmartSnapshot::reportedUncorrectable, "reported_uncorrectable", "reported uncorrectable", Kind::Counter,
     Shown::Plain, "ATA attribute 187 Reported_Uncorrect, raw value."},
    {&SmartSnapshot::commandTimeouts, "command_timeouts", "command timeouts", Kind::Counter, Shown::Plain,
     "ATA attribute 188 Command_Timeout, count of timeouts (low 16 bits of the raw value)."},
    {&SmartSnapshot::pendingSectors, "pending_sectors", "pending sectors", Kind::Counter, Shown::Plain,
     "ATA attribute 197 Current_Pending_Sector, raw value."},
    {&SmartSnapshot::offlineUncorrectable, "offline_uncorrectable", "offline uncorrectable", Kind::Counter,
     Shown::Plain, "ATA attribute 198 Offline_Uncorrectable, raw value."},
    {&SmartSnapshot::udmaCrcErrors, "udma_crc_errors", "UDMA CRC errors", Kind::Counter, Shown::Plain,
     "ATA attribute 199 UDMA_CRC_Error_Count, raw value."},
    {&SmartSnapshot::criticalWarning, "critical_warning", "critical warning", Kind::Bits, Shown::Hex,
     "NVMe critical warning bits (0 when none)."},
    {&SmartSnapshot::mediaErrors, "media_errors", "media errors", Kind::Counter, Shown::Plain,
     "NVMe media and data integrity errors."},
    {&SmartSnapshot::errorLogEntries, "error_log_entries", "error log entries", Kind::Counter, Shown::Plain,
     "NVMe number of error information log entries."},
    {&SmartSnapshot::availableSpare, "available_spare_percent", "available spare", Kind::Info, Shown::Percent,
     "NVMe available spare capacity, percent."},
    {&SmartSnapshot::availableSpareThreshold, "available_spare_threshold_percent", "spare threshold", Kind::Info,
     Shown::Percent, "NVMe available spare threshold, percent."},
    {&SmartSnapshot::percentageUsed, "percentage_used", "percentage used", Kind::Info, Shown::Percent,
     "NVMe estimate of the life used, percent (may pass 100)."},
    {&SmartSnapshot::grownDefects, "grown_defects", "grown defects", Kind::Counter, Shown::Plain,
     "SCSI grown defect list length."},
    {&SmartSnapshot::uncorrectedReadErrors, "uncorrected_read_errors", "uncorrected read errors", Kind::Counter,
     Shown::Plain, "SCSI total uncorrected read errors."},
    {&SmartSnapshot::powerOnHours, "power_on_hours", "power-on", Kind::Info, Shown::Hours, "Power-on hours."},
    {&SmartSnapshot::temperatureCelsius, "temperature_celsius", "temperature", Kind::Info, Shown::Celsius,
     "Current drive temperature, degrees Celsius."},
};

const char* ProtocolName(SmartProtocol protocol) {
  switch (protocol) {
    case SmartProtocol::Ata:
      return "ATA";
    case SmartProtocol::Nvme:
      return "NVMe";
    case SmartProtocol::Scsi:
      return "SCSI";
    case SmartProtocol::Unknown:
      break;
  }
  return "unknown";
}

const char* HealthKey(SmartHealth health) {
  switch (health) {
    case SmartHealth::Passed:
      return "passed";
    case SmartHealth::Failed:
      return "failed";
    case SmartHealth::Unknown:
      break;
  }
  return "unknown";
}

const char* HealthShown(SmartHealth health) {
  switch (health) {
    case SmartHealth::Passed:
      return "passed";
    case SmartHealth::Failed:
      return "FAILED";
    case SmartHealth::Unknown:
      break;
  }
  return "unknown";
}

const char* ReasonKey(SmartUnavailable reason) {
  switch (reason) {
    case SmartUnavailable::None:
      return "none";
    case SmartUnavailable::NotInstalled:
      return "not_installed";
    case SmartUnavailable::CouldNotStart:
      return "could_not_start";
    case SmartUnavailable::NoSmart:
      return "no_smart";
    case SmartUnavailable::OpenFailed:
      return "open_failed";
    case SmartUnavailable::CommandFailed:
      return "command_failed";
    case SmartUnavailable::TimedOut:
      return "timed_out";
    case SmartUnavailable::OutputTooLarge:
      return "output_too_large";
    case SmartUnavailable::Killed:
      return "killed";
    case SmartUnavailable::Cancelled:
      return "cancelled";
    case SmartUnavailable::Unparsable:
      return "unparsable";
  }
  return "unknown";
}

std::string ValueText(int64_t value, Shown shown) {
  char buf[48];
  switch (shown) {
    case Shown::Hex:
      std::snprintf(buf, sizeof buf, "0x%02llx", static_cast<unsigned long long>(value));
      break;
    case Shown::Percent:
      std::snprintf(buf, sizeof buf, "%lld %%", static_cast<long long>(value));
      break;
    case Shown::Hours:
      std::snprintf(buf, sizeof buf, "%lld h", static_cast<long long>(value));
      break;
    case Shown::Celsius:
      std::snprintf(buf, sizeof buf, "%lld \u00b0C", static_cast<long long>(value));
      break;
    case Shown::Plain:
      std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
      break;
  }
  return buf;
}

// --- reading smartctl's JSON -------------------------------------------------

const json* Member(const json* object, const char* key) {
  if (object == nullptr || !object->is_object()) return nullptr;
  const auto it = object->find(key);
  return it == object->end() ? nullptr : &*it;
}

// An integer member; a value of another type (or a negative count) is
// treated as absent rather than guessed at.
std::optional<int64_t> Integer(const json* value, bool mayBeNegative = false) {
  if (value == nullptr) return std::nullopt;
  if (value->is_number_unsigned()) {
    const uint64_t v = value->get<uint64_t>();
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
    return static_cast<int64_t>(v);
  }
  if (value->is_number_integer()) {
    const int64_t v = value->get<int64_t>();
    if (v < 0 && !mayBeNegative) return std::nullopt;
    return v;
  }
  return std::nullopt;
}

std::string String(const json* value) {
  return value != nullptr && value->is_string() ? value->get<std::string>() : "";
}

// smartctl's messages, errors first, with the leading "DEVICE: " removed
// (the device is named elsewhere).
std::vector<std::string> Messages(const json& root) {
  const json* smartctl = Member(&root, "smartctl");
  const json* messages = Member(smartctl, "messages");
  std::string prefix;
  if (const json* argv = Member(smartctl, "argv"); argv != nullptr && argv->is_array() && !argv->empty())
    prefix = String(&argv->back()) + ": ";
  std::vector<std::string> errors, others;
  if (messages == nullptr || !messages->is_array()) return errors;
  for (const json& message : *messages) {
    std::string text = String(Member(&message, "string"));
    if (text.empty()) continue;
    if (prefix.size() > 2 && text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    (String(Member(&message, "severity")) == "error" ? errors : others).push_back(text);
  }
  errors.insert(errors.end(), others.begin(), others.end());
  return errors;
}

bool SaysNoSmart(const std::vector<std::string>& messages) {
  static const char* const kSigns[] = {"Unable to detect device type", "Unknown USB bridge",
                                       "Please specify device type", "lacks SMART capability",
                                       "SMART support is: Unavailable"};
  for (const std::string& message : messages)
    for (const char* sign : kSigns)
      if (message.find(sign) != std::string::npos) return true;
  return false;
}

std::string WithFirst(std::string why, const std::vector<std::string>& messages) {
  if (!messages.empty()) why += ": " + messages.front();
  return why;
}

void ReadAta(const json& root, SmartSnapshot& s) {
  const json* table = Member(Member(&root, "ata_smart_attributes"), "table");
  if (table == nullptr || !table->is_array()) return;
  for (const json& attribute : *table) {
    const std::optional<int64_t> id = Integer(Member(&attribute, "id"));
    if (!id) continue;
    const std::string name = String(Member(&attribute, "name"));
    if (String(Member(&attribute, "when_failed")) == "now")
      s.failingNow.push_back(name.empty() ? "attribute " + std::to_string(*id) : name);
    // The raw value is 48 bits whose layout the vendor chooses. For the
    // sector and error counts below it is the count itself. Attribute 188 on
    // many drives (Seagate among them) packs three 16-bit counts, the total
    // in the low word: raw 4295032833 is 0x0001'0001'0001, one timeout. A
    // real count never reaches 65536 on a drive still answering, so the low
    // word is the count on both kinds of drive. Power-on hours (9) and
    // temperature (194) pack minutes or min/max values too: those are taken
    // from smartctl's decoded power_on_time and temperature instead.
    std::optional<int64_t> raw = Integer(Member(Member(&attribute, "raw"), "value"));
    if (!raw) continue;
    std::optional<int64_t>* field = nullptr;
    switch (*id) {
      case 5:
        field = &s.reallocatedSectors;
        break;
      case 187:
        field = &s.reportedUncorrectable;
        break;
      case 188:
        field = &s.commandTimeouts;
        *raw &= 0xFFFF;
        break;
      case 197:
        field = &s.pendingSectors;
        break;
      case 198:
        field = &s.offlineUncorrectable;
        break;
      case 199:
        field = &s.udmaCrcErrors;
        break;
      default:
        break;
    }
    if (field != nullptr && !*field) *field = raw;
  }
}

void ReadNvme(const json& root, SmartSnapshot& s) {
  const json* log = Member(&root, "nvme_smart_health_information_log");
  if (log == nullptr) return;
  s.criticalWarning = Integer(Member(log, "critical_warning"));
  s.mediaErrors = Integer(Member(log, "media_errors"));
  s.errorLogEntries = Integer(Member(log, "num_err_log_entries"));
  s.availableSpare = Integer(Member(log, "available_spare"));
  s.availableSpareThreshold = Integer(Member(log, "available_spare_threshold"));
  s.percentageUsed = Integer(Member(log, "percentage_used"));
  // smartctl gives the log's temperature in Celsius already.
  if (!s.temperatureCelsius) s.temperatureCelsius = Integer(Member(log, "temperature"), true);
  if (!s.powerOnHours) s.powerOnHours = Integer(Member(log, "power_on_hours"));
}

void ReadScsi(const json& root, SmartSnapshot& s) {
  s.grownDefects = Integer(Member(&root, "scsi_grown_defect_list"));
  s.uncorrectedReadErrors =
      Integer(Member(Member(Member(&root, "scsi_error_counter_log"), "read"), "total_uncorrected_errors"));
}

bool HasReadings(const SmartSnapshot& s) {
  for (const Reading& r : kReadings)
    if (s.*r.field) return true;
  return false;
}

int DisplayWidth(const std::string& text) {
  int width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80;
  return width;
}

std::vector<std::string> ReadingItems(const SmartSnapshot& s) {
  std::vector<std::string> items;
  for (const Reading& r : kReadings) {
    const std::optional<int64_t>& value = s.*r.field;
    if (!value) continue;
    if (r.field == &SmartSnapshot::availableSpareThreshold && s.availableSpare) continue;  // shown with the spare
    std::string item = std::string(r.label) + " " + ValueText(*value, r.shown);
    if (r.field == &SmartSnapshot::availableSpare && s.availableSpareThreshold)
      item += " (threshold " + ValueText(*s.availableSpareThreshold, Shown::Percent) + ")";
    items.push_back(item);
  }
  return items;
}

void AppendWrapped(std::vector<std::string>& lines, const std::vector<std::string>& items, const std::string& joint) {
  constexpr int kWidth = 78;
  const std::string indent = "  ";
  std::string line;
  for (const std::string& item : items) {
    if (!line.empty() && DisplayWidth(line) + DisplayWidth(joint) + DisplayWidth(item) > kWidth) {
      lines.push_back(line + joint.substr(0, joint.find(' ')));
      line.clear();
    }
    line += line.empty() ? indent + item : joint + item;
  }
  if (!line.empty()) lines.push_back(line);
}

std::string EscapeLabel(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '"')
      out += "\\\"";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

}  // namespace

bool SmartSnapshot::Failing() const {
  return available && (health == SmartHealth::Failed || !failingNow.empty() || criticalWarning.value_or(0) != 0);
}

SmartSnapshot UnavailableSnapshot(SmartUnavailable reason, const std::string& why) {
  SmartSnapshot s;
  s.available = false;
  s.reason = reason;
  s.why = why;
  return s;
}

SmartSnapshot ParseSmartctlOutput(const std::string& text, std::optional<int> exitStatus) {
  const json root = json::parse(text, nullptr, false);
  if (root.is_discarded() || !root.is_object()) {
    SmartSnapshot s = UnavailableSnapshot(SmartUnavailable::Unparsable,
                                          text.empty() ? "smartctl printed nothing" : "smartctl's output is not JSON");
    if (exitStatus) {
      s.exitStatus = *exitStatus;
      s.why += " (exit status " + std::to_string(*exitStatus) + ")";
    }
    return s;
  }
  const int status = exitStatus
                         ? *exitStatus
                         : static_cast<int>(Integer(Member(Member(&root, "smartctl"), "exit_status")).value_or(0));
  const std::vector<std::string> messages = Messages(root);
  auto unavailable = [&](SmartUnavailable reason, const std::string& why) {
    SmartSnapshot s = UnavailableSnapshot(reason, WithFirst(why, messages));
    s.exitStatus = status;
    return s;
  };
  if (status & SmartctlExit::kNoData) {
    if (SaysNoSmart(messages)) return unavailable(SmartUnavailable::NoSmart, "no SMART for this device");
    if (status & SmartctlExit::kOpenFailed)
      return unavailable(SmartUnavailable::OpenFailed, "smartctl could not open the device");
    return unavailable(SmartUnavailable::CommandFailed,
                       "smartctl refused the command (exit status " + std::to_string(status) + ")");
  }

  SmartSnapshot s;
  s.exitStatus = status;
  s.partial = (status & SmartctlExit::kCommandFailed) != 0;
  const std::string protocol = String(Member(Member(&root, "device"), "protocol"));
  s.protocol = protocol == "ATA"    ? SmartProtocol::Ata
               : protocol == "NVMe" ? SmartProtocol::Nvme
               : protocol == "SCSI" ? SmartProtocol::Scsi
                                    : SmartProtocol::Unknown;
  s.model = String(Member(&root, "model_name"));
  if (s.model.empty()) {
    const std::string vendor = String(Member(&root, "vendor")), product = String(Member(&root, "product"));
    s.model = vendor.empty() ? product : product.empty() ? vendor : vendor + " " + product;
  }
  if (const json* passed = Member(Member(&root, "smart_status"), "passed"); passed != nullptr && passed->is_boolean())
    s.health = passed->get<bool>() ? SmartHealth::Passed : SmartHealth::Failed;
  if (status & SmartctlExit::kDiskFailing) s.health = SmartHealth::Failed;

  s.temperatureCelsius = Integer(Member(Member(&root, "temperature"), "current"), true);
  s.powerOnHours = Integer(Member(Member(&root, "power_on_time"), "hours"));
  ReadAta(root, s);
  ReadNvme(root, s);
  ReadScsi(root, s);

  if (s.health == SmartHealth::Unknown && !HasReadings(s)) {
    if (const json* support = Member(&root, "smart_support")) {
      if (const json* on = Member(support, "available"); on != nullptr && on->is_boolean() && !on->get<bool>())
        return unavailable(SmartUnavailable::NoSmart, "the device has no SMART");
      if (const json* on = Member(support, "enabled"); on != nullptr && on->is_boolean() && !on->get<bool>())
        return unavailable(SmartUnavailable::NoSmart, "SMART is disabled on the device");
    }
    if (SaysNoSmart(messages)) return unavailable(SmartUnavailable::NoSmart, "no SMART for this device");
    return unavailable(SmartUnavailable::CommandFailed,
                       s.partial ? "SMART commands failed" : "smartctl gave no SMART readings");
  }
  s.available = true;
  s.reason = SmartUnavailable::None;
  return s;
}

std::string SmartChange::Text() const { return label + " " + before + " \u2192 " + after + " during this scan"; }

std::vector<SmartChange> SmartChanges(const SmartSnapshot& before, const SmartSnapshot& after) {
  std::vector<SmartChange> changes;
  if (!before.available || !after.available) return changes;
  if (after.health == SmartHealth::Failed && before.health != SmartHealth::Failed)
    changes.push_back({"health", "SMART health", HealthShown(before.health), HealthShown(after.health), 0, 0});
  for (const Reading& r : kReadings) {
    const std::optional<int64_t>& was = before.*r.field;
    const std::optional<int64_t>& is = after.*r.field;
    if (!was || !is) continue;
    const bool worse = r.kind == Kind::Counter ? *is > *was : r.kind == Kind::Bits ? (*is & ~*was) != 0 : false;
    if (worse) changes.push_back({r.key, r.label, ValueText(*was, r.shown), ValueText(*is, r.shown), *was, *is});
  }
  return changes;
}

bool SmartCallsForWarning(const SmartSnapshot& before, const SmartSnapshot& after,
                          const std::vector<SmartChange>& changes) {
  const SmartSnapshot& latest = after.available ? after : before;
  return latest.Failing() || !changes.empty();
}

std::vector<std::string> SmartTextLines(const SmartSnapshot& s) {
  if (!s.available) return {"SMART: not available (" + s.why + ")"};
  std::string head = "SMART: ";
  head += s.health == SmartHealth::Passed ? "PASSED" : s.health == SmartHealth::Failed ? "FAILED" : "health unknown";
  std::string about = ProtocolName(s.protocol);
  if (!s.model.empty()) about += ", " + s.model;
  if (s.partial) about += ", partial data";
  std::vector<std::string> lines{head + " (" + about + ")"};
  AppendWrapped(lines, ReadingItems(s), ", ");

  std::vector<std::string> notes;
  if (!s.failingNow.empty()) {
    std::string names;
    for (const std::string& name : s.failingNow) names += (names.empty() ? "" : ", ") + name;
    notes.push_back("failing now: " + names);
  }
  if (s.exitStatus > 0) {
    if ((s.exitStatus & SmartctlExit::kPrefailBelow) && s.failingNow.empty())
      notes.push_back("a prefail attribute is at or below its threshold");
    if (s.exitStatus & SmartctlExit::kPastThreshold) notes.push_back("an attribute was at its threshold before");
    if (s.exitStatus & SmartctlExit::kErrorLog) notes.push_back("error log has entries");
    if (s.exitStatus & SmartctlExit::kSelfTestErrors) notes.push_back("self-test log has errors");
  }
  AppendWrapped(lines, notes, "; ");
  return lines;
}

std::vector<std::string> SmartSummaryLines(const SmartSnapshot& before, const SmartSnapshot& after,
                                           const std::vector<SmartChange>& changes) {
  std::vector<std::string> lines;
  if (after.available || !before.available) {
    lines = SmartTextLines(after);
  } else {
    lines.push_back("SMART after the scan: not available (" + after.why + "); before the scan:");
    for (const std::string& line : SmartTextLines(before)) lines.push_back("  " + line);
  }
  for (const SmartChange& change : changes) lines.push_back("  " + change.Text());
  if (changes.empty() && before.available && after.available)
    lines.push_back("  no SMART counter grew during this scan");
  return lines;
}

json SmartSnapshotJson(const SmartSnapshot& s) {
  json out = json::object();
  out["available"] = s.available;
  if (!s.available) {
    out["reason"] = ReasonKey(s.reason);
    out["message"] = s.why;
    if (s.exitStatus >= 0) out["smartctl_exit_status"] = s.exitStatus;
    return out;
  }
  out["protocol"] = ProtocolName(s.protocol);
  out["model"] = s.model;
  out["health"] = HealthKey(s.health);
  out["failing"] = s.Failing();
  out["partial"] = s.partial;
  out["smartctl_exit_status"] = s.exitStatus;
  out["failing_now"] = s.failingNow;
  for (const Reading& r : kReadings)
    if (const std::optional<int64_t>& value = s.*r.field) out[r.key] = *value;
  return out;
}

json SmartReportJson(const SmartSnapshot& before, const SmartSnapshot& after, const std::vector<SmartChange>& changes) {
  json list = json::array();
  for (const SmartChange& change : changes) {
    json item = {{"field", change.field}, {"text", change.Text()}};
    if (change.field == "health") {
      item["before"] = HealthKey(before.health);
      item["after"] = HealthKey(after.health);
    } else {
      item["before"] = change.beforeValue;
      item["after"] = change.afterValue;
    }
    list.push_back(std::move(item));
  }
  return {{"before", SmartSnapshotJson(before)}, {"after", SmartSnapshotJson(after)}, {"changes", std::move(list)}};
}

std::string SmartPrometheusText(const SmartSnapshot& s, const std::vector<SmartChange>& changes,
                                const std::string& device, const std::string& model) {
  const std::string labels = "{device=\"" + EscapeLabel(device) + "\",model=\"" + EscapeLabel(model) + "\"}";
  std::string out;
  auto metric = [&](const std::string& name, const char* help, int64_t value) {
    const std::string full = "morvek_scan_smart_" + name;
    out += "# HELP " + full + " " + help + "\n";
    out += "# TYPE " + full + " gauge\n";
    out += full + labels + " " + std::to_string(value) + "\n";
  };
  metric("available", "Whether smartctl gave SMART data for the device (1) or not (0).", s.available ? 1 : 0);
  if (s.available) {
    if (s.health != SmartHealth::Unknown)
      metric("health_passed", "SMART overall health: 1 passed, 0 failed.", s.health == SmartHealth::Passed ? 1 : 0);
    metric("failing", "The drive reports itself failing: health, an attribute failing now, a critical warning.",
           s.Failing() ? 1 : 0);
    for (const Reading& r : kReadings)
      if (const std::optional<int64_t>& value = s.*r.field) metric(r.key, r.help, *value);
  }
  metric("worse_during_scan", "SMART counters that grew (and health turned failed) during the last scan.",
         static_cast<int64_t>(changes.size()));
  return out;
}
