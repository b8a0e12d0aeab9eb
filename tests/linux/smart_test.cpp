// SMART readings from real smartctl JSON outputs (tests/data/smartctl): what
// each protocol reports, what smartctl's exit status means, what got worse
// between two snapshots, and how it is shown.
#include "app/linux/Smart.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

using nlohmann::json;

namespace {

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(MORVEK_TEST_DATA) + "/smartctl/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

json FixtureJson(const std::string& name) { return json::parse(Fixture(name)); }

// The exit status smartctl wrote into the sample is the one it exited with.
SmartSnapshot Sample(const std::string& name) { return ParseSmartctlOutput(Fixture(name)); }

json& Attribute(json& root, int id) {
  for (json& attribute : root["ata_smart_attributes"]["table"])
    if (attribute["id"] == id) return attribute;
  ADD_FAILURE() << "no attribute " << id;
  static json none;
  return none;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

int DisplayWidth(const std::string& text) {
  int width = 0;
  for (unsigned char c : text) width += (c & 0xC0) != 0x80;
  return width;
}

// "pending sectors 0 → 3": the healthy 14 TB drive after a scan that made
// three sectors pending.
SmartSnapshot HealthyAtaWithPending(int64_t pending) {
  json root = FixtureJson("ata-healthy-14tb.json");
  Attribute(root, 197)["raw"]["value"] = pending;
  return ParseSmartctlOutput(root.dump());
}

}  // namespace

TEST(SmartParse, HealthyAtaDriveReportsItsCountersAndOnlyThose) {
  const SmartSnapshot s = Sample("ata-healthy-14tb.json");
  ASSERT_TRUE(s.available) << s.why;
  EXPECT_EQ(s.protocol, SmartProtocol::Ata);
  EXPECT_EQ(s.model, "WDC WD140EDFZ-11A0VA0");
  EXPECT_EQ(s.health, SmartHealth::Passed);
  EXPECT_EQ(s.reallocatedSectors, 0);
  EXPECT_EQ(s.pendingSectors, 0);
  EXPECT_EQ(s.offlineUncorrectable, 0);
  // This drive has no attributes 187 and 188: absent, not zero.
  EXPECT_FALSE(s.reportedUncorrectable.has_value());
  EXPECT_FALSE(s.commandTimeouts.has_value());
  EXPECT_EQ(s.powerOnHours, 1730);
  // smartctl's decoded temperature, not attribute 194's packed raw value.
  EXPECT_EQ(s.temperatureCelsius, 32);
}

TEST(SmartParse, FailingAtaDriveBehindUsbBridgeCallsForAWarning) {
  const SmartSnapshot s = Sample("ata-failing-usb-jmicron.json");
  ASSERT_TRUE(s.available) << s.why;
  EXPECT_EQ(s.exitStatus, 216);
  EXPECT_EQ(s.health, SmartHealth::Failed);
  EXPECT_EQ(s.reallocatedSectors, 1975);
  EXPECT_EQ(s.pendingSectors, 8);
  EXPECT_EQ(s.failingNow, std::vector<std::string>{"Reallocated_Sector_Ct"});
  EXPECT_TRUE(s.Failing());
  // Failing before and after, nothing grew: still a warning.
  EXPECT_TRUE(SmartCallsForWarning(s, s, SmartChanges(s, s)));

  const std::string text = Joined(SmartTextLines(s));
  EXPECT_EQ(SmartTextLines(s).front(), "SMART: FAILED (ATA, Hitachi HDS721050DLE630)");
  EXPECT_NE(text.find("reallocated sectors 1975"), std::string::npos) << text;
  EXPECT_NE(text.find("failing now: Reallocated_Sector_Ct"), std::string::npos) << text;
  EXPECT_NE(text.find("error log has entries"), std::string::npos) << text;
  EXPECT_NE(text.find("self-test log has errors"), std::string::npos) << text;
  for (const std::string& line : SmartTextLines(s)) EXPECT_LE(DisplayWidth(line), 80) << line;
}

TEST(SmartParse, NvmeHealthLog) {
  const SmartSnapshot healthy = Sample("nvme-healthy.json");
  ASSERT_TRUE(healthy.available) << healthy.why;
  EXPECT_EQ(healthy.protocol, SmartProtocol::Nvme);
  EXPECT_EQ(healthy.health, SmartHealth::Passed);
  EXPECT_EQ(healthy.criticalWarning, 0);
  EXPECT_EQ(healthy.mediaErrors, 0);
  EXPECT_EQ(healthy.availableSpare, 100);
  EXPECT_EQ(healthy.availableSpareThreshold, 10);
  EXPECT_EQ(healthy.temperatureCelsius, 36);
  EXPECT_FALSE(healthy.reallocatedSectors.has_value());
  EXPECT_FALSE(healthy.Failing());

  const SmartSnapshot worn = Sample("nvme-media-errors.json");
  ASSERT_TRUE(worn.available) << worn.why;
  EXPECT_EQ(worn.mediaErrors, 7);
  EXPECT_EQ(worn.errorLogEntries, 62);
  // Media errors from before the scan are shown, but the drive itself still
  // says "passed": no warning unless they grow.
  EXPECT_EQ(worn.health, SmartHealth::Passed);
  EXPECT_FALSE(SmartCallsForWarning(worn, worn, SmartChanges(worn, worn)));
  const std::string text = Joined(SmartTextLines(worn));
  EXPECT_NE(text.find("media errors 7"), std::string::npos) << text;
  EXPECT_NE(text.find("error log entries 62"), std::string::npos) << text;
  EXPECT_NE(text.find("available spare 99 % (threshold 10 %)"), std::string::npos) << text;
  EXPECT_EQ(text.find("spare threshold"), std::string::npos) << text;
}

TEST(SmartParse, SasDriveGrownDefects) {
  // This sample holds no "smartctl" object, so no exit status: taken as 0.
  const SmartSnapshot s = Sample("scsi-sas-grown-defects.json");
  ASSERT_TRUE(s.available) << s.why;
  EXPECT_EQ(s.protocol, SmartProtocol::Scsi);
  EXPECT_EQ(s.model, "SEAGATE ST4000NM0043");
  EXPECT_EQ(s.health, SmartHealth::Passed);
  EXPECT_EQ(s.grownDefects, 56);
  EXPECT_EQ(s.uncorrectedReadErrors, 0);
  EXPECT_EQ(s.temperatureCelsius, 34);
  EXPECT_NE(Joined(SmartTextLines(s)).find("grown defects 56"), std::string::npos);
}

TEST(SmartParse, RawValuesThatPackSeveralNumbers) {
  json root = FixtureJson("ata-healthy-14tb.json");
  // Attribute 188 as many drives report it: three 16-bit counts in one raw
  // value, 0x0001'0001'0001: one timeout.
  root["ata_smart_attributes"]["table"].push_back(
      {{"id", 188}, {"name", "Command_Timeout"}, {"raw", {{"value", 4295032833LL}, {"string", "1 1 1"}}}});
  // Without smartctl's decoded temperature, attribute 194's packed raw value
  // (current, min and max) must not stand in for it.
  root.erase("temperature");
  const SmartSnapshot s = ParseSmartctlOutput(root.dump());
  EXPECT_EQ(s.commandTimeouts, 1);
  EXPECT_FALSE(s.temperatureCelsius.has_value());
}

TEST(SmartParse, ValuesOfTheWrongTypeAreAbsentNotGuessed) {
  json root = FixtureJson("ata-healthy-14tb.json");
  Attribute(root, 5)["raw"]["value"] = "12";
  Attribute(root, 197)["raw"]["value"] = -1;
  root["power_on_time"]["hours"] = 17.5;
  root["smart_status"]["passed"] = "yes";
  const SmartSnapshot s = ParseSmartctlOutput(root.dump());
  ASSERT_TRUE(s.available);
  EXPECT_FALSE(s.reallocatedSectors.has_value());
  EXPECT_FALSE(s.pendingSectors.has_value());
  EXPECT_FALSE(s.powerOnHours.has_value());
  EXPECT_EQ(s.health, SmartHealth::Unknown);
  EXPECT_EQ(s.udmaCrcErrors, 0);
}

TEST(SmartExitStatus, NoDataBitsMakeTheSnapshotUnavailable) {
  // What Debian's smartctl prints for a loop device or an image file.
  const std::string loop =
      R"({"json_format_version":[1,0],"smartctl":{"version":[7,3],"argv":["smartctl","-a","--json=c","/dev/loop3"],)"
      R"("messages":[{"string":"/dev/loop3: Unable to detect device type","severity":"error"}],"exit_status":1}})";
  const SmartSnapshot none = ParseSmartctlOutput(loop, 1);
  EXPECT_FALSE(none.available);
  EXPECT_EQ(none.reason, SmartUnavailable::NoSmart);
  EXPECT_EQ(none.why, "no SMART for this device: Unable to detect device type");
  EXPECT_EQ(SmartTextLines(none),
            std::vector<std::string>{"SMART: not available (no SMART for this device: Unable to detect device type)"});

  const std::string denied =
      R"({"smartctl":{"argv":["smartctl","-a","--json=c","/dev/sdb"],"messages":[)"
      R"({"string":"Smartctl open device: /dev/sdb failed: Permission denied","severity":"error"}]}})";
  const SmartSnapshot closed = ParseSmartctlOutput(denied, 2);
  EXPECT_EQ(closed.reason, SmartUnavailable::OpenFailed);
  EXPECT_NE(closed.why.find("Permission denied"), std::string::npos) << closed.why;

  // Bits 0-1 mean no data even if the JSON looked complete.
  for (int status : {1, 2, 3, 2 | 8}) {
    const SmartSnapshot s = ParseSmartctlOutput(Fixture("ata-healthy-14tb.json"), status);
    EXPECT_FALSE(s.available) << status;
    EXPECT_EQ(s.exitStatus, status);
  }
}

TEST(SmartExitStatus, DiskBitsComeWithCompleteData) {
  const std::string healthy = Fixture("ata-healthy-14tb.json");
  // Bit 6 alone (error log entries): data complete, health as reported.
  const SmartSnapshot logged = ParseSmartctlOutput(healthy, 64);
  ASSERT_TRUE(logged.available);
  EXPECT_FALSE(logged.partial);
  EXPECT_EQ(logged.health, SmartHealth::Passed);
  EXPECT_NE(Joined(SmartTextLines(logged)).find("error log has entries"), std::string::npos);

  // Bit 3 says failing even where smart_status is missing.
  json root = json::parse(healthy);
  root.erase("smart_status");
  EXPECT_EQ(ParseSmartctlOutput(root.dump(), 0).health, SmartHealth::Unknown);
  EXPECT_TRUE(ParseSmartctlOutput(root.dump(), 0).available);
  const SmartSnapshot failing = ParseSmartctlOutput(root.dump(), 8);
  EXPECT_EQ(failing.health, SmartHealth::Failed);
  EXPECT_TRUE(failing.Failing());

  // The process's exit status wins over the one written into the JSON.
  EXPECT_EQ(ParseSmartctlOutput(Fixture("ata-failing-usb-jmicron.json"), 0).exitStatus, 0);
}

TEST(SmartExitStatus, PartialAndEmptyOutput) {
  const SmartSnapshot empty = ParseSmartctlOutput("", 0);
  EXPECT_FALSE(empty.available);
  EXPECT_EQ(empty.reason, SmartUnavailable::Unparsable);

  const std::string healthy = Fixture("ata-healthy-14tb.json");
  const SmartSnapshot cut = ParseSmartctlOutput(healthy.substr(0, healthy.size() / 2), 0);
  EXPECT_EQ(cut.reason, SmartUnavailable::Unparsable);
  EXPECT_EQ(ParseSmartctlOutput("Usage: smartctl [options] device\n", 1).reason, SmartUnavailable::Unparsable);

  // Valid JSON without a single reading.
  EXPECT_EQ(ParseSmartctlOutput("{}", 0).reason, SmartUnavailable::CommandFailed);
  // Debian's smartctl forced to treat an image file as SAT: exit 4 and an
  // empty identity.
  const std::string satImage =
      R"({"smartctl":{"argv":["smartctl","-a","--json=c","-d","sat","/tmp/x.img"],"exit_status":4},)"
      R"("device":{"name":"/tmp/x.img","type":"sat","protocol":"ATA"},"model_name":"","serial_number":""})";
  const SmartSnapshot failed = ParseSmartctlOutput(satImage, 4);
  EXPECT_FALSE(failed.available);
  EXPECT_EQ(failed.reason, SmartUnavailable::CommandFailed);

  // Bit 2 with readings: what there is, marked partial.
  json root = json::parse(healthy);
  root.erase("ata_smart_attributes");
  const SmartSnapshot partial = ParseSmartctlOutput(root.dump(), 4);
  ASSERT_TRUE(partial.available);
  EXPECT_TRUE(partial.partial);
  EXPECT_FALSE(partial.pendingSectors.has_value());
  EXPECT_EQ(partial.temperatureCelsius, 32);
  EXPECT_EQ(SmartTextLines(partial).front(), "SMART: PASSED (ATA, WDC WD140EDFZ-11A0VA0, partial data)");

  // A drive whose SMART is switched off.
  json off = {{"device", {{"protocol", "ATA"}}}, {"smart_support", {{"available", true}, {"enabled", false}}}};
  const SmartSnapshot disabled = ParseSmartctlOutput(off.dump(), 4);
  EXPECT_EQ(disabled.reason, SmartUnavailable::NoSmart);
  EXPECT_NE(disabled.why.find("disabled"), std::string::npos);
}

TEST(SmartChanges, PendingSectorsRaisedDuringTheScan) {
  const SmartSnapshot before = Sample("ata-healthy-14tb.json");
  const SmartSnapshot after = HealthyAtaWithPending(3);
  const std::vector<SmartChange> changes = SmartChanges(before, after);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].field, "pending_sectors");
  EXPECT_EQ(changes[0].Text(), "pending sectors 0 \u2192 3 during this scan");
  EXPECT_TRUE(SmartCallsForWarning(before, after, changes));

  const std::vector<std::string> summary = SmartSummaryLines(before, after, changes);
  EXPECT_EQ(summary.front(), "SMART: PASSED (ATA, WDC WD140EDFZ-11A0VA0)");
  EXPECT_EQ(summary.back(), "  pending sectors 0 \u2192 3 during this scan");

  // The reverse (pending sectors resolved) is no worsening.
  EXPECT_TRUE(SmartChanges(after, before).empty());
  EXPECT_FALSE(SmartCallsForWarning(after, before, {}));
}

TEST(SmartChanges, NothingGrew) {
  const SmartSnapshot s = Sample("ata-healthy-14tb.json");
  const std::vector<SmartChange> changes = SmartChanges(s, s);
  EXPECT_TRUE(changes.empty());
  EXPECT_FALSE(SmartCallsForWarning(s, s, changes));
  EXPECT_EQ(SmartSummaryLines(s, s, changes).back(), "  no SMART counter grew during this scan");
}

TEST(SmartChanges, HealthTurningFailedAndNvmeCounters) {
  const SmartSnapshot before = Sample("nvme-media-errors.json");
  json root = FixtureJson("nvme-media-errors.json");
  root["smart_status"]["passed"] = false;
  root["nvme_smart_health_information_log"]["critical_warning"] = 4;
  root["nvme_smart_health_information_log"]["media_errors"] = 9;
  root["nvme_smart_health_information_log"]["percentage_used"] = 4;  // a state, not a count
  const SmartSnapshot after = ParseSmartctlOutput(root.dump(), 8);
  const std::vector<SmartChange> changes = SmartChanges(before, after);
  std::vector<std::string> texts;
  for (const SmartChange& change : changes) texts.push_back(change.Text());
  EXPECT_EQ(texts, (std::vector<std::string>{"SMART health passed \u2192 FAILED during this scan",
                                             "critical warning 0x00 \u2192 0x04 during this scan",
                                             "media errors 7 \u2192 9 during this scan"}));

  const json report = SmartReportJson(before, after, changes);
  EXPECT_EQ(report["changes"][0]["field"], "health");
  EXPECT_EQ(report["changes"][0]["before"], "passed");
  EXPECT_EQ(report["changes"][0]["after"], "failed");
  EXPECT_EQ(report["changes"][2]["before"], 7);
  EXPECT_EQ(report["changes"][2]["after"], 9);
}

TEST(SmartChanges, OnlyBetweenReadingsPresentInBoth) {
  const SmartSnapshot after = HealthyAtaWithPending(3);
  json root = FixtureJson("ata-healthy-14tb.json");
  for (json& attribute : root["ata_smart_attributes"]["table"])
    if (attribute["id"] == 197) attribute["id"] = 250;
  const SmartSnapshot withoutPending = ParseSmartctlOutput(root.dump());
  ASSERT_FALSE(withoutPending.pendingSectors.has_value());
  // Absent before is not 0 before.
  EXPECT_TRUE(SmartChanges(withoutPending, after).empty());

  // No snapshot before the scan: no changes, and only the drive's own
  // failing state counts.
  const SmartSnapshot missing = UnavailableSnapshot(SmartUnavailable::TimedOut, "smartctl did not finish within 30 s");
  EXPECT_TRUE(SmartChanges(missing, after).empty());
  EXPECT_FALSE(SmartCallsForWarning(missing, after, {}));
  const SmartSnapshot failing = Sample("ata-failing-usb-jmicron.json");
  EXPECT_TRUE(SmartCallsForWarning(missing, failing, {}));
  // Nor after it: the one from before still tells.
  EXPECT_TRUE(SmartCallsForWarning(failing, missing, {}));
  const std::vector<std::string> summary = SmartSummaryLines(failing, missing, {});
  EXPECT_EQ(summary.front(),
            "SMART after the scan: not available (smartctl did not finish within 30 s); before the scan:");
  EXPECT_EQ(summary[1], "  SMART: FAILED (ATA, Hitachi HDS721050DLE630)");
}

TEST(SmartReport, JsonHoldsTheReadingsPresentAndNothingElse) {
  const SmartSnapshot before = Sample("ata-healthy-14tb.json");
  const SmartSnapshot after = HealthyAtaWithPending(3);
  const json report = SmartReportJson(before, after, SmartChanges(before, after));
  ASSERT_TRUE(report.contains("before") && report.contains("after") && report.contains("changes"));
  const json& a = report["after"];
  EXPECT_EQ(a["available"], true);
  EXPECT_EQ(a["protocol"], "ATA");
  EXPECT_EQ(a["health"], "passed");
  EXPECT_EQ(a["pending_sectors"], 3);
  EXPECT_EQ(report["before"]["pending_sectors"], 0);
  EXPECT_FALSE(a.contains("reported_uncorrectable"));
  EXPECT_FALSE(a.contains("ata_smart_attributes"));
  ASSERT_EQ(report["changes"].size(), 1u);
  EXPECT_EQ(report["changes"][0]["before"], 0);
  EXPECT_EQ(report["changes"][0]["after"], 3);
  // It survives a round trip as UTF-8 text (the arrow in "text").
  EXPECT_EQ(json::parse(report.dump()), report);

  const json none = SmartSnapshotJson(UnavailableSnapshot(SmartUnavailable::NotInstalled, "smartctl not found"));
  EXPECT_EQ(none, (json{{"available", false}, {"reason", "not_installed"}, {"message", "smartctl not found"}}));
}

TEST(SmartReport, PrometheusLines) {
  const SmartSnapshot after = HealthyAtaWithPending(3);
  const SmartSnapshot before = Sample("ata-healthy-14tb.json");
  const std::string text = SmartPrometheusText(after, SmartChanges(before, after), "/dev/sdb", "WDC \"14TB\" \\ drive");
  std::istringstream in(text);
  std::string line;
  std::set<std::string> helped, typed;
  std::map<std::string, std::string> samples;
  const std::regex sample(
      R"re(^(morvek_scan_smart_[a-z_]+)\{device="/dev/sdb",model="WDC \\"14TB\\" \\\\ drive"\} (-?[0-9]+)$)re");
  while (std::getline(in, line)) {
    std::smatch m;
    if (line.rfind("# HELP ", 0) == 0) {
      EXPECT_TRUE(helped.insert(line.substr(7, line.find(' ', 7) - 7)).second) << line;
    } else if (line.rfind("# TYPE ", 0) == 0) {
      EXPECT_TRUE(typed.insert(line.substr(7, line.find(' ', 7) - 7)).second) << line;
      EXPECT_EQ(line.substr(line.rfind(' ') + 1), "gauge");
    } else if (std::regex_match(line, m, sample)) {
      EXPECT_TRUE(helped.count(m[1]) && typed.count(m[1])) << "no HELP/TYPE before " << line;
      samples[m[1]] = m[2];
    } else {
      ADD_FAILURE() << "not a Prometheus line: " << line;
    }
  }
  EXPECT_EQ(samples["morvek_scan_smart_available"], "1");
  EXPECT_EQ(samples["morvek_scan_smart_health_passed"], "1");
  EXPECT_EQ(samples["morvek_scan_smart_pending_sectors"], "3");
  EXPECT_EQ(samples["morvek_scan_smart_reallocated_sectors"], "0");
  EXPECT_EQ(samples["morvek_scan_smart_worse_during_scan"], "1");
  EXPECT_EQ(samples.count("morvek_scan_smart_media_errors"), 0u);

  const std::string none =
      SmartPrometheusText(UnavailableSnapshot(SmartUnavailable::NoSmart, "x"), {}, "/dev/loop0", "");
  EXPECT_NE(none.find("morvek_scan_smart_available{device=\"/dev/loop0\",model=\"\"} 0\n"), std::string::npos);
  EXPECT_EQ(none.find("health_passed"), std::string::npos);
}
