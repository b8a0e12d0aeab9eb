// The read-ahead engine: every block in disk order with what a lone read of
// it gives, whatever the depth and merge size; the pread fallback; no reads
// after the consumer stops; and, on loop devices over faultfs, exactly the
// blocks over a bad range fail.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "disk/linux/SequentialReadAhead.h"
#include "linux/FaultDevices.h"

namespace fs = std::filesystem;
using Options = SequentialReadAhead::Options;

namespace {

constexpr uint32_t kBlock = 65536;

using namespace faultdev;

struct Result {
  bool ok;
  int error;
  uint32_t bytes;
  bool operator==(const Result&) const = default;
};

void PrintTo(const Result& r, std::ostream* os) {
  if (r.ok) {
    *os << "ok " << r.bytes;
  } else {
    *os << "error " << r.error;
  }
}

// Takes every block of [begin, end) and checks, for the good ones, the data
// handed over and the order of the times.
std::vector<Result> TakeAll(int fd, uint64_t begin, uint64_t end, const Options& options) {
  std::string why;
  auto engine = SequentialReadAhead::Create(fd, begin, end, kBlock, options, &why);
  EXPECT_NE(engine, nullptr) << why;
  if (!engine) return {};
  if (options.usePread) {
    EXPECT_EQ(engine->GetBackend(), SequentialReadAhead::Backend::kPread);
  }
  std::vector<Result> results;
  std::vector<uint8_t> dst(kBlock);
  uint64_t lastNs = 0;
  for (uint64_t offset = begin; offset < end; offset += kBlock) {
    const BlockRead r = engine->Take(offset, dst.data());
    results.push_back({r.ok, r.error, r.bytes});
    EXPECT_GE(r.readyNs, lastNs) << "block at " << offset;
    lastNs = r.readyNs;
    if (!r.ok) continue;
    const auto* data = static_cast<const uint8_t*>(r.data);
    for (uint32_t i = 0; i < r.bytes; ++i) {
      if (dst[i] != PatternAt(offset + i) || data[i] != PatternAt(offset + i)) {
        ADD_FAILURE() << "wrong data at " << offset + i;
        break;
      }
    }
  }
  EXPECT_FALSE(engine->Take(end, nullptr).ok);  // nothing past the end
  return results;
}

// What the blocks of [begin, end) should give when nothing fails.
std::vector<Result> AllGood(uint64_t begin, uint64_t end) {
  std::vector<Result> expected;
  for (uint64_t offset = begin; offset < end; offset += kBlock)
    expected.push_back({true, 0, static_cast<uint32_t>(std::min<uint64_t>(kBlock, end - offset))});
  return expected;
}

class ReadAheadConfig : public testing::TestWithParam<Options> {};

TEST_P(ReadAheadConfig, EveryBlockInDiskOrderWithItsData) {
  // Not a whole number of blocks, nor of sectors: the last block of the file
  // comes back short from the kernel.
  const uint64_t size = 40ull * kBlock + 1000;
  PatternFile file(size);
  ScanFd fd(file.Path());
  ASSERT_GE(fd.Get(), 0);
  const uint64_t begin = 3 * kBlock + 4096;  // off the 64 KiB grid
  EXPECT_EQ(TakeAll(fd.Get(), begin, size, GetParam()), AllGood(begin, size));
  // An end inside the file cuts the last block there, not at the file's end.
  const uint64_t end = 30ull * kBlock + 3 * 512;
  EXPECT_EQ(TakeAll(fd.Get(), 0, end, GetParam()), AllGood(0, end));
  // A range of less than one block.
  EXPECT_EQ(TakeAll(fd.Get(), kBlock, kBlock + 512, GetParam()), AllGood(kBlock, kBlock + 512));
}

TEST_P(ReadAheadConfig, RefusesAnyBlockButTheNextAndGoesOn) {
  PatternFile file(8 * kBlock);
  ScanFd fd(file.Path());
  auto engine = SequentialReadAhead::Create(fd.Get(), 0, 8 * kBlock, kBlock, GetParam());
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine->Take(kBlock, nullptr).error, EINVAL);  // skips block 0
  EXPECT_TRUE(engine->Take(0, nullptr).ok);
  EXPECT_EQ(engine->Take(0, nullptr).error, EINVAL);  // again
  EXPECT_EQ(engine->Take(kBlock + 512, nullptr).error, EINVAL);
  const BlockRead r = engine->Take(kBlock, nullptr);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(static_cast<const uint8_t*>(r.data)[0], PatternAt(kBlock));
}

TEST_P(ReadAheadConfig, EmptyRangeReadsNothing) {
  PatternFile file(kBlock);
  ScanFd fd(file.Path());
  auto engine = SequentialReadAhead::Create(fd.Get(), kBlock, kBlock, kBlock, GetParam());
  ASSERT_NE(engine, nullptr);
  EXPECT_FALSE(engine->Take(kBlock, nullptr).ok);
  EXPECT_EQ(engine->GetStats().reads, 0u);
}

Options Config(uint32_t depth, uint32_t mergeBytes, bool usePread = false) {
  Options o;
  o.depth = depth;
  o.mergeBytes = mergeBytes;
  o.usePread = usePread;
  return o;
}

const Options kConfigs[] = {Config(1, 0, true), Config(1, kBlock), Config(4, 4 * kBlock), Config(16, kBlock),
                            Config(8, 1u << 20)};

INSTANTIATE_TEST_SUITE_P(, ReadAheadConfig, testing::ValuesIn(kConfigs), [](const auto& info) {
  const Options& o = info.param;
  return o.usePread ? std::string("pread")
                    : "depth" + std::to_string(o.depth) + "_merge" + std::to_string(o.mergeBytes / 1024) + "k";
});

TEST(ReadAhead, BuffersStayWithinTheBound) {
  PatternFile file(64 * kBlock);
  ScanFd fd(file.Path());
  for (const Options& o : {Config(1000, 1u << 20), Config(4, 100u << 20), Config(64, kBlock), Config(2, 100000)}) {
    auto engine = SequentialReadAhead::Create(fd.Get(), 0, 1ull << 40, kBlock, o);
    ASSERT_NE(engine, nullptr);
    EXPECT_LE(uint64_t{engine->Depth()} * engine->MergeBytes(), SequentialReadAhead::kMaxBufferBytes);
    EXPECT_EQ(engine->MergeBytes() % kBlock, 0u);
    EXPECT_GE(engine->MergeBytes(), kBlock);
  }
}

TEST(ReadAhead, EnvironmentForcesPread) {
  PatternFile file(4 * kBlock);
  ScanFd fd(file.Path());
  auto plain = SequentialReadAhead::Create(fd.Get(), 0, 4 * kBlock, kBlock, {});
  ASSERT_NE(plain, nullptr);
  if (plain->GetBackend() != SequentialReadAhead::Backend::kIoUring)
    GTEST_SKIP() << "io_uring is not usable here: " << plain->FallbackReason();
  EXPECT_EQ(plain->FallbackReason(), "");

  ::setenv(SequentialReadAhead::kNoIoUringVariable, "1", 1);
  auto forced = SequentialReadAhead::Create(fd.Get(), 0, 4 * kBlock, kBlock, {});
  ::setenv(SequentialReadAhead::kNoIoUringVariable, "0", 1);
  auto notForced = SequentialReadAhead::Create(fd.Get(), 0, 4 * kBlock, kBlock, {});
  ::unsetenv(SequentialReadAhead::kNoIoUringVariable);
  ASSERT_NE(forced, nullptr);
  EXPECT_EQ(forced->GetBackend(), SequentialReadAhead::Backend::kPread);
  EXPECT_NE(forced->FallbackReason().find(SequentialReadAhead::kNoIoUringVariable), std::string::npos);
  EXPECT_EQ(notForced->GetBackend(), SequentialReadAhead::Backend::kIoUring);
  for (uint64_t offset = 0; offset < 4 * kBlock; offset += kBlock) EXPECT_TRUE(forced->Take(offset, nullptr).ok);
}

TEST(ReadAhead, ReadsNoFurtherThanTheTakenBlocksNeed) {
  PatternFile file(64 * kBlock);
  ScanFd fd(file.Path());
  // Two blocks per read, four reads in flight.
  auto engine = SequentialReadAhead::Create(fd.Get(), 0, 64 * kBlock, kBlock, Config(4, 2 * kBlock));
  ASSERT_NE(engine, nullptr);
  if (engine->GetBackend() != SequentialReadAhead::Backend::kIoUring) GTEST_SKIP() << engine->FallbackReason();
  EXPECT_EQ(engine->GetStats().reads, 0u);  // nothing before the first Take
  for (uint64_t k = 0; k < 5; ++k) ASSERT_TRUE(engine->Take(k * kBlock, nullptr).ok);
  // Block 4 is in read 2; reads 2 to 5 may be in flight, no more.
  EXPECT_EQ(engine->GetStats().requestedEnd, 12 * kBlock);
  EXPECT_EQ(engine->GetStats().reads, 6u);
  // Destroyed with reads in flight: nothing may leak or be written after.
  engine.reset();
}

// --- loop devices over faultfs ----------------------------------------------

TEST(ReadAheadFaultyDevice, ExactlyTheBlocksOverABadRangeFail) {
  REQUIRE_FAULT_DEVICES();
  // 64 whole blocks and a last one of 12 KiB. Bad: two blocks in the same
  // 256 KiB / 1 MiB read (0, 1); two blocks on either side of a 256 KiB and
  // 1 MiB read boundary (31, 32); one sector inside block 39; the device's
  // last sector.
  const uint64_t sectors = 64 * 128 + 24;
  FaultDevice device(sectors, {"127-128", "4095-4096", "5000-5000", std::to_string(sectors - 1)}, {});
  ASSERT_TRUE(device.Usable());
  ScanFd fd(device.loop.Path());
  ASSERT_GE(fd.Get(), 0);
  const uint64_t size = sectors * 512;
  std::vector<Result> expected = AllGood(0, size);
  for (size_t k : {0, 1, 31, 32, 39, 64}) expected[k] = {false, EIO, 0};

  for (const Options& o : kConfigs) {
    SCOPED_TRACE("depth " + std::to_string(o.depth) + " merge " + std::to_string(o.mergeBytes) +
                 (o.usePread ? " pread" : ""));
    EXPECT_EQ(TakeAll(fd.Get(), 0, size, o), expected);
  }
}

TEST(ReadAheadFaultyDevice, ASlowBlockTakesItsDelayAtDepthOne) {
  REQUIRE_FAULT_DEVICES();
  FaultDevice device(32 * 128, {}, {"1280-1280:150"});  // block 10
  ASSERT_TRUE(device.Usable());
  ScanFd fd(device.loop.Path());
  for (const Options& o : {Config(1, 0, true), Config(1, kBlock)}) {
    auto engine = SequentialReadAhead::Create(fd.Get(), 0, 32 * uint64_t{kBlock}, kBlock, o);
    ASSERT_NE(engine, nullptr);
    std::vector<uint64_t> ready;
    for (uint64_t k = 0; k < 32; ++k) ready.push_back(engine->Take(k * kBlock, nullptr).readyNs);
    EXPECT_GE(ready[10] - ready[9], 150'000'000u) << (o.usePread ? "pread" : "io_uring");
    EXPECT_LT(ready[12] - ready[11], 150'000'000u) << (o.usePread ? "pread" : "io_uring");
  }
}

TEST(ReadAheadFaultyDevice, StopWithSlowReadsInFlight) {
  REQUIRE_FAULT_DEVICES();
  // Every read from block 5 on is slow. One block per read, four in flight:
  // taking block k issues the read of block k + 3 on its own, so reads of
  // blocks 5 to 7 are on their way when the consumer stops after block 4
  // (reads issued together may be merged into one by the block layer, and
  // the first Take would then wait for all of them).
  FaultDevice device(64 * 128, {}, {"640-8191:200"});
  ASSERT_TRUE(device.Usable());
  ScanFd fd(device.loop.Path());
  auto engine = SequentialReadAhead::Create(fd.Get(), 0, 64 * uint64_t{kBlock}, kBlock, Config(4, kBlock));
  ASSERT_NE(engine, nullptr);
  for (uint64_t k = 0; k < 5; ++k) ASSERT_TRUE(engine->Take(k * kBlock, nullptr).ok);
  EXPECT_EQ(engine->GetStats().requestedEnd, 8ull * kBlock);
  engine.reset();  // waits for the reads in flight
  const size_t served = device.faultfs.Trace().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  const std::vector<std::string> trace = device.faultfs.Trace();
  EXPECT_EQ(trace.size(), served) << "a read reached the disk after the engine was gone";
  for (const std::string& line : trace) EXPECT_LT(std::stoull(line), 8ull * kBlock) << line;
}

TEST(ReadAheadFaultyDevice, ALastBlockOverTheEndOfA4KiBSectorDevice) {
  REQUIRE_FAULT_DEVICES();
  // Such a device refuses an unbuffered read that crosses its end (EINVAL)
  // rather than cutting it short.
  const uint64_t size = 5 * kBlock + 12288;
  FaultDevice device(size / 512, {}, {}, 4096);
  ASSERT_TRUE(device.Usable());
  ScanFd fd(device.loop.Path());
  const uint64_t pastEnd = 6 * kBlock;  // the caller's last 64 KiB block runs over the end
  std::vector<Result> expected = AllGood(0, size);
  for (const Options& o : kConfigs) {
    EXPECT_EQ(TakeAll(fd.Get(), 0, size, o), expected);
    EXPECT_EQ(TakeAll(fd.Get(), 0, pastEnd, o), expected);
  }
}

}  // namespace
