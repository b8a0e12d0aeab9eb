// Exact bad sectors: failed blocks read again a logical sector at a time.
#include <gtest/gtest.h>

#include "fakes/FakeMachine.h"
#include "scan/BadSectorRefiner.h"

namespace {

class RefinerTest : public testing::Test {
 protected:
  RefineResult Refine(const std::vector<BadBlock>& blocks, uint32_t sectorSize = 512,
                      RefineLimits limits = RefineLimits{}) {
    CDisk disk(m.Disk());
    return RefineBadSectors(
        disk, blocks, sectorSize, [this] { return stop.load(); }, limits, [this] { return nowMs; },
        [this](size_t done, size_t total) { progress.emplace_back(done, total); });
  }
  std::vector<uint64_t> Range(uint64_t first, uint64_t last) {
    std::vector<uint64_t> v;
    for (uint64_t s = first; s <= last; ++s) v.push_back(s);
    return v;
  }
  FakeMachine m;
  std::atomic<bool> stop{false};
  uint64_t nowMs = 0;
  std::vector<std::pair<size_t, size_t>> progress;
};

TEST_F(RefinerTest, ExactlyTheSectorsThatFailAloneOneOrManyAndAcrossBlocks) {
  m.io.drives[0] = FakeDrive::WithSectors(1000000);
  // One sector; a whole block of 128; 201 sectors over two blocks and a bit.
  m.io.drives[0].bad = {{1000, 1000}, {12800, 12927}, {50000, 50200}};
  const RefineResult r = Refine({{896, 128}, {12800, 128}, {49920, 128}, {50048, 128}, {50176, 128}});
  std::vector<uint64_t> expected = {1000};
  for (uint64_t s : Range(12800, 12927)) expected.push_back(s);
  for (uint64_t s : Range(50000, 50200)) expected.push_back(s);
  EXPECT_EQ(r.sectors, expected);
  EXPECT_TRUE(r.Complete());
  EXPECT_FALSE(r.stopped);
  EXPECT_FALSE(r.limited);
  EXPECT_EQ(progress.back(), std::make_pair(size_t{5}, size_t{5}));
  // One read per sector of each block, and nothing else.
  EXPECT_EQ(m.io.reads.size(), 5u * 128);
  EXPECT_EQ(m.io.reads.front().bytes, 512u);
}

TEST_F(RefinerTest, AFourKNativeDriveIsReadInWholeLogicalSectors) {
  m.io.drives[0] = FakeDrive::WithSectors(1000000);
  m.io.drives[0].bad = {{1001, 1001}};
  const RefineResult r = Refine({{896, 128}}, 4096);
  EXPECT_EQ(r.sectors, Range(1000, 1007));  // the 4096-byte sector holding 1001
  EXPECT_EQ(m.io.reads.size(), 16u);
  EXPECT_EQ(m.io.reads.front().bytes, 4096u);
}

TEST_F(RefinerTest, AStopEndsItAfterTheSectorBeingRead) {
  m.io.drives[0] = FakeDrive::WithSectors(1000000);
  m.io.drives[0].bad = {{0, 1000000}};
  m.io.onRead = [&](const FakeRead& r) {
    if (r.sector == 200) stop = true;
  };
  const RefineResult r = Refine({{0, 128}, {128, 128}, {256, 128}});
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(r.Complete());
  EXPECT_EQ(r.blocksRefined, 1u);
  EXPECT_EQ(r.sectors, Range(0, 200));  // what was refined is kept
}

TEST_F(RefinerTest, ALargeDamagedAreaIsRefinedOnlyUpToTheLimits) {
  m.io.drives[0] = FakeDrive::WithSectors(1000000);
  m.io.drives[0].bad = {{0, 1000000}};
  std::vector<BadBlock> blocks;
  for (uint64_t b = 0; b < 10; ++b) blocks.push_back({b * 128, 128});
  RefineLimits limits;
  limits.maxBlocks = 3;
  RefineResult r = Refine(blocks, 512, limits);
  EXPECT_TRUE(r.limited);
  EXPECT_EQ(r.blocksRefined, 3u);
  EXPECT_EQ(r.sectors.size(), 3u * 128);

  // And by time: the clock passes the limit during the second block, which
  // is left there, with what it gave so far.
  m.io.reads.clear();
  limits = RefineLimits{};
  limits.maxTime = std::chrono::milliseconds(1000);
  m.io.onRead = [&](const FakeRead&) { nowMs += 5; };  // 128 reads: 640 ms a block
  r = Refine(blocks, 512, limits);
  EXPECT_TRUE(r.limited);
  EXPECT_EQ(r.blocksRefined, 1u);
  EXPECT_EQ(r.sectors, Range(0, 199));
}

TEST_F(RefinerTest, ASingleBlockOfSectorsThatTakeSecondsEachKeepsToTheTimeLimit) {
  m.io.drives[0] = FakeDrive::WithSectors(1000000);
  m.io.drives[0].bad = {{0, 1000000}};
  m.io.onRead = [&](const FakeRead&) { nowMs += 30000; };  // a drive retrying each sector for 30 s
  const RefineResult r = Refine({{0, 128}});
  EXPECT_TRUE(r.limited);
  EXPECT_FALSE(r.Complete());
  EXPECT_EQ(r.sectors.size(), 20u);  // ten minutes, not an hour
  EXPECT_EQ(m.io.reads.size(), 20u);
}

}  // namespace
