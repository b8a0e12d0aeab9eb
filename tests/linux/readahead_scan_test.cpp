// Reading ahead through the Linux device port, and a whole scan run on top
// of it: every read of a stream gives what a lone read gives, at any queue
// depth; a run's cells, bad list, report and Scan.log are those of the
// one-at-a-time run; a stop with reads in flight takes no block after it
// and leaves nothing in flight.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/linux/LinuxMachine.h"
#include "disk/CDisk.h"
#include "disk/linux/DeviceIoLinux.h"
#include "disk/linux/SequentialReadAhead.h"
#include "fakes/FakeScan.h"
#include "fakes/FakeSystem.h"
#include "fakes/MemoryFileSystem.h"
#include "linux/FaultDevices.h"
#include "platform/ScanLog.h"
#include "scan/ScanRun.h"

namespace {

using namespace faultdev;

constexpr uint32_t kBlock = 65536;

bool IoUringUsable() { return SequentialReadAhead::IoUringProblem().empty(); }

// Sets an environment variable for as long as it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = ::getenv(name)) m_old = old, m_had = true;
    ::setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (m_had)
      ::setenv(m_name, m_old.c_str(), 1);
    else
      ::unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::string m_old;
  bool m_had = false;
};

struct PortRead {
  bool ok;
  uint32_t bytes;
  ReadError error;
  bool operator==(const PortRead&) const = default;
};

void PrintTo(const PortRead& r, std::ostream* os) {
  *os << (r.ok ? "ok " : "failed ") << r.bytes << " error " << static_cast<int>(r.error);
}

// A buffer for unbuffered reads of one block.
struct AlignedBlock {
  alignas(4096) uint8_t data[kBlock];
};

// Reads [begin, end) of a drive in 64 KiB reads, the last one asked in full
// over the end as the scan asks it, with the stream announced first (unless
// `announce` is false). Checks the data where it is wanted, and that the
// ready times never run backwards.
std::vector<PortRead> ReadAll(const std::string& path, uint32_t depth, uint64_t begin, uint64_t end, StreamData data,
                              bool announce = true) {
  LinuxDeviceIo io({path});
  io.SetQueueDepth(depth);
  const DeviceHandle device = io.OpenDrive(0);
  EXPECT_NE(device, kInvalidDevice);
  if (announce) io.ExpectSequential(device, begin, end, kBlock, data);
  const bool ahead = announce && depth > 1 && IoUringUsable();
  EXPECT_EQ(io.StreamsReadAhead(), ahead ? 1u : 0u) << "depth " << depth;
  std::vector<PortRead> reads;
  AlignedBlock block;
  uint8_t* aligned = block.data;
  uint64_t lastNs = 0;
  for (uint64_t offset = begin; offset < end; offset += kBlock) {
    std::fill(aligned, aligned + kBlock, 0xAA);
    const ReadResult r = io.ReadAt(device, offset, aligned, kBlock);
    reads.push_back({r.ok, r.bytes, r.error});
    EXPECT_GT(r.readyNs, 0u);
    EXPECT_GE(r.readyNs, lastNs) << "read at " << offset;
    lastNs = r.readyNs;
    // Read ahead, discarded bytes are not copied; read alone, they are.
    if (!r.ok || (data == StreamData::kDiscarded && !ahead)) continue;
    for (uint32_t i = 0; i < r.bytes; ++i) {
      const uint8_t want = data == StreamData::kWanted ? PatternAt(offset + i) : 0xAA;
      if (aligned[i] != want) {
        ADD_FAILURE() << "depth " << depth << ": byte " << offset + i << " is " << int{aligned[i]} << ", not "
                      << int{want};
        break;
      }
    }
  }
  if (announce) io.EndSequential(device);
  EXPECT_EQ(io.StreamsReadAhead(), 0u);
  io.Close(device);
  return reads;
}

TEST(LinuxDeviceIoStream, EveryDepthGivesWhatLoneReadsGive) {
  // 40 blocks and 3 sectors: the last read runs over the end and comes back
  // short.
  const uint64_t size = 40ull * kBlock + 3 * 512;
  PatternFile file(size);
  const uint64_t begin = 3 * kBlock;
  const std::vector<PortRead> alone = ReadAll(file.Path(), 1, begin, size, StreamData::kWanted, false);
  ASSERT_EQ(alone.size(), 38u);
  EXPECT_EQ(alone.back(), (PortRead{true, 3 * 512, ReadError::kNone}));
  for (uint32_t depth : {1u, 2u, 8u, 64u}) {
    EXPECT_EQ(ReadAll(file.Path(), depth, begin, size, StreamData::kWanted), alone) << "depth " << depth;
    EXPECT_EQ(ReadAll(file.Path(), depth, begin, size, StreamData::kDiscarded), alone) << "depth " << depth;
  }
}

TEST(LinuxDeviceIoStream, ReadsOutsideTheStreamAreReadAloneAndFillTheBuffer) {
  if (!IoUringUsable()) GTEST_SKIP() << SequentialReadAhead::IoUringProblem();
  PatternFile file(16 * kBlock);
  LinuxDeviceIo io({file.Path()});
  io.SetQueueDepth(8);
  const DeviceHandle device = io.OpenDrive(0);
  ASSERT_NE(device, kInvalidDevice);
  io.ExpectSequential(device, 0, 16 * kBlock, kBlock, StreamData::kDiscarded);
  auto blocks = std::make_unique<AlignedBlock[]>(2);
  uint8_t* a = blocks[0].data;
  uint8_t* b = blocks[1].data;
  std::fill(a, a + kBlock, 0xAA);
  ASSERT_TRUE(io.ReadAt(device, 0, a, kBlock).ok);
  EXPECT_EQ(a[0], 0xAA);  // the stream's bytes stay with the port
  // Not the stream's next read: another offset, or a shorter read of the
  // next block. Both are read here and now, into the buffer.
  ASSERT_TRUE(io.ReadAt(device, 9 * kBlock, b, kBlock).ok);
  EXPECT_EQ(b[5], PatternAt(9 * kBlock + 5));
  const ReadResult part = io.ReadAt(device, kBlock, b, 4096);
  EXPECT_EQ(part.bytes, 4096u);
  EXPECT_EQ(b[7], PatternAt(kBlock + 7));
  // The stream goes on where it was.
  for (uint64_t k = 1; k < 16; ++k) EXPECT_EQ(io.ReadAt(device, k * kBlock, a, kBlock).bytes, kBlock);
  EXPECT_EQ(a[0], 0xAA);
  // Closed with a stream still going: it ends with the device.
  io.ExpectSequential(device, 0, 16 * kBlock, kBlock, StreamData::kWanted);
  EXPECT_TRUE(io.ReadAt(device, 0, a, kBlock).ok);
  EXPECT_EQ(a[1], PatternAt(1));
  io.Close(device);
  EXPECT_EQ(io.StreamsReadAhead(), 0u);
}

TEST(LinuxDeviceIoStream, DeeperQueuesMakeSmallerReadsWithinTheBufferBound) {
  EXPECT_EQ(LinuxDeviceIo::ReadBytesAtDepth(1), 512u << 10);
  EXPECT_EQ(LinuxDeviceIo::ReadBytesAtDepth(16), 512u << 10);
  EXPECT_EQ(LinuxDeviceIo::ReadBytesAtDepth(17), 448u << 10);
  EXPECT_EQ(LinuxDeviceIo::ReadBytesAtDepth(32), 256u << 10);
  EXPECT_EQ(LinuxDeviceIo::ReadBytesAtDepth(64), 128u << 10);
  for (uint32_t depth = 1; depth <= LinuxDeviceIo::kMaxQueueDepth; ++depth) {
    const uint32_t bytes = LinuxDeviceIo::ReadBytesAtDepth(depth);
    EXPECT_EQ(bytes % kBlock, 0u) << depth;
    EXPECT_LE(uint64_t{bytes} * depth, LinuxDeviceIo::kStreamBufferBytes) << depth;
  }
  LinuxDeviceIo io({});
  EXPECT_EQ(io.QueueDepth(), 1u);  // a port made without a depth reads one block at a time
  io.SetQueueDepth(0);
  EXPECT_EQ(io.QueueDepth(), 1u);
  io.SetQueueDepth(1000);
  EXPECT_EQ(io.QueueDepth(), LinuxDeviceIo::kMaxQueueDepth);
}

TEST(LinuxDeviceIoStream, TheForcedFallbackIsKeptAsTheReasonAndReadsOneAtATime) {
  PatternFile file(8 * kBlock);
  const std::vector<PortRead> alone = ReadAll(file.Path(), 1, 0, 8 * kBlock, StreamData::kWanted, false);
  ScopedEnv forced(SequentialReadAhead::kNoIoUringVariable, "1");
  LinuxDeviceIo io({file.Path()});
  io.SetQueueDepth(8);
  EXPECT_EQ(io.ReadAheadProblem(), "MORVEK_NO_IO_URING is set");
  const DeviceHandle device = io.OpenDrive(0);
  io.ExpectSequential(device, 0, 8 * kBlock, kBlock, StreamData::kWanted);
  EXPECT_EQ(io.StreamsReadAhead(), 0u);
  io.Close(device);
  EXPECT_EQ(ReadAll(file.Path(), 8, 0, 8 * kBlock, StreamData::kWanted), alone);
  // One read at a time asked for: nothing falls back, nothing to say.
  io.SetQueueDepth(1);
  EXPECT_EQ(io.ReadAheadProblem(), "");
}

TEST(LinuxMachineReadAhead, TheFallbackIsNewsOnce) {
  PatternFile file(4 * kBlock);
  {
    ScopedEnv forced(SequentialReadAhead::kNoIoUringVariable, "1");
    LinuxMachine machine({file.Path()}, "", 8);
    EXPECT_EQ(machine.ReadAheadNews(), "MORVEK_NO_IO_URING is set");
    EXPECT_EQ(machine.ReadAheadNews(), "");
    EXPECT_EQ(LinuxMachine({file.Path()}, "", 1).ReadAheadNews(), "");  // nothing asked, nothing missed
  }
  if (IoUringUsable()) {
    EXPECT_EQ(LinuxMachine({file.Path()}, "", 8).ReadAheadNews(), "");
  }
}

// --- a scan run over the port ---------------------------------------------------

// A clock that moves only when told and can stop the run at the top of a
// pass of its loop: the pass reads the clock just before it looks at the
// stop request.
class StoppingClock : public FakeClock {
 public:
  std::atomic<int> calls{0};
  int stopAtCall = -1;
  ScanRun* run = nullptr;
  uint32_t TimeGetTime() override {
    if (++calls == stopAtCall && run != nullptr) run->RequestStop();
    return FakeClock::TimeGetTime();
  }
};

// A window that notes whether the port was reading ahead while the run
// showed its progress.
class WatchingView : public FakeScanView {
 public:
  explicit WatchingView(const LinuxDeviceIo& io) : m_io(io) {}
  void ShowPercent(const std::string& text) override {
    if (m_io.StreamsReadAhead() != 0) sawReadAhead = true;
    FakeScanView::ShowPercent(text);
  }
  std::atomic<bool> sawReadAhead{false};

 private:
  const LinuxDeviceIo& m_io;
};

// What one run over a device came to.
struct ScanOutcome {
  RunResult result;
  std::vector<uint64_t> failed;
  std::vector<std::pair<std::string, uint32_t>> cells;
  std::string report;
  std::string log;
  bool readAhead = false;         // the port read ahead during the run
  size_t streamsAfterTheRun = 1;  // streams still read ahead once it ended
};

// Scans drive 0 at a queue depth, with the clock stopping the run at its
// stopAtCall-th reading (-1: never).
ScanOutcome Scan(const std::string& device, uint32_t depth, int stopAtCall = -1) {
  PlatformProbe probe = PlatformProbe::DeviceSystem();
  LinuxDeviceIo io({device});
  io.SetQueueDepth(depth);
  FakeLocator locator;
  MemoryFileSystem files;
  ScanLog log(files, kLogFile);
  StoppingClock clock;
  WatchingView view(io);
  CDrawPicModel chart;
  CDisk disk(DiskPorts{probe, io, locator, log, nullptr});
  ScanOutcome out;
  {
    ScanRun run(clock, files, view);
    clock.run = &run;
    clock.stopAtCall = stopAtCall + 1;  // Start reads the clock once first
    RunSetup setup{disk};
    setup.totalSectors = disk.TotalSectors(0);
    setup.deviceSectors = disk.DeviceSectors(0);
    setup.chart = &chart;
    run.Start(std::move(setup));
    run.Wait();
    out.result = run.LastResult();
  }
  out.failed = view.failedReads;
  for (int i = 0; i < chart.GetCurveCount(); ++i)
    out.cells.emplace_back(chart.GetCurve(i)->m_name, chart.GetCurve(i)->m_color);
  out.report = files.Text(kReportFile);
  out.log = files.Text(kLogFile);
  out.readAhead = view.sawReadAhead;
  out.streamsAfterTheRun = io.StreamsReadAhead();
  return out;
}

TEST(ReadAheadScan, EveryDepthGivesTheOneAtATimeRunsResults) {
  REQUIRE_FAULT_DEVICES();
  // Three whole cylinders and 575 sectors more (cells of 19 sectors). Bad:
  // a range over the boundary of two 512 KiB reads (sectors 1023-1024), two
  // blocks inside one 512 KiB read (2100 and 2200), one over the boundary of
  // two 128 KiB reads (depth 64: 8447-8448), a block past the whole
  // cylinders, and the device's last sector. Slow: a stretch in the middle.
  const uint64_t sectors = 3 * 16065 + 575;
  FaultDevice device(sectors, {"1023-1024", "2100", "2200", "8447-8448", "48300", std::to_string(sectors - 1)},
                     {"20000-21000:20"});
  ASSERT_TRUE(device.Usable());
  const ScanOutcome alone = Scan(device.loop.Path(), 1);
  EXPECT_FALSE(alone.readAhead);
  EXPECT_EQ(alone.failed, (std::vector<uint64_t>{896, 1024, 2048, 2176, 8320, 8448, 48256, (sectors - 1) / 128 * 128}));
  EXPECT_FALSE(alone.result.clean);
  EXPECT_EQ(alone.result.badCount, 8u);
  for (uint32_t depth : {2u, 8u, 64u}) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    const ScanOutcome ahead = Scan(device.loop.Path(), depth);
    EXPECT_EQ(ahead.failed, alone.failed);
    EXPECT_EQ(ahead.cells, alone.cells);
    EXPECT_EQ(ahead.report, alone.report);
    EXPECT_EQ(ahead.log, alone.log);
    EXPECT_EQ(ahead.result.scanPosition, alone.result.scanPosition);
    EXPECT_EQ(ahead.readAhead, IoUringUsable());
    EXPECT_EQ(ahead.streamsAfterTheRun, 0u);
  }
}

TEST(ReadAheadScanConcurrent, AStopWithReadsInFlightTakesNoBlockAfterIt) {
  REQUIRE_FAULT_DEVICES();
  // Every read from block 20 on waits 150 ms. The run is stopped at the top
  // of its 31st pass, with the reads of the blocks after it on their way.
  // Blocks 23 and 30 are bad: the first is taken, the second must not be
  // (a block taken says so in Scan.log, whatever the run does with it).
  const uint64_t sectors = 3 * 16065;
  FaultDevice device(sectors, {"3000", "3900"}, {"2560-48194:150"});
  ASSERT_TRUE(device.Usable());
  const auto start = std::chrono::steady_clock::now();
  const ScanOutcome stopped = Scan(device.loop.Path(), 8, 31);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_TRUE(stopped.result.stopped);
  EXPECT_EQ(stopped.result.scanPosition, 30u * 128);  // the pass that saw the stop read nothing
  EXPECT_EQ(stopped.failed, std::vector<uint64_t>{2944});
  EXPECT_EQ(stopped.log.find("ReadFile failed"), stopped.log.rfind("ReadFile failed")) << stopped.log;
  EXPECT_EQ(stopped.readAhead, IoUringUsable());
  EXPECT_EQ(stopped.streamsAfterTheRun, 0u);
  EXPECT_LT(seconds, 5.0);
  // Nothing of the run reached the device after it ended, and nothing was
  // asked for beyond the reads in flight: 8 reads of 512 KiB ahead of the
  // last block taken.
  const std::vector<std::string> trace = device.faultfs.Trace();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(device.faultfs.Trace().size(), trace.size()) << "a read reached the device after the run";
  uint64_t furthest = 0;
  for (const std::string& line : trace) {
    std::istringstream in(line);
    uint64_t offset = 0, length = 0;
    in >> offset >> length;
    furthest = std::max(furthest, offset + length);
  }
  EXPECT_GE(furthest, 30ull * kBlock);
  EXPECT_LE(furthest, 29ull * kBlock + 8 * (512ull << 10) + (512ull << 10));
}

}  // namespace
