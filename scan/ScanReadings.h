#pragma once
// What a run's reads tell about a disk's health, beside good and bad: how
// long each 64 KB block took, in classes, the slowest blocks, the read speed
// along the disk, and a one-line verdict. The run hands every block here as
// it consumes it (IRunReadings); the front end shows and saves the result.
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Read-time classes of a block: under 5 ms, 5 to 20, 20 to 50, 50 to 200,
// 200 to 600, 600 ms and over (each lower limit included), and errors.
constexpr std::array<uint32_t, 5> kLatencyLimitsMs = {5, 20, 50, 200, 600};
constexpr size_t kLatencyClasses = kLatencyLimitsMs.size() + 1;
// A block of 200 ms or more is slow: the drive read it only after retries.
constexpr uint32_t kSlowMs = 200;
constexpr uint32_t kVerySlowMs = 600;
constexpr size_t kSlowestKept = 100;

// The class of a read time in nanoseconds: 0 (under 5 ms) to 5 (600 ms and over).
size_t LatencyClass(uint64_t ns);

// What the run tells, block by block, in disk order. Called on the worker's
// thread.
class IRunReadings {
 public:
  virtual ~IRunReadings() = default;
  // The block of `sectors` sectors at `sector` read (or failed) `ns`
  // nanoseconds after the previous block's result: at one read in flight,
  // the read's own time. `cell` is the map cell it belongs to.
  virtual void Block(uint64_t sector, uint32_t sectors, bool ok, uint64_t ns, int32_t cell) = 0;
};

struct BadBlock {
  uint64_t sector;
  uint32_t sectors;
  bool operator==(const BadBlock&) const = default;
};

struct SlowBlock {
  uint64_t sector;
  double ms;
  bool operator==(const SlowBlock&) const = default;
};

struct SpeedPoint {
  uint64_t sector;     // where the stretch starts
  double mbPerSecond;  // MB = 2^20 bytes, as the window's speed label counts
};

// The verdict on the disk, one line.
struct Verdict {
  enum class Level { kClean, kWatch, kBad };
  Level level = Level::kClean;
  std::string text;
};

// Clean; clean but N slow blocks (200 ms and over): watch this disk; N
// unreadable blocks. Unreadable blocks decide before slow ones.
Verdict JudgeDisk(uint64_t unreadable, uint64_t slow);

// A copy of everything collected, at one moment.
struct ReadingsSnapshot {
  uint64_t blocks = 0;  // blocks read or failed
  std::array<uint64_t, kLatencyClasses> counts{};
  uint64_t errors = 0;
  uint64_t slow = 0;       // good blocks of 200 ms and more
  uint64_t bytesRead = 0;  // by good reads
  uint64_t readNs = 0;     // the time of all blocks
  std::vector<BadBlock> badBlocks;
  std::vector<SlowBlock> slowest;  // slowest first
  std::vector<SpeedPoint> speed;
};

// The speed curve's raw sums: bytes read well and time spent in each
// stretch of the range.
struct SpeedStretch {
  uint64_t bytes = 0;
  uint64_t ns = 0;
  bool operator==(const SpeedStretch&) const = default;
};

class ScanReadings : public IRunReadings {
 public:
  // Readings of a run over [firstSector, endSector): the speed curve has
  // `points` stretches of equal length (one per 1/1000 of the range).
  ScanReadings(uint64_t firstSector, uint64_t endSector, size_t points = 1000);

  // What an earlier run of the same range collected, for a run that goes
  // on from it: its totals, bad blocks, slowest blocks and stretches.
  void Restore(const ReadingsSnapshot& totals, const std::vector<SpeedStretch>& stretches);
  std::vector<SpeedStretch> Stretches() const;

  void Block(uint64_t sector, uint32_t sectors, bool ok, uint64_t ns, int32_t cell) override;

  ReadingsSnapshot Snapshot() const;
  // The worst read time of each map cell so far (ns; 0 for none), for the
  // terminal map's slow cells.
  std::vector<uint64_t> WorstPerCell() const;
  // The class counts in one compact line, e.g. "<5ms 1200 5-20 3 ... err 0".
  std::string ClassCountsLine() const;

 private:
  using Stretch = SpeedStretch;
  mutable std::mutex m_lock;
  const uint64_t m_first;
  const uint64_t m_end;
  ReadingsSnapshot m_data;
  std::vector<Stretch> m_stretches;
  std::vector<uint64_t> m_worstPerCell;
};
