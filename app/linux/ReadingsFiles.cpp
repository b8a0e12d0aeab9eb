#include "app/linux/ReadingsFiles.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/Format.h"

std::string IsoUtc(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

nlohmann::json ReadingsJson(const ReadingsFacts& f) {
  using nlohmann::json;
  const RunResult& run = f.run;
  const ReadingsSnapshot& r = f.readings;
  json badBlocks = json::array();
  for (const BadBlock& b : r.badBlocks) badBlocks.push_back({{"sector", b.sector}, {"count", b.sectors}});
  json slowest = json::array();
  for (const SlowBlock& s : r.slowest)
    slowest.push_back({{"sector", s.sector}, {"ms", std::round(s.ms * 1000) / 1000}});
  json speed = json::array();
  for (const SpeedPoint& p : r.speed)
    speed.push_back({{"sector", p.sector}, {"mb_per_s", std::round(p.mbPerSecond * 10) / 10}});
  json limits = json::array();
  for (uint32_t l : kLatencyLimitsMs) limits.push_back(l);
  json counts = json::array();
  for (uint64_t c : r.counts) counts.push_back(c);

  json report = {
      {"format", "morvek-scan-report"},
      {"version", 1},
      {"program", {{"name", "morvek-scan"}, {"version", f.programVersion}}},
      {"device",
       {{"path", f.devicePath},
        {"model", f.model},
        {"size_bytes", f.sizeBytes},
        {"logical_sector_size", f.logicalSectorSize}}},
      {"disk", {{"slot", f.slot}, {"total_sectors", f.totalSectors}, {"cell_sectors", f.cellSectors}}},
      {"run",
       {{"started", IsoUtc(run.startedUtc)},
        {"ended", IsoUtc(run.endedUtc)},
        {"elapsed_seconds", static_cast<double>(run.elapsedMs) / 1000.0},
        {"first_sector", run.firstSector},
        {"next_sector", run.nextSector},
        {"blocks_read", r.blocks},
        {"stopped", run.stopped},
        {"disk_stopped_answering", run.diskGone}}},
      {"result", run.clean ? "clean" : "bad"},
      {"verdict",
       {{"level", f.verdict.level == Verdict::Level::kClean   ? "clean"
                  : f.verdict.level == Verdict::Level::kWatch ? "watch"
                                                              : "bad"},
        {"text", f.verdict.text}}},
      {"bad_blocks", badBlocks},
      {"latency", {{"limits_ms", limits}, {"counts", counts}, {"errors", r.errors}}},
      {"slowest", slowest},
      {"speed", speed},
  };
  if (run.diskGone) report["run"]["stopped_answering_at_sector"] = run.goneAtSector;
  if (f.readsInFlight != 0) report["run"]["reads_in_flight"] = f.readsInFlight;
  if (f.badSectors != nullptr) {
    report["bad_sectors"] = *f.badSectors;
    report["bad_sectors_complete"] = f.badSectorsComplete;
  }
  if (!f.smart.is_null()) report["smart"] = f.smart;
  const RunState& st = run.state;
  json stretches = json::array();
  for (const SpeedStretch& s : f.stretches) stretches.push_back(json::array({s.bytes, s.ns}));
  report["state"] = {
      {"first_sector", st.firstSector},
      {"end_sector", st.endSector},
      {"next_sector", st.nextSector},
      {"cell", st.cell},
      {"boundary", st.boundary},
      {"bad_count", st.badCount},
      {"cells", st.cells},
      {"scan_position", st.scanPosition},
      {"elapsed_ms", st.elapsedMs},
      {"blocks", r.blocks},
      {"latency_counts", counts},
      {"errors", r.errors},
      {"slow", r.slow},
      {"bytes_read", r.bytesRead},
      {"read_ns", r.readNs},
      {"stretches", stretches},
      {"device_size_bytes", f.sizeBytes},
      {"model", f.model},
      {"slot", f.slot},
  };
  return report;
}

namespace {

// A non-negative integer field, or false.
bool Unsigned(const nlohmann::json& object, const char* key, uint64_t& out) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_unsigned()) return false;
  out = it->get<uint64_t>();
  return true;
}

}  // namespace

bool ParseResumeData(const nlohmann::json& report, ResumeData& out, std::string& why) {
  why = "not a morvek-scan JSON report";
  // Every field's type is checked before it is read: nlohmann's value() and
  // get() throw on a type they did not expect, and a file from elsewhere
  // must be refused, not end the program.
  if (!report.is_object()) return false;
  const auto format = report.find("format");
  uint64_t version = 0;
  if (format == report.end() || !format->is_string() || format->get<std::string>() != "morvek-scan-report" ||
      !Unsigned(report, "version", version) || version != 1)
    return false;
  const auto state = report.find("state");
  if (state == report.end() || !state->is_object()) {
    why = "the report holds no state to go on from";
    return false;
  }
  RunState& st = out.state;
  uint64_t cell = 0, badCount = 0, slot = 0;
  why = "the report's state is damaged";
  if (!Unsigned(*state, "first_sector", st.firstSector) || !Unsigned(*state, "end_sector", st.endSector) ||
      !Unsigned(*state, "next_sector", st.nextSector) || !Unsigned(*state, "cell", cell) ||
      !Unsigned(*state, "boundary", st.boundary) || !Unsigned(*state, "bad_count", badCount) ||
      !Unsigned(*state, "scan_position", st.scanPosition) || !Unsigned(*state, "elapsed_ms", st.elapsedMs) ||
      !Unsigned(*state, "blocks", out.totals.blocks) || !Unsigned(*state, "errors", out.totals.errors) ||
      !Unsigned(*state, "slow", out.totals.slow) || !Unsigned(*state, "bytes_read", out.totals.bytesRead) ||
      !Unsigned(*state, "read_ns", out.totals.readNs) || !Unsigned(*state, "device_size_bytes", out.sizeBytes) ||
      !Unsigned(*state, "slot", slot))
    return false;
  if (cell > 1u << 30 || badCount > UINT32_MAX || slot > 3 || st.firstSector > st.nextSector ||
      st.nextSector > st.endSector || st.endSector > out.sizeBytes / 512)
    return false;
  st.cell = static_cast<int32_t>(cell);
  st.badCount = static_cast<uint32_t>(badCount);
  out.slot = static_cast<int>(slot);
  const auto cells = state->find("cells");
  const auto model = state->find("model");
  const auto counts = state->find("latency_counts");
  const auto stretches = state->find("stretches");
  if (cells == state->end() || !cells->is_string() || model == state->end() || !model->is_string() ||
      counts == state->end() || !counts->is_array() || counts->size() != kLatencyClasses || stretches == state->end() ||
      !stretches->is_array())
    return false;
  st.cells = cells->get<std::string>();
  if (st.cells.size() > 2484 || st.cells.find_first_not_of("GRU") != std::string::npos) return false;
  out.model = model->get<std::string>();
  for (size_t k = 0; k < kLatencyClasses; ++k) {
    if (!(*counts)[k].is_number_unsigned()) return false;
    out.totals.counts[k] = (*counts)[k].get<uint64_t>();
  }
  for (const auto& s : *stretches) {
    if (!s.is_array() || s.size() != 2 || !s[0].is_number_unsigned() || !s[1].is_number_unsigned()) return false;
    out.stretches.push_back({s[0].get<uint64_t>(), s[1].get<uint64_t>()});
  }
  const auto bad = report.find("bad_blocks");
  if (bad != report.end() && bad->is_array()) {
    for (const auto& b : *bad) {
      uint64_t sector = 0, count = 0;
      if (!b.is_object() || !Unsigned(b, "sector", sector) || !Unsigned(b, "count", count) || count > 128) return false;
      out.totals.badBlocks.push_back({sector, static_cast<uint32_t>(count)});
    }
  }
  // A run whose disk stopped answering goes on at the first of the failed
  // reads that told it so. Those reads were counted as failed blocks, red
  // cells and errors; they are read again when the run goes on, so they are
  // taken back here, or the blocks would count twice and the map would keep
  // red cells for sectors that read well.
  std::vector<BadBlock>& badBlocks = out.totals.badBlocks;
  const size_t listed = badBlocks.size();
  badBlocks.erase(std::remove_if(badBlocks.begin(), badBlocks.end(),
                                 [&st](const BadBlock& b) { return b.sector >= st.nextSector; }),
                  badBlocks.end());
  const uint64_t again = listed - badBlocks.size();
  if (again > 0) {
    uint64_t cellSectors = 0;
    const auto disk = report.find("disk");
    if (disk == report.end() || !disk->is_object() || !Unsigned(*disk, "cell_sectors", cellSectors) ||
        again > out.totals.errors || again > out.totals.blocks || again > st.badCount ||
        again > static_cast<uint64_t>(st.cell) || again * cellSectors > st.boundary)
      return false;
    out.totals.errors -= again;
    out.totals.blocks -= again;
    st.badCount -= static_cast<uint32_t>(again);
    st.cell -= static_cast<int32_t>(again);
    st.boundary -= again * cellSectors;
    if (st.cells.size() > static_cast<size_t>(st.cell)) st.cells.resize(static_cast<size_t>(st.cell));
  }
  const auto slowest = report.find("slowest");
  if (slowest != report.end() && slowest->is_array()) {
    for (const auto& b : *slowest) {
      uint64_t sector = 0;
      if (!b.is_object() || !Unsigned(b, "sector", sector) || !b.contains("ms") || !b["ms"].is_number()) return false;
      out.totals.slowest.push_back({sector, b["ms"].get<double>()});
    }
  }
  why.clear();
  return true;
}

namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A round step of about a fifth of `span`: 1, 2 or 5 times a power of ten.
double NiceStep(double span) {
  if (span <= 0) return 1;
  const double raw = span / 5;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * power) return m * power;
  return 10 * power;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, v == std::floor(v) ? "%.0f" : "%g", v);
  return text;
}

}  // namespace

std::string SpeedGraphSvg(const ReadingsFacts& f) {
  constexpr double kWidth = 900, kHeight = 420;
  constexpr double kLeft = 70, kRight = 20, kTop = 40, kBottom = 70;
  const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  const ReadingsSnapshot& r = f.readings;
  const double gb = 1024.0 * 1024 * 1024 / 512;  // sectors in a GB (2^30 bytes)
  const double endGb = std::max(static_cast<double>(f.sizeBytes) / 512 / gb, 1e-9);
  double maxSpeed = 0, minSpeed = 0;
  for (size_t i = 0; i < r.speed.size(); ++i) {
    const double s = r.speed[i].mbPerSecond;
    maxSpeed = std::max(maxSpeed, s);
    minSpeed = i == 0 ? s : std::min(minSpeed, s);
  }
  const double average =
      r.readNs ? static_cast<double>(r.bytesRead) / 1048576.0 / (static_cast<double>(r.readNs) / 1e9) : 0;
  const double yStep = NiceStep(maxSpeed > 0 ? maxSpeed : 1);
  const double yMax = std::ceil((maxSpeed > 0 ? maxSpeed : 1) / yStep) * yStep;
  const double xStep = NiceStep(endGb);
  auto x = [&](double g) { return kLeft + g / endGb * plotW; };
  auto y = [&](double s) { return kTop + plotH - s / yMax * plotH; };

  std::string svg;
  svg += StrFormat(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
      "font-family=\"sans-serif\" font-size=\"12\">\n",
      kWidth, kHeight, kWidth, kHeight);
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<title>" + Escape("Read speed of " + f.devicePath + (f.model.empty() ? "" : " (" + f.model + ")")) +
         "</title>\n";
  svg += StrFormat("<text x=\"%.0f\" y=\"22\" font-size=\"14\">%s</text>\n", kLeft,
                   Escape("Read speed along " + f.devicePath + (f.model.empty() ? "" : ", " + f.model)).c_str());
  // Grid and ticks.
  svg += "<g stroke=\"#cccccc\" stroke-width=\"1\">\n";
  for (double s = 0; s <= yMax + yStep / 2; s += yStep)
    svg += StrFormat("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", kLeft, y(s), kLeft + plotW, y(s));
  for (double g = 0; g <= endGb + xStep / 2; g += xStep)
    svg += StrFormat("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", x(g), kTop, x(g), kTop + plotH);
  svg += "</g>\n<g>\n";
  for (double s = 0; s <= yMax + yStep / 2; s += yStep)
    svg += StrFormat("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n", kLeft - 6, y(s) + 4,
                     Number(s).c_str());
  for (double g = 0; g <= endGb + xStep / 2; g += xStep)
    svg += StrFormat("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n", x(g), kTop + plotH + 16,
                     Number(g).c_str());
  svg += "</g>\n";
  svg += StrFormat("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n", kLeft, kTop + plotH,
                   kLeft + plotW, kTop + plotH);
  svg += StrFormat("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"black\"/>\n", kLeft, kTop, kLeft,
                   kTop + plotH);
  svg += StrFormat("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">position (GB)</text>\n", kLeft + plotW / 2,
                   kTop + plotH + 34);
  svg += StrFormat("<text transform=\"translate(18 %.1f) rotate(-90)\" text-anchor=\"middle\">speed (MB/s)</text>\n",
                   kTop + plotH / 2);
  // The curve.
  std::string points;
  for (const SpeedPoint& p : r.speed)
    points += StrFormat("%.1f,%.1f ", x(static_cast<double>(p.sector) / gb), y(p.mbPerSecond));
  svg += "<polyline id=\"speed\" fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1.5\" points=\"" + points + "\"/>\n";
  // Failed blocks where they are.
  svg += "<g id=\"failed\" stroke=\"#ff6542\" stroke-width=\"1\">\n";
  for (const BadBlock& b : r.badBlocks) {
    const double bx = x(static_cast<double>(b.sector) / gb);
    svg += StrFormat(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"><title>failed read at sector %llu</title></line>\n", bx,
        kTop, bx, kTop + plotH, static_cast<unsigned long long>(b.sector));
  }
  svg += "</g>\n";
  svg += StrFormat("<text x=\"%.0f\" y=\"%.0f\">%s</text>\n", kLeft, kHeight - 12,
                   Escape(StrFormat("min %.1f MB/s, average %.1f MB/s, max %.1f MB/s; %llu failed read%s (red)",
                                    minSpeed, average, maxSpeed, static_cast<unsigned long long>(r.badBlocks.size()),
                                    r.badBlocks.size() == 1 ? "" : "s"))
                       .c_str());
  svg += "</svg>\n";
  return svg;
}

namespace {
std::string Label(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}
}  // namespace

std::string PrometheusText(const ReadingsFacts& f) {
  const std::string labels = "device=\"" + Label(f.devicePath) + "\",model=\"" + Label(f.model) + "\"";
  const ReadingsSnapshot& r = f.readings;
  std::string text;
  auto metric = [&](const char* name, const char* help, const char* type, const std::string& lines) {
    text += StrFormat("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type) + lines;
  };
  auto line = [&](const char* name, const std::string& extra, double value) {
    return StrFormat("%s{%s%s} %s\n", name, labels.c_str(), extra.c_str(), Number(value).c_str());
  };
  metric("morvek_scan_bad_blocks", "Failed 64 KB reads in the last scan.", "gauge",
         line("morvek_scan_bad_blocks", "", static_cast<double>(r.errors)));
  static const char* const kClass[kLatencyClasses] = {"0-5ms", "5-20ms", "20-50ms", "50-200ms", "200-600ms", "600ms+"};
  std::string classes;
  for (size_t k = 0; k < kLatencyClasses; ++k)
    classes +=
        line("morvek_scan_blocks", std::string(",class=\"") + kClass[k] + "\"", static_cast<double>(r.counts[k]));
  metric("morvek_scan_blocks", "Blocks read in the last scan, by read time.", "gauge", classes);
  metric("morvek_scan_slow_blocks", "Blocks of the last scan that took 200 ms or more.", "gauge",
         line("morvek_scan_slow_blocks", "", static_cast<double>(r.slow)));
  const double throughput = r.readNs ? static_cast<double>(r.bytesRead) / (static_cast<double>(r.readNs) / 1e9) : 0;
  metric("morvek_scan_throughput_bytes_per_second", "Average read speed of the last scan.", "gauge",
         line("morvek_scan_throughput_bytes_per_second", "", std::round(throughput)));
  metric("morvek_scan_last_run_end_timestamp_seconds", "When the last scan ended (Unix time).", "gauge",
         line("morvek_scan_last_run_end_timestamp_seconds", "", static_cast<double>(f.run.endedUtc)));
  metric("morvek_scan_result_bad", "1 when a read of the last scan failed, else 0.", "gauge",
         line("morvek_scan_result_bad", "", f.run.clean ? 0 : 1));
  metric("morvek_scan_stopped", "1 when the last scan was stopped before the end, else 0.", "gauge",
         line("morvek_scan_stopped", "", f.run.stopped ? 1 : 0));
  return text;
}
