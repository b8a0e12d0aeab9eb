#pragma once
// Reads a stretch of a device front to back with several reads in flight, so
// that the block the scan wants next is usually already in memory.
//
// The consumer takes blocks strictly in disk order and sees, for every block,
// what a lone pread of that block would have told it: success with the bytes
// read (fewer for a block cut at the end), or the errno of the failure. Reads
// may be merged for speed, but a merged read that fails (or comes back short)
// is read again block by block, each block alone with nothing else in flight,
// so that exactly the failing blocks fail: the block layer merges adjacent
// reads in flight, and one bad sector fails the whole merged request. After
// a block read alone fails, the blocks read ahead of it are read again too,
// so that in disk order no block reads well on the strength of a read made
// before an earlier block failed: a disk that vanishes shows as one row of
// failures to its end.
//
// The device is never written: the engine only reads from the descriptor it
// is given (which the caller opens O_RDONLY, with O_DIRECT where allowed).
#include <cstdint>
#include <memory>
#include <string>

// The outcome of one block, in the order the blocks were taken.
struct BlockRead {
  bool ok = false;
  int error = 0;       // errno when !ok
  uint32_t bytes = 0;  // bytes read when ok: the block's size, less for a block cut at the end or a short read
  // CLOCK_MONOTONIC nanoseconds when this block's result was known to the
  // engine, never earlier than the previous block's: readyNs(k) - readyNs(k-1)
  // is the time from the previous block's completion to this one's. With one
  // read at a time this is the read's own latency.
  uint64_t readyNs = 0;
  // The bytes read, inside the engine's buffers: valid until the next Take or
  // the engine's end. Null when !ok.
  const void* data = nullptr;
};

class SequentialReadAhead {
 public:
  enum class Backend {
    kIoUring,  // reads in flight through io_uring
    kPread,    // one pread per Take, nothing read ahead
  };

  // Buffers stay within this bound, whatever depth and merge size are asked
  // for: depth is lowered until depth x mergeBytes fits.
  static constexpr uint32_t kMaxBufferBytes = 8u << 20;
  // What the benchmark on a 4 GiB loop device in direct-I/O mode showed
  // best (as fast as 8 x 1 MiB, on half the memory).
  static constexpr uint32_t kDefaultDepth = 8;
  static constexpr uint32_t kDefaultMergeBytes = 512u << 10;
  // Set (to anything but "" or "0") it makes Create use pread: for tests and
  // for machines whose io_uring misbehaves.
  static constexpr const char* kNoIoUringVariable = "MORVEK_NO_IO_URING";

  struct Options {
    uint32_t depth = kDefaultDepth;            // reads in flight at most (at least 1)
    uint32_t mergeBytes = kDefaultMergeBytes;  // bytes per read; rounded down to whole blocks, at least one
    bool usePread = false;                     // one pread per Take: today's one-at-a-time loop
  };

  // Counters for tests and benchmarks.
  struct Stats {
    uint64_t reads = 0;         // reads issued to the kernel, retries and re-reads included
    uint64_t rereadBlocks = 0;  // blocks read again alone because their request failed or came back short
    uint64_t resubmits = 0;     // requests issued again after EINTR, EAGAIN or ECANCELED
    uint64_t requestedEnd = 0;  // the end of the furthest byte range asked of the kernel so far
  };

  // Reads [begin, end) of fd in blockBytes steps: block k starts at
  // begin + k x blockBytes; the last may be cut at end, which is at most the
  // device's size. begin and blockBytes must be multiples of 512.
  //
  // Returns null, with the reason in *whyNot, only for arguments it cannot
  // work with. Where io_uring is unavailable (ENOSYS, EPERM in containers, a
  // kernel without the read operation) or kNoIoUringVariable is set, it
  // returns a pread engine whose FallbackReason() says why: the caller says
  // so once.
  static std::unique_ptr<SequentialReadAhead> Create(int fd, uint64_t begin, uint64_t end, uint32_t blockBytes,
                                                     const Options& options, std::string* whyNot = nullptr);

  SequentialReadAhead(const SequentialReadAhead&) = delete;
  SequentialReadAhead& operator=(const SequentialReadAhead&) = delete;
  // Issues nothing new; reads still in flight are cancelled where the kernel
  // can, and waited for where it cannot, before the buffers go.
  virtual ~SequentialReadAhead() = default;

  // The block at offset, which must be the next one in disk order (begin
  // first); anything else is refused with EINVAL and changes nothing. New
  // reads are issued only here, so once the caller stops taking blocks no
  // further read reaches the device. dst, when not null, receives the bytes
  // read (at least blockBytes of room); a caller that does not need the data
  // passes null and saves the copy.
  virtual BlockRead Take(uint64_t offset, void* dst) = 0;

  // The block the next Take must name: its offset and length (the length is
  // 0 once every block has been taken).
  virtual uint64_t NextOffset() const = 0;
  virtual uint32_t NextLength() const = 0;

  Backend GetBackend() const { return m_backend; }
  // Why io_uring is not used although it was asked for; empty otherwise.
  const std::string& FallbackReason() const { return m_fallbackReason; }
  uint32_t Depth() const { return m_depth; }
  uint32_t MergeBytes() const { return m_mergeBytes; }
  uint32_t BlockBytes() const { return m_blockBytes; }
  const Stats& GetStats() const { return m_stats; }

  // CLOCK_MONOTONIC in nanoseconds, the clock of BlockRead::readyNs.
  static uint64_t NowNs();

  // Why Create would read with pread here whatever it is asked (io_uring
  // unavailable, or kNoIoUringVariable set); empty when io_uring can be
  // used. Sets up and drops a small ring to find out.
  static std::string IoUringProblem();

 protected:
  SequentialReadAhead() = default;

  Backend m_backend = Backend::kPread;
  std::string m_fallbackReason;
  uint32_t m_depth = 1;
  uint32_t m_mergeBytes = 0;
  uint32_t m_blockBytes = 0;
  Stats m_stats;
};
