// The readings as files: the JSON report, the speed graph and the
// Prometheus text.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "app/linux/ReadingsFiles.h"

namespace {

constexpr uint64_t kMs = 1000000;

// A stopped run over the end of a 16 TB disk, past 2^32 sectors.
ReadingsFacts StoppedRunPastTwoToTheThirtyTwo() {
  ReadingsFacts f;
  f.programVersion = "1.1.20071201";
  f.devicePath = "/dev/sdb";
  f.model = "WDC \"Ultra\" 16T";
  f.sizeBytes = 16000000000000;
  f.logicalSectorSize = 4096;
  f.slot = 1;
  f.totalSectors = 31249991430;
  f.cellSectors = 12580511;
  f.run.clean = false;
  f.run.badCount = 1;
  f.run.stopped = true;
  f.run.firstSector = 31187088768;
  f.run.nextSector = 31187089408;
  f.run.startedUtc = 1796515200;  // 2026-12-06T00:00:00Z
  f.run.endedUtc = 1796515200 + 3725;
  f.run.elapsedMs = 3725500;
  ScanReadings readings(f.run.firstSector, 31250000000);
  readings.Block(31187088768, 128, true, 2 * kMs, 2479);
  readings.Block(31187088896, 128, false, 30 * kMs, 2479);
  readings.Block(31187089024, 128, true, 450 * kMs, 2479);
  readings.Block(31187089152, 128, true, 3 * kMs, 2479);
  readings.Block(31187089280, 128, true, 700 * kMs, 2479);
  f.readings = readings.Snapshot();
  f.verdict = JudgeDisk(1, 2);
  return f;
}

TEST(ReadingsJsonReport, AStoppedRunPastTwoToTheThirtyTwoSectors) {
  const ReadingsFacts f = StoppedRunPastTwoToTheThirtyTwo();
  // Through text and back: what a script reading the file gets.
  const nlohmann::json j = nlohmann::json::parse(ReadingsJson(f).dump(2));
  EXPECT_EQ(j["format"], "morvek-scan-report");
  EXPECT_EQ(j["version"], 1);
  EXPECT_EQ(j["program"]["version"], "1.1.20071201");
  EXPECT_EQ(j["device"]["model"], "WDC \"Ultra\" 16T");
  EXPECT_EQ(j["device"]["size_bytes"].get<uint64_t>(), 16000000000000u);
  EXPECT_EQ(j["device"]["logical_sector_size"], 4096);
  EXPECT_EQ(j["disk"]["total_sectors"].get<uint64_t>(), 31249991430u);  // a 64-bit integer, not a double
  EXPECT_TRUE(j["disk"]["total_sectors"].is_number_unsigned());
  EXPECT_EQ(j["run"]["started"], "2026-12-06T00:00:00Z");
  EXPECT_EQ(j["run"]["ended"], "2026-12-06T01:02:05Z");
  EXPECT_DOUBLE_EQ(j["run"]["elapsed_seconds"].get<double>(), 3725.5);
  EXPECT_EQ(j["run"]["first_sector"].get<uint64_t>(), 31187088768u);
  EXPECT_EQ(j["run"]["next_sector"].get<uint64_t>(), 31187089408u);
  EXPECT_EQ(j["run"]["stopped"], true);
  EXPECT_EQ(j["result"], "bad");
  EXPECT_EQ(j["verdict"]["level"], "bad");
  EXPECT_EQ(j["bad_blocks"], nlohmann::json::parse(R"([{"sector": 31187088896, "count": 128}])"));
  EXPECT_EQ(j["latency"]["limits_ms"], nlohmann::json::parse("[5, 20, 50, 200, 600]"));
  EXPECT_EQ(j["latency"]["counts"], nlohmann::json::parse("[2, 0, 0, 0, 1, 1]"));
  EXPECT_EQ(j["latency"]["errors"], 1);
  // sum(counts) + errors == blocks_read
  uint64_t sum = j["latency"]["errors"];
  for (const auto& c : j["latency"]["counts"]) sum += c.get<uint64_t>();
  EXPECT_EQ(sum, j["run"]["blocks_read"].get<uint64_t>());
  ASSERT_EQ(j["slowest"].size(), 4u);
  EXPECT_EQ(j["slowest"][0]["sector"].get<uint64_t>(), 31187089280u);
  EXPECT_EQ(j["slowest"][0]["ms"], 700.0);
  EXPECT_FALSE(j["speed"].empty());
  EXPECT_FALSE(j.contains("smart"));
}

TEST(ReadingsSpeedGraph, AxesCurveCaptionAndFailedBlocks) {
  const std::string svg = SpeedGraphSvg(StoppedRunPastTwoToTheThirtyTwo());
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
  EXPECT_NE(svg.find("position (GB)"), std::string::npos);
  EXPECT_NE(svg.find("speed (MB/s)"), std::string::npos);
  EXPECT_NE(svg.find("<polyline id=\"speed\""), std::string::npos);
  EXPECT_NE(svg.find("failed read at sector 31187088896"), std::string::npos);
  EXPECT_NE(svg.find("min "), std::string::npos);
  // Text from the device is escaped.
  EXPECT_NE(svg.find("WDC &quot;Ultra&quot; 16T"), std::string::npos);
  EXPECT_EQ(svg.find("\"Ultra\""), std::string::npos);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

TEST(ReadingsPrometheus, TheTextfileCollectorsFormat) {
  const std::string text = PrometheusText(StoppedRunPastTwoToTheThirtyTwo());
  const std::string labels = R"({device="/dev/sdb",model="WDC \"Ultra\" 16T")";
  EXPECT_NE(text.find("# TYPE morvek_scan_bad_blocks gauge\nmorvek_scan_bad_blocks" + labels + "} 1\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("morvek_scan_blocks" + labels + ",class=\"200-600ms\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("morvek_scan_slow_blocks" + labels + "} 2\n"), std::string::npos);
  EXPECT_NE(text.find("morvek_scan_last_run_end_timestamp_seconds" + labels + "} 1796518925\n"), std::string::npos);
  EXPECT_NE(text.find("morvek_scan_result_bad" + labels + "} 1\n"), std::string::npos);
  EXPECT_NE(text.find("morvek_scan_stopped" + labels + "} 1\n"), std::string::npos);
  // Every line is a comment or NAME{LABELS} VALUE.
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    EXPECT_TRUE(line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0 ||
                (line.rfind("morvek_scan_", 0) == 0 && line.find("} ") != std::string::npos))
        << line;
    at = end + 1;
  }
}

}  // namespace

namespace {

TEST(ReadingsResume, TheStateRoundTripsThroughTheReport) {
  ReadingsFacts f = StoppedRunPastTwoToTheThirtyTwo();
  RunState& st = f.run.state;
  st.firstSector = 31187088768;
  st.endSector = 31250000000;
  st.nextSector = 31187089408;
  st.cell = 2479;
  st.boundary = 2480ull * 12580511;
  st.badCount = 1;
  st.cells = std::string(2479, 'U');
  st.scanPosition = 31187089408;
  st.elapsedMs = 3725500;
  f.stretches = {{65536, 2000000}, {0, 0}, {131072, 900000000}};
  const std::vector<uint64_t> exact = {31187088900};
  f.badSectors = &exact;
  const nlohmann::json report = nlohmann::json::parse(ReadingsJson(f).dump());
  EXPECT_EQ(report["bad_sectors"], nlohmann::json::parse("[31187088900]"));
  ResumeData back;
  std::string why;
  ASSERT_TRUE(ParseResumeData(report, back, why)) << why;
  EXPECT_EQ(back.state.firstSector, st.firstSector);
  EXPECT_EQ(back.state.endSector, st.endSector);
  EXPECT_EQ(back.state.nextSector, st.nextSector);
  EXPECT_EQ(back.state.cell, 2479);
  EXPECT_EQ(back.state.boundary, st.boundary);
  EXPECT_EQ(back.state.badCount, 1u);
  EXPECT_EQ(back.state.cells, st.cells);
  EXPECT_EQ(back.state.elapsedMs, 3725500u);
  EXPECT_EQ(back.totals.counts, f.readings.counts);
  EXPECT_EQ(back.totals.errors, 1u);
  EXPECT_EQ(back.totals.blocks, f.readings.blocks);
  EXPECT_EQ(back.totals.badBlocks, f.readings.badBlocks);
  EXPECT_EQ(back.totals.slowest.size(), f.readings.slowest.size());
  EXPECT_EQ(back.stretches, f.stretches);
  EXPECT_EQ(back.sizeBytes, 16000000000000u);
  EXPECT_EQ(back.model, "WDC \"Ultra\" 16T");
  EXPECT_EQ(back.slot, 1);
}

// The disk stopped answering at sector 384: the reads of 384, 512 and 640
// failed before the run knew. They are not the disk's bad blocks (128 is),
// and the run that goes on reads them again.
TEST(ReadingsResume, TheFailuresThatToldTheDiskWasGoneAreReadAgain) {
  ReadingsFacts f;
  f.devicePath = "/dev/sdc";
  f.totalSectors = 2484 * 128;
  f.cellSectors = 128;
  f.sizeBytes = f.totalSectors * 512;
  f.run.clean = false;
  f.run.stopped = true;
  f.run.diskGone = true;
  f.run.goneAtSector = 384;
  f.run.nextSector = 384;
  RunState& st = f.run.state;
  st.endSector = f.totalSectors;
  st.nextSector = 384;
  st.cell = 6;
  st.boundary = 7 * 128;
  st.badCount = 4;
  st.cells = "GRGRRR";
  st.scanPosition = 384;
  ScanReadings readings(0, f.totalSectors);
  readings.Block(0, 128, true, 2 * kMs, 0);
  readings.Block(128, 128, false, 30 * kMs, 1);
  readings.Block(256, 128, true, 250 * kMs, 2);
  for (uint64_t sector : {384, 512, 640}) readings.Block(sector, 128, false, kMs, static_cast<int32_t>(sector / 128));
  f.readings = readings.Snapshot();

  ResumeData back;
  std::string why;
  ASSERT_TRUE(ParseResumeData(nlohmann::json::parse(ReadingsJson(f).dump()), back, why)) << why;
  EXPECT_EQ(back.totals.badBlocks, (std::vector<BadBlock>{{128, 128}}));
  EXPECT_EQ(back.totals.errors, 1u);
  EXPECT_EQ(back.totals.blocks, 3u);
  EXPECT_EQ(back.totals.counts, f.readings.counts);
  EXPECT_EQ(back.totals.slow, 1u);
  EXPECT_EQ(back.state.nextSector, 384u);
  EXPECT_EQ(back.state.badCount, 1u);
  EXPECT_EQ(back.state.cell, 3);
  EXPECT_EQ(back.state.boundary, 4u * 128);
  EXPECT_EQ(back.state.cells, "GRG");

  // More failures past the stop than the state counts: not a state this
  // program wrote.
  nlohmann::json damaged = nlohmann::json::parse(ReadingsJson(f).dump());
  damaged["state"]["bad_count"] = 2;
  EXPECT_FALSE(ParseResumeData(damaged, back, why));
}

TEST(ReadingsResume, AnythingButOurOwnIntactStateIsRefused) {
  ReadingsFacts f = StoppedRunPastTwoToTheThirtyTwo();
  f.run.state.endSector = 31250000000;
  f.run.state.nextSector = 31187089408;
  f.run.state.firstSector = 31187088768;
  const nlohmann::json good = nlohmann::json::parse(ReadingsJson(f).dump());
  ResumeData out;
  std::string why;
  ASSERT_TRUE(ParseResumeData(good, out, why)) << why;

  auto refused = [&](const std::function<void(nlohmann::json&)>& damage, const std::string& reason) {
    nlohmann::json j = good;
    damage(j);
    ResumeData d;
    std::string w;
    EXPECT_FALSE(ParseResumeData(j, d, w)) << reason;
    EXPECT_FALSE(w.empty()) << reason;
  };
  refused([](nlohmann::json& j) { j["format"] = "something-else"; }, "another format");
  refused([](nlohmann::json& j) { j.erase("state"); }, "no state");
  refused([](nlohmann::json& j) { j["state"]["next_sector"] = -5; }, "negative sector");
  refused([](nlohmann::json& j) { j["state"]["next_sector"] = 1; }, "next before first");
  refused([](nlohmann::json& j) { j["state"]["cells"] = "GGXR"; }, "a cell that is no cell");
  refused([](nlohmann::json& j) { j["state"]["cells"] = std::string(2485, 'G'); }, "more cells than the map");
  refused([](nlohmann::json& j) { j["state"]["latency_counts"] = nlohmann::json::array({1, 2}); }, "short counts");
  refused([](nlohmann::json& j) { j["state"]["slot"] = 9; }, "no such slot");
  refused([](nlohmann::json& j) { j["bad_blocks"] = nlohmann::json::parse(R"([{"sector": 1, "count": 4096}])"); },
          "a bad block larger than a read");
  refused([](nlohmann::json& j) { j["state"]["stretches"] = "lots"; }, "stretches not a list");
  // Fields of another type are refused like any damage, never thrown at.
  refused([](nlohmann::json& j) { j["format"] = 5; }, "a format that is no text");
  refused([](nlohmann::json& j) { j["version"] = "1"; }, "a version that is no number");
  refused([](nlohmann::json& j) { j = nlohmann::json::array({1, 2}); }, "a list, not a report");
  // A range past the device's end would be read past it.
  refused([](nlohmann::json& j) { j["state"]["end_sector"] = 31250000128ull; }, "an end past the device");
}

}  // namespace
