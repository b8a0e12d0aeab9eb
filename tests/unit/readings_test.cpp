// A run's readings: read-time classes, the slowest blocks, the speed along
// the disk, the verdict; and what a scan run hands them.
#include <gtest/gtest.h>

#include "app/CScan.h"
#include "fakes/FakeIdentifyPorts.h"
#include "fakes/FakeMachine.h"
#include "fakes/FakeScan.h"
#include "scan/ScanReadings.h"

namespace {

constexpr uint64_t kMs = 1000000;

TEST(ReadingsClasses, EachLowerLimitBelongsToTheClassAboveIt) {
  EXPECT_EQ(LatencyClass(0), 0u);
  EXPECT_EQ(LatencyClass(4990000), 0u);  // 4.99 ms
  EXPECT_EQ(LatencyClass(5 * kMs - 1), 0u);
  EXPECT_EQ(LatencyClass(5 * kMs), 1u);
  EXPECT_EQ(LatencyClass(20 * kMs - 1), 1u);
  EXPECT_EQ(LatencyClass(20 * kMs), 2u);
  EXPECT_EQ(LatencyClass(50 * kMs), 3u);
  EXPECT_EQ(LatencyClass(199999999), 3u);
  EXPECT_EQ(LatencyClass(200 * kMs), 4u);
  EXPECT_EQ(LatencyClass(599999999), 4u);
  EXPECT_EQ(LatencyClass(600 * kMs), 5u);
  EXPECT_EQ(LatencyClass(3600000 * kMs), 5u);
}

TEST(ReadingsVerdict, UnreadableDecidesThenSlowThenClean) {
  EXPECT_EQ(JudgeDisk(0, 0).level, Verdict::Level::kClean);
  EXPECT_EQ(JudgeDisk(0, 0).text, "clean");
  EXPECT_EQ(JudgeDisk(0, 1).level, Verdict::Level::kWatch);
  EXPECT_EQ(JudgeDisk(0, 1).text, "clean, but 1 slow block (200 ms or more) - watch this disk");
  EXPECT_EQ(JudgeDisk(0, 12).text, "clean, but 12 slow blocks (200 ms or more) - watch this disk");
  EXPECT_EQ(JudgeDisk(3, 12).level, Verdict::Level::kBad);
  EXPECT_EQ(JudgeDisk(3, 12).text, "3 unreadable blocks");
  EXPECT_EQ(JudgeDisk(1, 0).text, "1 unreadable block");
}

TEST(ReadingsCollect, CountsAddUpAndTheSlowestComeFirst) {
  ScanReadings r(0, 128 * 1000, 10);
  for (uint64_t b = 0; b < 1000; ++b) {
    const uint64_t ns = b == 700 ? 400 * kMs : b == 300 ? 300 * kMs : b == 500 ? 650 * kMs : 2 * kMs;
    r.Block(b * 128, 128, b != 900, ns, static_cast<int32_t>(b / 400));
  }
  const ReadingsSnapshot s = r.Snapshot();
  EXPECT_EQ(s.blocks, 1000u);
  EXPECT_EQ(s.errors, 1u);
  uint64_t sum = 0;
  for (uint64_t c : s.counts) sum += c;
  EXPECT_EQ(sum + s.errors, s.blocks);
  EXPECT_EQ(s.counts[4], 2u);  // 300 and 400 ms
  EXPECT_EQ(s.counts[5], 1u);  // 650 ms
  EXPECT_EQ(s.slow, 3u);
  ASSERT_GE(s.slowest.size(), 3u);
  EXPECT_EQ(s.slowest[0], (SlowBlock{500 * 128, 650}));
  EXPECT_EQ(s.slowest[1], (SlowBlock{700 * 128, 400}));
  EXPECT_EQ(s.slowest[2], (SlowBlock{300 * 128, 300}));
  EXPECT_EQ(s.slowest.size(), kSlowestKept);
  EXPECT_EQ(s.badBlocks, (std::vector<BadBlock>{{900 * 128, 128}}));
  // Ten stretches of 100 blocks; the one with the 650 ms block is slower.
  ASSERT_EQ(s.speed.size(), 10u);
  EXPECT_EQ(s.speed[3].sector, 300u * 128);
  EXPECT_NEAR(s.speed[0].mbPerSecond, 6.25 / 0.2, 0.01);  // 100 blocks of 64 KB in 100 x 2 ms
  EXPECT_LT(s.speed[5].mbPerSecond, s.speed[0].mbPerSecond);
  // The worst read of each map cell.
  const std::vector<uint64_t> worst = r.WorstPerCell();
  ASSERT_EQ(worst.size(), 3u);
  EXPECT_EQ(worst[0], 300 * kMs);
  EXPECT_EQ(worst[1], 650 * kMs);
  EXPECT_EQ(worst[2], 2 * kMs);
}

TEST(ReadingsCollect, ManyEqualSlowBlocksKeepTheFirstHundred) {
  ScanReadings r(0, 128 * 300);
  for (uint64_t b = 0; b < 300; ++b) r.Block(b * 128, 128, true, 250 * kMs, 0);
  const ReadingsSnapshot s = r.Snapshot();
  ASSERT_EQ(s.slowest.size(), 100u);
  EXPECT_EQ(s.slowest.front().sector, 0u);
  EXPECT_EQ(s.slowest.back().sector, 99u * 128);
}

// What a scan run hands the readings, timed by a fake clock.
TEST(ReadingsOfARun, EveryBlockOnceInDiskOrderWithItsOwnTime) {
  FakeMachine m;
  FakeClock clock;
  FakeScanView view;
  m.io.drives[0] = FakeDrive::WithGeometry(2484, 4, 128);  // 1,271,808 sectors, 9936 blocks
  m.io.drives[0].sizeBytes = (1271808 + 100) * 512ull;     // and a tail of 100 sectors
  m.io.drives[0].bad = {{5000, 5000}};
  m.io.drives[0].slow = {{128000, 128000}, {900000, 900000}};
  m.io.drives[0].slowMs = 400;
  m.io.onRead = [&](const FakeRead&) { clock.now += 1; };
  m.io.sleeper = [&](uint32_t ms) { clock.now += ms; };
  ScanReadings readings(0, 1271808 + 100);
  CDisk disk(m.Disk());
  CDriveIdentifier models(m.system, nullptr, nullptr);
  ScanRun run(clock, m.files, view);
  RunSetup setup{disk};
  setup.totalSectors = disk.TotalSectors(0);
  setup.deviceSectors = disk.DeviceSectors(0);
  setup.readings = &readings;
  run.Start(setup);
  run.Wait();
  const ReadingsSnapshot s = readings.Snapshot();
  EXPECT_EQ(s.blocks, 9936u + 1);
  EXPECT_EQ(s.errors, 1u);
  EXPECT_EQ(s.counts[0], 9936u + 1 - 1 - 2);
  EXPECT_EQ(s.counts[4], 2u);  // the two 400 ms blocks, nothing else
  ASSERT_GE(s.slowest.size(), 2u);
  EXPECT_EQ(s.slowest[0].sector, 128000u);  // the block that starts at sector 128,000
  EXPECT_EQ(s.slowest[0].ms, 401);
  EXPECT_EQ(s.slowest[1].sector, 899968u);
  EXPECT_EQ(s.badBlocks, (std::vector<BadBlock>{{4992, 128}}));
  const RunResult result = run.LastResult();
  EXPECT_EQ(result.firstSector, 0u);
  EXPECT_EQ(result.nextSector, 1271908u);  // past the device's end
  EXPECT_EQ(result.startedUtc, clock.utc.load());
}

// After a long row of failures the run reads a block that read well before,
// to see whether the disk still answers. That read is no block's: its time
// must not make the block after it slow.
TEST(ReadingsOfARun, TheCheckThatTheDiskStillAnswersIsNoBlocksTime) {
  FakeMachine m;
  FakeClock clock;
  FakeScanView view;
  m.io.drives[0] = FakeDrive::WithGeometry(2484, 1, 128);  // 317,952 sectors, 2484 blocks
  m.io.drives[0].bad = {{1280, 1280 + 64 * 128 - 1}};      // 64 failed blocks in a row
  m.io.drives[0].slow = {{1152, 1152}};                    // the good block before them, asked again
  m.io.drives[0].slowMs = 400;
  m.io.onRead = [&](const FakeRead&) { clock.now += 1; };
  m.io.sleeper = [&](uint32_t ms) { clock.now += ms; };
  ScanReadings readings(0, 317952);
  CDisk disk(m.Disk());
  ScanRun run(clock, m.files, view);
  RunSetup setup{disk};
  setup.totalSectors = disk.TotalSectors(0);
  setup.deviceSectors = disk.DeviceSectors(0);
  setup.readings = &readings;
  run.Start(setup);
  run.Wait();
  const ReadingsSnapshot s = readings.Snapshot();
  EXPECT_EQ(s.errors, 64u);
  EXPECT_EQ(s.counts[4], 1u) << "the slow block's own first read, and no other";
  ASSERT_FALSE(s.slowest.empty());
  EXPECT_EQ(s.slowest[0].sector, 1152u);
  EXPECT_FALSE(run.LastResult().diskGone);
}

// A disk that reads ahead tells when each block's read completed: merged
// reads of eight blocks, each 2 ms after the one before, and one of them
// 300 ms late. The time of a read shows on its first block; the clock,
// which never moves here, is not asked.
TEST(ReadingsOfARun, ADiskThatReadsAheadGivesTheTimes) {
  FakeMachine m;
  FakeClock clock;
  FakeScanView view;
  m.io.drives[0] = FakeDrive::WithGeometry(2484, 1, 128);  // 317,952 sectors, 2484 blocks
  m.io.readyNs = [](const FakeRead& r) {
    const uint64_t read = r.sector / 128 / 8;
    return (read + 1) * 2000000 + (read >= 100 ? 300000000 : 0);
  };
  ScanReadings readings(0, 317952);
  CDisk disk(m.Disk());
  ScanRun run(clock, m.files, view);
  RunSetup setup{disk};
  setup.totalSectors = disk.TotalSectors(0);
  setup.deviceSectors = disk.DeviceSectors(0);
  setup.readings = &readings;
  run.Start(setup);
  run.Wait();
  const ReadingsSnapshot s = readings.Snapshot();
  EXPECT_EQ(s.blocks, 2484u);
  EXPECT_EQ(s.counts[0], 2483u);
  EXPECT_EQ(s.counts[4], 1u);
  ASSERT_GE(s.slowest.size(), 2u);
  EXPECT_EQ(s.slowest[0].sector, 800u * 128);  // read 100's first block
  EXPECT_EQ(s.slowest[0].ms, 302);
  EXPECT_EQ(s.slowest[1].ms, 2);  // every other read's first block
}

}  // namespace
