// A whole scan run against fake disks, a fake clock and a recording window.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "app/CScan.h"
#include "app/DiskLabels.h"
#include "fakes/FakeIdentifyPorts.h"
#include "fakes/FakeMachine.h"
#include "fakes/FakeScan.h"
#include "scan/ReportTexts.h"
#include "scan/ScanReport.h"

namespace {

class ScanRunTest : public testing::Test {
 protected:
  void SetUp() override {
    io.onRead = [this](const FakeRead&) { clock.now += msPerRead; };
  }
  void TearDown() override { scan.reset(); }

  CScan& Open() {
    scan =
        std::make_unique<CScan>(ScanPorts{m.Disk(), &m.system, &identify, nullptr, clock, m.files, view, kReportFile});
    scan->OnInitDialog();
    return *scan;
  }
  void Run() {
    scan->OnStart();
    scan->WaitForWorker();
  }
  std::string Report() const { return m.files.Text(kReportFile); }
  std::vector<std::string> ReportLines() const {
    std::vector<std::string> lines;
    const std::string text = Report();
    size_t at = 0;
    while (at < text.size()) {
      const size_t end = text.find("\r\n", at);
      if (end == std::string::npos) {
        lines.push_back(text.substr(at) + "<no CR LF>");
        break;
      }
      lines.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }
  // Names of the curves of the map, in order, with their colours.
  std::vector<std::pair<int, uint32_t>> Cells() {
    std::vector<std::pair<int, uint32_t>> cells;
    CDrawPicModel* chart = scan->Chart();
    for (int i = 0; chart && i < chart->GetCurveCount(); ++i) {
      const CDrawPicCurve* c = chart->GetCurve(i);
      cells.emplace_back(std::stoi(c->m_name.substr(12)), c->m_color);
    }
    return cells;
  }

  FakeMachine m;
  FakeDeviceIo& io = m.io;
  FakeIdentifyNtPort identify;
  FakeClock clock;
  FakeScanView view;
  uint32_t msPerRead = 0;
  std::unique_ptr<CScan> scan;
};

TEST_F(ScanRunTest, WindowShowsTheDisksAndTheSizesOfDiskZero) {
  io.drives[0] = FakeDrive::WithGeometry(4865, 255, 63);  // 78,156,225 sectors
  io.drives[1] = FakeDrive::WithGeometry(1000000, 1, 1);
  identify.drives[0] = {true, 0x01, true, FakeIdentifyBlockWithModel("MORVEK MV-80GB")};
  LogCapture log(m.files);
  Open();
  EXPECT_EQ(view.entries, (std::vector<std::string>{"Disk 0: MORVEK MV-80GB", "Disk 1: "}));
  EXPECT_EQ(view.selected, 0);
  EXPECT_EQ(view.Text(Label::kDiskSize), "37 G");
  EXPECT_EQ(view.Text(Label::kCellSize), "15 M");
  EXPECT_EQ(view.Text(Label::kBadCount), "0");
  EXPECT_FALSE(view.Running());
  EXPECT_TRUE(log.Contains("CScan::FindAllDisks i=0, strModol[i]=MORVEK MV-80GB, strTotalSectors=37 G\r\n\r\n"));
  EXPECT_TRUE(log.Contains("CScan::FindAllDisks i=1, strModol[i]=, strTotalSectors=488 M\r\n\r\n"));

  scan->OnSelchangeDisk(1);
  EXPECT_EQ(view.Text(Label::kDiskSize), "488 M");
  EXPECT_EQ(view.Text(Label::kCellSize), "200 K");
  EXPECT_EQ(scan->Disk().ActiveDrive(), 0x80);  // selection alone activates nothing
}

TEST_F(ScanRunTest, AnEmptyDiskTableMakesStartDoNothing) {
  Open();
  EXPECT_TRUE(view.entries.empty());
  EXPECT_EQ(scan->SelectedDisk(), -1);
  scan->OnStart();
  EXPECT_EQ(scan->GetState(), CScan::State::Idle);
  EXPECT_EQ(view.chartsCreated, 0);
  EXPECT_TRUE(io.reads.empty());
  EXPECT_FALSE(m.files.Exists(kReportFile));
}

TEST_F(ScanRunTest, ADeviceOfNoBytesCannotBeStarted) {
  io.drives[0] = FakeDrive::WithGeometry(0, 255, 63);
  Open();
  LogCapture log(m.files);
  EXPECT_EQ(scan->OnStart(), CScan::StartResult::kEmpty);
  EXPECT_EQ(scan->GetState(), CScan::State::Idle);
  EXPECT_TRUE(io.reads.empty());
  EXPECT_FALSE(m.files.Exists(kReportFile));
  EXPECT_FALSE(view.Running());
  EXPECT_TRUE(log.Contains("CScan::OnStart disk 0 holds no sectors: no scan"));
}

TEST_F(ScanRunTest, ADiskThatCannotBeOpenedAtStartIsNotScanned) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 1, 128);
  io.drives[1] = FakeDrive::WithGeometry(2484, 1, 128);
  Open();
  io.drives[1].failOpen = true;  // gone between the probe and Start
  scan->OnSelchangeDisk(1);
  LogCapture log(m.files);
  EXPECT_EQ(scan->OnStart(), CScan::StartResult::kNotOpened);
  EXPECT_EQ(scan->GetState(), CScan::State::Idle);
  EXPECT_TRUE(io.reads.empty());
  EXPECT_EQ(Cells().size(), 0u);  // no map painted red for a disk never read
  EXPECT_FALSE(m.files.Exists(kReportFile));
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"SetActiveDisk::OpenDrive failed", "OnSelchngeComboDisks SetActiveDisk 81",
                                      "CScan::OnStart disk 1 could not be opened: no scan"}));
}

TEST_F(ScanRunTest, ADiskWithoutAWholeCylinderIsReadToItsEnd) {
  io.drives[0] = FakeDrive::WithGeometry(0, 255, 63);
  io.drives[0].sizeBytes = 4 << 20;  // 8192 sectors, under one cylinder
  io.drives[0].bad = {{8191, 8191}};
  Open();
  EXPECT_EQ(view.Text(Label::kDiskSize), "0 M");
  Run();
  EXPECT_EQ(io.reads.size(), 64u);
  EXPECT_EQ(view.failedReads, std::vector<uint64_t>{8064});
  EXPECT_EQ(ReportLines().at(9), kResultBad);
  EXPECT_FALSE(scan->Run().LastResult().clean);
}

TEST_F(ScanRunTest, ADiskSmallerThanTheMapPaintsOnlyCellZeroAndFailures) {
  io.drives[0] = FakeDrive::WithGeometry(1, 1, 2000);  // 2000 sectors: cell size 0
  io.drives[0].bad = {{1500, 1500}};
  Open();
  Run();
  EXPECT_EQ(io.reads.size(), 16u);
  const std::vector<std::pair<int, uint32_t>> expected = {{0, kGoodCellColor}, {1, kBadCellColor}};
  EXPECT_EQ(Cells(), expected);
  EXPECT_EQ(view.Text(Label::kBadCount), "1");
}

TEST_F(ScanRunTest, ACellSizeBelowOneBlockPaintsEveryBoundaryABlockPasses) {
  io.drives[0] = FakeDrive::WithGeometry(100, 1, 2000);  // 200,000 sectors: cell size 80
  io.drives[0].bad = {{1000, 1000}};
  Open();
  Run();
  // The block at 128 passes boundary 80, the one at 256 boundaries 160 and
  // 240, and so on to the end: the map fills up, with the one red cell where
  // the read failed (the block at 896 to 1023).
  const auto cells = Cells();
  ASSERT_EQ(cells.size(), 2484u);
  for (size_t i = 0; i < cells.size(); ++i) ASSERT_EQ(cells[i].first, static_cast<int>(i));
  EXPECT_EQ(cells[0].second, kGoodCellColor);
  EXPECT_EQ(cells[2].second, kGoodCellColor);
  // Before the failed read at 896 the block at 768 passed boundaries up to
  // 720 (cells 0 to 8); the failure is cell 9.
  EXPECT_EQ(cells[8].second, kGoodCellColor);
  EXPECT_EQ(cells[9].second, kBadCellColor);
  EXPECT_EQ(cells[10].second, kGoodCellColor);
  EXPECT_EQ(view.Text(Label::kPercent), "100");
}

TEST_F(ScanRunTest, ACleanRunPaintsEveryCellInOrder) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 2, 128);  // cell size 256 sectors
  msPerRead = 1;
  Open();
  Run();
  const auto cells = Cells();
  ASSERT_EQ(cells.size(), 2483u);  // the last boundary is the disk's end
  for (size_t i = 0; i < cells.size(); ++i) {
    ASSERT_EQ(cells[i].first, static_cast<int>(i));
    ASSERT_EQ(cells[i].second, kGoodCellColor);
  }
  const CDrawPicCurve* last = scan->Chart()->GetCurve(2482);
  ASSERT_EQ(last->Points().size(), 7u);
  EXPECT_EQ(last->Points()[6].x, 6.0f * 2482);
  EXPECT_EQ(last->Points()[6].y, 2482.0f);
  EXPECT_EQ(view.invalidations, 2483);
  EXPECT_EQ(view.Text(Label::kBadCount), "0");
  EXPECT_EQ(ReportLines().at(9), kResultClean);
  EXPECT_EQ(scan->GetState(), CScan::State::Idle);
  EXPECT_EQ(view.runningHistory, (std::vector<bool>{false, true, false}));
  const RunResult result = scan->Run().LastResult();
  EXPECT_TRUE(result.clean);
  EXPECT_FALSE(result.stopped);
  EXPECT_TRUE(result.reportWritten);
  EXPECT_EQ(result.badCount, 0u);
}

TEST_F(ScanRunTest, FailuresInTheFirstRegionPushTheGreenCellsOn) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);  // cell size 512 sectors
  io.drives[0].bad = {{0, 0}, {128, 128}, {384, 384}};
  Open();
  Run();
  const auto cells = Cells();
  ASSERT_GE(cells.size(), 4u);
  EXPECT_EQ(cells[0], std::make_pair(0, kBadCellColor));
  EXPECT_EQ(cells[1], std::make_pair(1, kBadCellColor));
  EXPECT_EQ(cells[2], std::make_pair(2, kBadCellColor));
  EXPECT_EQ(cells[3], std::make_pair(3, kGoodCellColor));
  EXPECT_EQ(view.failedReads, (std::vector<uint64_t>{0, 128, 384}));
  EXPECT_EQ(view.History(Label::kBadCount), (std::vector<std::string>{"0", "1", "2", "3"}));
  EXPECT_EQ(ReportLines().at(9), kResultBad);
  // Cell 3 came at B = 4 x 512, the first block at or after it.
  EXPECT_EQ(cells.size(), 2484u - 4 + 3);
  const RunResult result = scan->Run().LastResult();
  EXPECT_FALSE(result.clean);
  EXPECT_EQ(result.badCount, 3u);
}

TEST_F(ScanRunTest, ThePercentOfA500GBDiskRisesSteadily) {
  io.drives[0] = FakeDrive::WithGeometry(969021, 16, 63);  // 976,773,168 sectors
  io.recordReads = false;
  std::string beforeHalf, atHalf;
  io.onRead = [&](const FakeRead& r) {
    // What the field shows when the read of a block starts is the percent
    // of the block before it.
    if (r.sector == 488386688) beforeHalf = view.Text(Label::kPercent);
    if (r.sector == 488386816) atHalf = view.Text(Label::kPercent);
  };
  Open();
  Run();
  EXPECT_EQ(beforeHalf, "49");
  EXPECT_EQ(atHalf, "50");
  // Pushed only when it changes: every value once, in order, never back.
  const auto percents = view.History(Label::kPercent);
  ASSERT_EQ(percents.size(), 101u);
  for (int p = 0; p <= 99; ++p) ASSERT_EQ(percents[static_cast<size_t>(p)], std::to_string(p));
  EXPECT_EQ(percents.back(), "100");
  EXPECT_EQ(scan->Run().ScanPosition(), 976773120u);  // the last block read
}

TEST(DiskLabels, WholeUnitsRoundedDownAtAnySize) {
  EXPECT_EQ(DiskSizeText(78165360), "37 G");
  EXPECT_EQ(CellSizeText(78165360), "15 M");
  EXPECT_EQ(DiskSizeText(1000000), "488 M");
  EXPECT_EQ(CellSizeText(1000000), "200 K");
  // Past 2^32 sectors: 3 TiB and 16 TB drives of whole cylinders.
  EXPECT_EQ(DiskSizeText(401024ull * 16065), "3071 G");
  EXPECT_EQ(CellSizeText(401024ull * 16065), "1258 M");
  EXPECT_EQ(DiskSizeText(1945222ull * 16065), "14901 G");
  EXPECT_EQ(CellSizeText(1945222ull * 16065), "6103 M");
}

TEST_F(ScanRunTest, ElapsedSpeedAndRemainingTime) {
  EXPECT_EQ(DurationText(3725), "1:2:5");
  EXPECT_EQ(DurationText(90000), "25:0:0");
  EXPECT_EQ(DurationText(0), "0:0:0");

  io.drives[0] = FakeDrive::WithGeometry(2484, 32, 128);  // 10,174,464 sectors, cell 4096 = 2 MB
  msPerRead = 250;                                        // 64 KB / 0.25 s: 0.25 MB/s
  Open();
  clock.now = 1000000;
  Run();
  // The first boundary, 4096, is the 33rd block: 8 s elapsed, off >> 11 = 2 MB
  // over 9 s rounds to 0 MB/s, so no estimate can be made yet.
  const auto speeds = view.History(Label::kSpeed);
  const auto remaining = view.History(Label::kRemaining);
  ASSERT_FALSE(speeds.empty());
  EXPECT_EQ(speeds.front(), "0 M/s");
  EXPECT_EQ(remaining.front(), "--:--:--");
  EXPECT_EQ(view.History(Label::kElapsed).front(), "0:0:8");
  for (const std::string& r : remaining) EXPECT_NE(r.find(':'), std::string::npos) << r;
  EXPECT_EQ(view.Text(Label::kElapsed), scan->Run().ElapsedText());
}

TEST_F(ScanRunTest, RemainingTimeIsTheDiskOverTheSpeedLessTheTimeSpentAndTwoSeconds) {
  // 10,174,464 sectors = 4968 MB, cells of 4096 sectors (2 MB). A read takes
  // 10 ms, so cell k (boundary (k + 1) x 4096) is reached after 32 (k + 1)
  // reads: at cell 99, 3200 reads, 32 s; off >> 11 = 200 MB; the speed is
  // 200 / 33 = 6 MB/s and the estimate 4968 / 6 - 32 - 2 = 794 s = 0:13:14.
  io.drives[0] = FakeDrive::WithGeometry(2484, 32, 128);
  msPerRead = 10;
  Open();
  Run();
  const auto speeds = view.History(Label::kSpeed);
  const auto remaining = view.History(Label::kRemaining);
  const auto elapsed = view.History(Label::kElapsed);
  ASSERT_GT(remaining.size(), 99u);
  EXPECT_EQ(elapsed[99], "0:0:32");
  EXPECT_EQ(speeds[99], "6 M/s");
  EXPECT_EQ(remaining[99], "0:13:14");
}

TEST_F(ScanRunTest, RemainingTimeNeverGoesNegative) {
  // A clock that stands still makes the speed the MB read so far, and the
  // estimate at the last boundaries disk MB / speed - 2 = -1 second.
  io.drives[0] = FakeDrive::WithGeometry(2484, 32, 128);
  msPerRead = 0;
  Open();
  Run();
  const auto remaining = view.History(Label::kRemaining);
  ASSERT_FALSE(remaining.empty());
  EXPECT_EQ(remaining.back(), "0:0:0");
  for (const std::string& r : remaining) EXPECT_EQ(r.find('-'), std::string::npos) << r;
}

TEST_F(ScanRunTest, StopEndsTheRunWithAReport) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);
  Open();
  io.onRead = [&](const FakeRead& r) {
    if (r.sector == 640000) scan->OnStop();
  };
  scan->OnStart();
  EXPECT_TRUE(view.runningHistory.at(1));
  scan->WaitForWorker();
  EXPECT_EQ(io.reads.back().sector, 640000u);      // the read in progress completes
  EXPECT_EQ(scan->Run().ScanPosition(), 640128u);  // the first block not read
  EXPECT_EQ(ReportLines().at(6), std::string(kAreaLabel) + "312 M");
  EXPECT_EQ(view.Text(Label::kPercent), "100");
  EXPECT_FALSE(view.Running());
  EXPECT_EQ(view.opened, std::vector<std::string>{"kestrune.log"});
  EXPECT_TRUE(scan->Run().LastResult().stopped);
}

TEST_F(ScanRunTest, TheReportGivesTheRunsOwnTimeAtItsEnd) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);  // cells of 512 sectors: 4 blocks
  msPerRead = 10;
  Open();
  Run();
  ASSERT_EQ(ReportLines().at(7), std::string(kTimeLabel) + "0:1:39");  // 9936 reads of 10 ms
  // A second run stopped in its first read, before any boundary, 7 seconds
  // after it started: its own time, not the first run's.
  io.onRead = [&](const FakeRead&) {
    clock.now += 7000;
    scan->OnStop();
  };
  clock.now += 3600 * 1000;
  Run();
  EXPECT_EQ(ReportLines().at(7), std::string(kTimeLabel) + "0:0:7");
  EXPECT_EQ(view.Text(Label::kElapsed), "0:0:7");  // the label says what the report says
  EXPECT_EQ(Cells().size(), 0u);                   // the second Start emptied the map
  EXPECT_EQ(view.chartsCreated, 1);
}

TEST_F(ScanRunTest, ASelectionChangedDuringARunChangesNeitherTheCellsNorTheReport) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 2, 128);   // cells of 256 sectors
  io.drives[1] = FakeDrive::WithGeometry(2484, 16, 128);  // cells of 2048 sectors
  identify.drives[0] = {true, 0x01, true, FakeIdentifyBlockWithModel("ZERO")};
  identify.drives[1] = {true, 0x02, true, FakeIdentifyBlockWithModel("ONE")};
  Open();
  io.onRead = [&](const FakeRead& r) {
    if (r.sector == 1280) scan->OnSelchangeDisk(1);
  };
  Run();
  EXPECT_EQ(Cells().size(), 2483u);  // every boundary of disk 0
  EXPECT_EQ(ReportLines().at(3), std::string(kModelLabel) + "Disk 0: ZERO");
  EXPECT_EQ(ReportLines().at(4), std::string(kSizeLabel) + "0 G");  // disk 0's 635,904 sectors
  EXPECT_EQ(view.Text(Label::kDiskSize), "2 G");                    // the labels follow the selection
}

TEST_F(ScanRunTest, ABadSectorInTheLastPartialCylinderIsFound) {
  // Four whole cylinders and 1000 sectors more; the last one fails.
  io.drives[0] = FakeDrive::WithGeometry(4, 255, 63);
  io.drives[0].sizeBytes = (4 * 16065 + 1000) * 512ull;
  io.drives[0].bad = {{4 * 16065 + 999, 4 * 16065 + 999}};
  Open();
  EXPECT_EQ(scan->Disk().TotalSectors(0), 64260u);
  EXPECT_EQ(scan->Disk().DeviceSectors(0), 65260u);
  Run();
  // The whole cylinders end inside the block at 64256; the tail goes on
  // from 64384 to the end, the last read cut to 108 sectors.
  ASSERT_FALSE(io.reads.empty());
  EXPECT_EQ(io.reads.back().sector, 65152u);
  EXPECT_EQ(io.reads.back().bytes, 108u * 512);
  EXPECT_EQ(io.reads[io.reads.size() - 7].sector, 64384u);
  EXPECT_EQ(view.failedReads, std::vector<uint64_t>{65152});
  EXPECT_EQ(view.Text(Label::kBadCount), "1");
  EXPECT_EQ(ReportLines().at(9), kResultBad);
  // The report still describes the whole-cylinder disk and its scan.
  EXPECT_EQ(ReportLines().at(6), std::string(kAreaLabel) + "31 M");  // 64256 >> 11
  EXPECT_EQ(scan->Run().LastResult().badCount, 1u);
  // The percent never went past 100.
  for (const std::string& p : view.History(Label::kPercent)) EXPECT_LE(std::stoi(p), 100) << p;
}

// Every read of a run is the next block of the one stream it announced, and
// the stream ends, with every read made, before the report is written.
void ExpectOneStreamEndedBeforeTheReport(const FakeDeviceIo& io, uint64_t firstSector, uint64_t deviceSectors) {
  ASSERT_EQ(io.streams.size(), 1u);
  const FakeStream& s = io.streams[0];
  EXPECT_EQ(s.fromByte, firstSector * 512);
  EXPECT_EQ(s.toByte, deviceSectors * 512);
  EXPECT_EQ(s.blockBytes, 65536u);
  EXPECT_EQ(s.data, StreamData::kDiscarded);  // the scan never looks at the bytes
  EXPECT_EQ(s.readsBefore, 0u);
  EXPECT_EQ(s.endedAfter, io.reads.size());
  for (size_t i = 0; i < io.reads.size(); ++i) {
    const uint64_t sector = firstSector + 128 * i;
    ASSERT_EQ(io.reads[i].sector, sector) << "read " << i;
    // The main loop's blocks are 128 sectors even past the whole cylinders;
    // the tail's last one is cut at the device's end.
    ASSERT_LE(io.reads[i].bytes, 65536u);
    ASSERT_GE(uint64_t{io.reads[i].bytes}, std::min<uint64_t>(65536, (deviceSectors - sector) * 512)) << i;
  }
}

TEST_F(ScanRunTest, TheRunReadsTheStreamItAnnouncedAndEndsItBeforeTheReport) {
  // Four whole cylinders and 1000 sectors more, a bad sector in each part.
  io.drives[0] = FakeDrive::WithGeometry(4, 255, 63);
  io.drives[0].sizeBytes = (4 * 16065 + 1000) * 512ull;
  io.drives[0].bad = {{3000, 3000}, {4 * 16065 + 500, 4 * 16065 + 500}};
  bool reportAtEnd = true;
  io.onStreamEnd = [&] { reportAtEnd = m.files.Exists(kReportFile); };
  Open();
  Run();
  ExpectOneStreamEndedBeforeTheReport(io, 0, 65260);
  EXPECT_EQ(io.reads.size(), 510u);  // 65,260 sectors in blocks of 128
  EXPECT_EQ(io.reads.back().bytes, 108u * 512);
  EXPECT_FALSE(reportAtEnd);
  EXPECT_EQ(ReportLines().at(9), kResultBad);
}

TEST_F(ScanRunTest, AStopEndsTheStreamWithNoReadAfterIt) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);
  bool reportAtEnd = true;
  io.onStreamEnd = [&] { reportAtEnd = m.files.Exists(kReportFile); };
  Open();
  io.onRead = [&](const FakeRead& r) {
    if (r.sector == 12800) scan->OnStop();
  };
  Run();
  ExpectOneStreamEndedBeforeTheReport(io, 0, 2484 * 4 * 128);
  EXPECT_EQ(io.reads.back().sector, 12800u);
  EXPECT_EQ(scan->Run().ScanPosition(), 12928u);
  EXPECT_FALSE(reportAtEnd);
  EXPECT_TRUE(scan->Run().LastResult().stopped);
}

TEST_F(ScanRunTest, AStopDuringTheTailEndsTheRun) {
  io.drives[0] = FakeDrive::WithGeometry(4, 255, 63);
  io.drives[0].sizeBytes = (4 * 16065 + 1000) * 512ull;
  Open();
  io.onRead = [&](const FakeRead& r) {
    if (r.sector == 64512) scan->OnStop();
  };
  Run();
  EXPECT_EQ(io.reads.back().sector, 64512u);
  EXPECT_TRUE(scan->Run().LastResult().stopped);
}

TEST_F(ScanRunTest, ADiskThatSaysItHasGoneEndsTheRunAtOnce) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);
  Open();
  io.onRead = [&](const FakeRead& r) {
    if (r.sector == 64000) io.drives[0].gone = true;
  };
  LogCapture log(m.files);
  Run();
  // The read at 64000 fails, the block before it is read again and fails
  // too: the disk has gone. Nothing after is tried.
  EXPECT_EQ(io.reads.size(), 500u + 1 + 1);
  EXPECT_EQ(io.reads.back().sector, 63872u);
  const RunResult result = scan->Run().LastResult();
  EXPECT_TRUE(result.diskGone);
  EXPECT_EQ(result.goneAtSector, 64000u);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(view.failedReads, std::vector<uint64_t>{64000});
  EXPECT_EQ(ReportLines().at(6), std::string(kAreaLabel) + "31 M");  // 64000 >> 11: the area read before
  EXPECT_EQ(log.Text().find("disk stopped answering at sector 64000\r\n"),
            log.Text().rfind("disk stopped answering"));  // said once
  EXPECT_NE(log.Text().find("disk stopped answering at sector 64000"), std::string::npos);
  EXPECT_EQ(view.goneText, DiskStoppedAnsweringText(64000));
  EXPECT_EQ(view.opened.size(), 1u);
}

TEST_F(ScanRunTest, ADiskThatFailsEveryReadSilentlyIsCaughtAfterARunOfFailures) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);
  io.drives[0].goneSaysSo = false;  // plain I/O errors, as a dead FUSE daemon gives
  Open();
  io.onRead = [&](const FakeRead& r) {
    if (r.sector == 64000) io.drives[0].gone = true;
  };
  Run();
  // 64 failures in a row (64000 to 72064), then the last good block (63872)
  // read again: it fails, so the disk stopped answering at 64000.
  ASSERT_EQ(io.reads.size(), 500u + 64 + 1);
  EXPECT_EQ(io.reads.back().sector, 63872u);
  EXPECT_EQ(view.failedReads.size(), 64u);
  EXPECT_TRUE(scan->Run().LastResult().diskGone);
  EXPECT_EQ(scan->Run().LastResult().goneAtSector, 64000u);
}

TEST_F(ScanRunTest, ALongBadStretchOfADiskThatStillReadsIsScannedThrough) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);
  io.drives[0].bad = {{64000, 64000 + 200 * 128 - 1}};  // 200 bad blocks in a row
  Open();
  Run();
  const RunResult result = scan->Run().LastResult();
  EXPECT_FALSE(result.diskGone);
  EXPECT_FALSE(result.stopped);
  EXPECT_EQ(result.badCount, 200u);
  // Every block read once, and the good block before the stretch read again
  // after each 64 failures: three checks.
  EXPECT_EQ(io.reads.size(), 2484u * 4 + 3);
  size_t again = 0;
  for (const FakeRead& r : io.reads) again += r.sector == 63872u;
  EXPECT_EQ(again, 4u);
}

TEST_F(ScanRunTest, ADiskFailingFromItsFirstSectorIsCheckedInItsMiddle) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);  // 1,271,808 sectors
  io.drives[0].bad = {{0, 64 * 128 - 1}};
  Open();
  Run();
  EXPECT_FALSE(scan->Run().LastResult().diskGone);
  size_t middle = 0;
  for (const FakeRead& r : io.reads) middle += r.sector == 635904u;
  EXPECT_EQ(middle, 2u);  // the check, then the run's own read there
}

TEST_F(ScanRunTest, TheReportNamesTheSelectedSlotAndItsModel) {
  for (int i = 0; i < 3; ++i) io.drives[i] = FakeDrive::WithGeometry(1000000, 1, 1);
  identify.drives[2] = {true, 0x04, true, FakeIdentifyBlockWithModel("M")};
  clock.today = {2026, 3, 9};
  Open();
  scan->OnSelchangeDisk(2);
  Run();
  const std::vector<std::string> lines = ReportLines();
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[1], std::string(kReportHeading) +
                          "2026\xC4\xEA"
                          "3\xD4\xC2"
                          "9\xC8\xD5");
  EXPECT_EQ(lines[3], std::string(kModelLabel) + "Disk 2: M");
  EXPECT_EQ(lines[4], std::string(kSizeLabel) + "0 G");
  EXPECT_EQ(lines[5], std::string(kUnitLabel) + "0 M");
  EXPECT_EQ(lines[6], std::string(kAreaLabel) + "488 M");  // the last block read: 999,936
  EXPECT_EQ(lines[7], std::string(kTimeLabel) + "0:0:0");
  EXPECT_EQ(scan->Disk().ActiveDrive(), 0x82);
}

TEST_F(ScanRunTest, ASecondRunReplacesTheReport) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 1, 128);
  io.drives[0].bad = {{1000, 1000}};
  Open();
  Run();
  const std::string first = Report();
  EXPECT_NE(first.find(kResultBad), std::string::npos);
  io.drives[0].bad.clear();
  Run();
  const std::string second = Report();
  EXPECT_EQ(second.find(kResultBad), std::string::npos);
  EXPECT_NE(second.find(kResultClean), std::string::npos);
  EXPECT_EQ(second.size(), first.size() + std::string(kResultClean).size() - std::string(kResultBad).size());
}

TEST_F(ScanRunTest, AnUnwritableReportLeavesTheRunToEndNormally) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 1, 128);
  m.files.Refuse(kReportFile, "Read-only file system");
  Open();
  Run();
  const RunResult result = scan->Run().LastResult();
  EXPECT_FALSE(result.reportWritten);
  EXPECT_EQ(result.reportProblem, "Read-only file system");
  EXPECT_EQ(view.Text(Label::kPercent), "100");
  EXPECT_FALSE(view.Running());
}

TEST_F(ScanRunTest, ClosingDuringARunStopsWaitsAndOpensTheReportOnce) {
  io.drives[0] = FakeDrive::WithGeometry(969021, 16, 63);
  io.recordReads = false;
  std::atomic<bool> started{false};
  io.onRead = [&](const FakeRead&) { started = true; };
  Open();
  scan->OnStart();
  while (!started) std::this_thread::yield();
  scan->OnCancel();
  EXPECT_EQ(scan->GetState(), CScan::State::Idle);
  EXPECT_TRUE(scan->Run().LastResult().reportWritten);
  // The run's own end opened it; closing does not open it again.
  EXPECT_EQ(view.opened, (std::vector<std::string>{"kestrune.log"}));
  scan.reset();  // nothing left running that could use it
}

TEST_F(ScanRunTest, ClosingWhenIdleShowsTheLastReportAgain) {
  io.drives[0] = FakeDrive::WithGeometry(2484, 1, 128);
  Open();
  scan->OnCancel();
  EXPECT_EQ(view.opened, (std::vector<std::string>{"kestrune.log"}));  // also with no run in this process
  Run();
  scan->OnCancel();
  EXPECT_EQ(view.opened, (std::vector<std::string>{"kestrune.log", "kestrune.log", "kestrune.log"}));
}

TEST_F(ScanRunTest, StartAfterStopWaitsForTheStoppingWorker) {
  io.drives[0] = FakeDrive::WithGeometry(969021, 16, 63);
  io.recordReads = false;
  std::atomic<int> reads{0};
  io.onRead = [&](const FakeRead&) { ++reads; };
  Open();
  scan->OnStart();
  while (reads < 10) std::this_thread::yield();
  scan->OnStop();
  scan->OnStart();  // waits for the first worker, then runs again
  EXPECT_NE(scan->GetState(), CScan::State::Idle);
  scan->OnCancel();
  EXPECT_EQ(scan->RunCount(), 2);
}

// The run on its own, without a window's logic around it.
class ScanRunAloneTest : public testing::Test {
 protected:
  ScanRunAloneTest() : models(m.system, nullptr, nullptr), run(clock, m.files, view) {}

  // A run over slot 0 of `disk`, as Start would set it up.
  RunSetup Setup(CDisk& disk, uint64_t firstSector = 0) {
    RunSetup setup{disk};
    setup.totalSectors = disk.TotalSectors(0);
    setup.deviceSectors = disk.DeviceSectors(0);
    setup.chart = &chart;
    setup.firstSector = firstSector;
    return setup;
  }
  // The map's painted cells as (number, colour), each checked to sit at its
  // number's place in the map (cells before a range keep theirs empty).
  std::vector<std::pair<int, uint32_t>> Cells() const {
    std::vector<std::pair<int, uint32_t>> cells;
    for (int i = 0; i < chart.GetCurveCount(); ++i) {
      const CDrawPicCurve* c = chart.GetCurve(i);
      if (c->m_name.rfind("TestOneCurve", 0) != 0) {
        EXPECT_EQ(c->m_shown.load(), 0) << c->m_name;
        continue;
      }
      const int number = std::stoi(c->m_name.substr(12));
      EXPECT_EQ(number, i) << "cell " << number << " drawn in place " << i;
      cells.emplace_back(number, c->m_color);
    }
    return cells;
  }

  FakeMachine m;
  CDriveIdentifier models;
  FakeClock clock;
  FakeScanView view;
  CDrawPicModel chart;
  ScanRun run;
};

TEST_F(ScanRunAloneTest, ASecondWorkerWhileOneRunsDoesNothing) {
  m.io.drives[0] = FakeDrive::WithGeometry(2484, 1, 128);
  std::atomic<bool> inRead{false}, release{false};
  std::atomic<int> reads{0};
  m.io.onRead = [&](const FakeRead&) {
    ++reads;
    inRead = true;
    while (!release) std::this_thread::yield();
  };
  CDisk fresh(m.Disk());
  run.Start(Setup(fresh));
  while (!inRead) std::this_thread::yield();
  // The first worker is held in its first read; a second one must return at
  // once without reading anything or ending the run.
  ScanThreadProc(&run);
  EXPECT_EQ(reads, 1);
  EXPECT_TRUE(run.Active());
  release = true;
  run.StopAndWait();
  EXPECT_FALSE(run.Active());
}

TEST_F(ScanRunAloneTest, ARunFromInsideTheDiskAnnouncesItsStreamFromThere) {
  m.io.drives[0] = FakeDrive::WithGeometry(4, 255, 63);
  m.io.drives[0].sizeBytes = (4 * 16065 + 1000) * 512ull;
  CDisk disk(m.Disk());
  run.Start(Setup(disk, 60032));
  run.Wait();
  ExpectOneStreamEndedBeforeTheReport(m.io, 60032, 65260);
  EXPECT_EQ(m.io.reads.size(), 41u);  // (65,260 - 60,032) / 128, rounded up
}

TEST_F(ScanRunAloneTest, TheEndOfASixteenTerabyteDiskInSeconds) {
  // 16,000,000,000,000 bytes: 1,945,222 whole cylinders (31,249,991,430
  // sectors, cells of 12,580,509) and 8,570 sectors more. The run starts in
  // its last cells, with the cell and boundary a whole run has there.
  m.io.drives[0] = FakeDrive::WithSectors(31250000000);
  m.io.drives[0].sizeBytes = 16000000000000;
  m.io.drives[0].bad = {{31249000000, 31249000000}, {31249999999, 31249999999}};
  m.io.recordReads = false;
  std::vector<uint64_t> failed;
  CDisk disk(m.Disk());
  const uint64_t cell = 12580511;                               // 31,249,991,430 / 2484
  const uint64_t first = (31249991430 - 5 * cell) / 128 * 128;  // 31,187,088,768: whole runs reach cell 2479 here
  run.Start(Setup(disk, first));
  run.Wait();
  const RunResult result = run.LastResult();
  EXPECT_FALSE(result.clean);
  EXPECT_EQ(result.badCount, 2u);
  EXPECT_EQ(view.failedReads, (std::vector<uint64_t>{31249000000 / 128 * 128, 31249999999 / 128 * 128}));
  // Boundaries 2480 C to 2483 C paint cells 2479 to 2482 green, in their
  // places of the map (cells 0 to 2478 before the range stay empty); the
  // failure at 31,248,999,936 is cell 2483 and moves the last boundary past
  // the end; the tail's failure would be cell 2484, past the map.
  const std::vector<std::pair<int, uint32_t>> expected = {{2479, kGoodCellColor},
                                                          {2480, kGoodCellColor},
                                                          {2481, kGoodCellColor},
                                                          {2482, kGoodCellColor},
                                                          {2483, kBadCellColor}};
  EXPECT_EQ(Cells(), expected);
  EXPECT_EQ(run.ScanPosition(), 31249991424u);  // the last block of the whole cylinders
}

// A run's outcome, for comparing runs.
struct Outcome {
  std::vector<std::pair<int, uint32_t>> cells;
  std::vector<uint64_t> failed;
  std::string report;  // without its date and time lines
  RunResult result;
};

class RangeTest : public ScanRunAloneTest {
 protected:
  RangeTest() {
    // 2484 x 4 x 128 sectors: cells of 512 sectors (4 blocks), bad sectors
    // in several regions, one of them on a boundary block.
    m.io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);
    m.io.drives[0].bad = {{3000, 3000}, {20480, 20480}, {600000, 600100}, {1200000, 1200000}};
  }
  Outcome RunWith(uint64_t first, uint64_t end, const RunState* resume = nullptr,
                  std::function<void(const FakeRead&)> onRead = nullptr) {
    CDisk disk(m.Disk());
    CDrawPicModel map;
    FakeScanView display;
    ScanRun r(clock, m.files, display);
    RunSetup setup = Setup(disk, first);
    setup.chart = &map;
    setup.endSector = end;
    setup.resume = resume;
    m.io.onRead = onRead;
    if (onRead)
      m.io.onRead = [&, onRead](const FakeRead& read) {
        onRead(read);
        if (stopNow) r.RequestStop();
      };
    r.Start(setup);
    r.Wait();
    Outcome o;
    for (int i = 0; i < map.GetCurveCount(); ++i) {
      const CDrawPicCurve* c = map.GetCurve(i);
      if (c->m_name.rfind("TestOneCurve", 0) == 0) o.cells.emplace_back(i, c->m_color);
    }
    o.failed = display.failedReads;
    o.report = m.files.Text(kReportFile);
    const size_t date = o.report.find("\r\n") + 2;
    o.report.erase(date, o.report.find("\r\n", date) - date);  // the date line's text
    const size_t time = o.report.find(kTimeLabel);
    o.report.erase(time, o.report.find("\r\n", time) - time);
    o.result = r.LastResult();
    return o;
  }
  bool stopNow = false;
};

TEST_F(RangeTest, ARangePaintsTheCellsAWholeRunPaintsThereAndNothingElse) {
  const Outcome whole = RunWith(0, UINT64_MAX);
  ASSERT_EQ(whole.result.badCount, 5u);  // 600,000 to 600,100 spans two blocks
  for (uint64_t first : {uint64_t{0}, uint64_t{5120}, uint64_t{5120 + 128}, uint64_t{20480}, uint64_t{599999}}) {
    for (uint64_t end : {uint64_t{700000}, uint64_t{UINT64_MAX}}) {
      const Outcome part = RunWith(first, end);
      const uint64_t from = first / 128 * 128;
      // The whole run's cells painted by blocks in [from, end), by number
      // and colour, where the whole run paints them.
      std::vector<std::pair<int, uint32_t>> expected;
      const Outcome upTo = from == 0 ? Outcome{} : RunWith(0, from);
      const Outcome through = end == UINT64_MAX ? whole : RunWith(0, end);
      for (const auto& cell : through.cells)
        if (std::find(upTo.cells.begin(), upTo.cells.end(), cell) == upTo.cells.end()) expected.push_back(cell);
      EXPECT_EQ(part.cells, expected) << "from " << first << " to " << end;
      for (uint64_t f : part.failed) EXPECT_GE(f, from);
      EXPECT_EQ(part.result.firstSector, from);
      EXPECT_EQ(part.result.nextSector, end == UINT64_MAX ? 1271808u : 700032u);  // the end rounded up
    }
  }
}

TEST_F(RangeTest, ARangeBeyondTheEndStopsAtTheEnd) {
  const Outcome o = RunWith(1271808 - 256, uint64_t{1} << 40);
  EXPECT_EQ(o.result.nextSector, 1271808u);
  EXPECT_EQ(m.io.reads.back().sector, 1271808u - 128);
}

TEST_F(RangeTest, AStoppedRunResumedEndsAsOneUninterruptedRun) {
  const Outcome whole = RunWith(0, UINT64_MAX);
  // Stopped at about 40 %, inside a bad stretch's neighbourhood.
  const Outcome first = RunWith(0, UINT64_MAX, nullptr, [&](const FakeRead& r) {
    if (r.sector == 512000) stopNow = true;
  });
  stopNow = false;
  ASSERT_TRUE(first.result.stopped);
  EXPECT_EQ(first.result.state.nextSector, 512128u);
  const RunState state = first.result.state;
  m.io.reads.clear();
  const Outcome second = RunWith(0, UINT64_MAX, &state);
  EXPECT_EQ(m.io.reads.front().sector, 512128u);  // nothing read twice
  EXPECT_EQ(second.cells, whole.cells);
  std::vector<uint64_t> failed = first.failed;
  failed.insert(failed.end(), second.failed.begin(), second.failed.end());
  EXPECT_EQ(failed, whole.failed);
  EXPECT_EQ(second.report, whole.report);
  EXPECT_EQ(second.result.badCount, whole.result.badCount);
  EXPECT_EQ(second.result.state.cells, whole.result.state.cells);
  EXPECT_FALSE(second.result.stopped);
}

TEST(ScanRunConcurrent, PaintingWhileTheWorkerAddsCells) {
  FakeMachine m;
  FakeClock clock;
  FakeScanView view;
  m.io.drives[0] = FakeDrive::WithGeometry(2484, 1, 256);
  m.io.drives[0].bad = {{5000, 9000}};
  CScan scan(ScanPorts{m.Disk(), &m.system, nullptr, nullptr, clock, m.files, view, kReportFile});
  scan.OnInitDialog();
  scan.OnStart();
  size_t seen = 0;
  // Paints come as a window's would, now and then; a loop that never lets
  // go of the model would only measure lock hand-over.
  while (scan.GetState() != CScan::State::Idle) {
    seen = std::max(seen, scan.Chart()->SnapshotCurves().size());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  scan.WaitForWorker();
  EXPECT_EQ(scan.Chart()->SnapshotCurves().size(), 2483u);
  EXPECT_LE(seen, 2483u);
}

}  // namespace
