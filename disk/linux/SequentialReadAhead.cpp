#include "disk/linux/SequentialReadAhead.h"

#include <liburing.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kSector = 512;
// Direct I/O wants buffers aligned to the logical block size; no Linux block
// device has one larger than a page.
constexpr size_t kBufferAlignment = 4096;
// A request that keeps coming back with EINTR, EAGAIN or ECANCELED is issued
// again this many times; after that its blocks are read alone with pread,
// which cannot say EAGAIN on a blocking descriptor.
constexpr int kMaxResubmits = 4;
// The largest ring worth having: reads in flight never exceed the depth,
// which the buffer bound keeps far below this.
constexpr uint32_t kMaxRingEntries = 4096;
// user_data of the cancellation the destructor sends; reads carry their
// slot's number plus one.
constexpr uint64_t kCancelTag = 0;

uint64_t DeviceSizeOf(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return 0;
  if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
  uint64_t size = 0;
  if (S_ISBLK(st.st_mode) && ioctl(fd, BLKGETSIZE64, &size) == 0) return size;
  return 0;
}

uint32_t RoundUp(uint32_t value, uint32_t unit) { return (value + unit - 1) / unit * unit; }

// One pread: the bytes read or -errno. EINTR is not a result.
int64_t PreadOnce(int fd, uint8_t* buffer, uint64_t offset, uint32_t length) {
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, length, static_cast<off_t>(offset));
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

struct FreeAligned {
  void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t(kBufferAlignment)); }
};
using AlignedBuffer = std::unique_ptr<uint8_t[], FreeAligned>;

AlignedBuffer AllocateAligned(size_t bytes) {
  return AlignedBuffer(
      static_cast<uint8_t*>(::operator new[](bytes, std::align_val_t(kBufferAlignment), std::nothrow)));
}

// The read buffers sit on huge pages where the kernel grants them. A direct
// read pins its buffer's pages and hands the device one segment per page:
// on 4 KiB pages a 512 KiB read is 128 of them, on a huge page one. On a
// loop device in a virtual machine that made reads in flight about four
// times as fast (bench/run-bench.sh). Without huge pages the buffers are
// plain ones, and just as correct.
constexpr size_t kHugePage = 2u << 20;

struct FreeHuge {
  void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t(kHugePage)); }
};
using HugeBuffer = std::unique_ptr<uint8_t[], FreeHuge>;

HugeBuffer AllocateHuge(size_t bytes) {
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  HugeBuffer buffer(static_cast<uint8_t*>(::operator new[](rounded, std::align_val_t(kHugePage), std::nothrow)));
  if (buffer == nullptr) return buffer;
  (void)::madvise(buffer.get(), rounded, MADV_HUGEPAGE);  // a hint: refused, the pages stay small
  // Touched now, so that the pages are in place before the first read.
  std::memset(buffer.get(), 0, rounded);
  return buffer;
}

bool NoIoUringRequested() {
  const char* value = std::getenv(SequentialReadAhead::kNoIoUringVariable);
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

std::string RingSetupProblem(int ret) { return std::string("io_uring is unavailable: ") + std::strerror(-ret); }

// Empty when the ring can read; else why not.
std::string RingReadProblem(io_uring& ring) {
  io_uring_probe* probe = io_uring_get_probe_ring(&ring);
  const bool canRead = probe != nullptr && io_uring_opcode_supported(probe, IORING_OP_READ);
  if (probe != nullptr) io_uring_free_probe(probe);
  return canRead ? std::string() : "this kernel's io_uring has no read operation";
}

std::string NoIoUringReason() { return std::string(SequentialReadAhead::kNoIoUringVariable) + " is set"; }

// What both engines share: the block grid, the order of taking, the timing
// and the one-block read with its retries.
class ReadAheadCommon : public SequentialReadAhead {
 public:
  uint64_t NextOffset() const override { return BlockOffset(m_next); }
  uint32_t NextLength() const override { return m_next < BlockCount() ? BlockLength(m_next) : 0; }

 protected:
  ReadAheadCommon(int fd, uint64_t begin, uint64_t end, uint32_t blockBytes, uint64_t deviceSize)
      : m_fd(fd), m_begin(begin), m_end(end), m_deviceSize(deviceSize) {
    m_blockBytes = blockBytes;
  }

  uint64_t BlockCount() const { return (m_end - m_begin + m_blockBytes - 1) / m_blockBytes; }
  uint64_t BlockOffset(uint64_t block) const { return m_begin + block * m_blockBytes; }
  uint32_t BlockLength(uint64_t block) const {
    return static_cast<uint32_t>(std::min<uint64_t>(m_blockBytes, m_end - BlockOffset(block)));
  }

  // Whether the block at offset is the one to take next.
  bool IsNext(uint64_t offset) const { return m_next < BlockCount() && offset == BlockOffset(m_next); }

  static BlockRead Refused() {
    BlockRead r;
    r.error = EINVAL;
    return r;
  }

  // Hands the next block's result to the consumer: readyNs never runs
  // backwards, so per-block times stay in disk order.
  BlockRead Deliver(int64_t result, uint64_t doneNs, const uint8_t* data, void* dst) {
    BlockRead r;
    r.readyNs = std::max(doneNs, m_lastReadyNs);
    m_lastReadyNs = r.readyNs;
    // A block read alone that still comes back short of the stretch's and
    // the device's end failed part way: it was not read.
    if (result >= 0 && result < BlockLength(m_next)) {
      const uint64_t end = m_deviceSize != 0 ? std::min(m_end, m_deviceSize) : m_end;
      if (BlockOffset(m_next) + static_cast<uint64_t>(result) < end) result = -EIO;
    }
    if (result >= 0) {
      r.ok = true;
      r.bytes = static_cast<uint32_t>(std::min<int64_t>(result, BlockLength(m_next)));
      r.data = data;
      if (dst != nullptr && r.bytes > 0) std::memcpy(dst, data, r.bytes);
    } else {
      r.error = static_cast<int>(-result);
    }
    ++m_next;
    return r;
  }

  // What to ask of the kernel for `wanted` bytes: direct I/O takes lengths in
  // whole sectors, and the read past the end of a file comes back short.
  static uint32_t RequestLength(uint32_t wanted) { return RoundUp(wanted, kSector); }

  // The length to try next after the kernel refused a one-block read with
  // EINVAL; `stage` counts the tries so far. 0 when nothing is left to try.
  // Devices with 4 KiB logical blocks refuse an unbuffered read that crosses
  // their end instead of cutting it short; some file systems take direct
  // reads only in 4 KiB units.
  uint32_t LengthAfterEinval(uint64_t offset, uint32_t wanted, uint32_t& stage) const {
    const uint32_t first = RequestLength(wanted);
    uint32_t cut = 0;
    if (m_deviceSize > offset && offset + first > m_deviceSize) cut = static_cast<uint32_t>(m_deviceSize - offset);
    const uint32_t aligned = RoundUp(wanted, kBufferAlignment);
    const uint32_t tries[] = {first, cut, aligned};
    while (++stage < 3) {
      const uint32_t length = tries[stage];
      if (length != 0 && std::find(tries, tries + stage, length) == tries + stage) return length;
    }
    return 0;
  }

  // One block read now with pread, with the retries above.
  int64_t ReadBlockNow(uint8_t* buffer, uint64_t block) {
    const uint64_t offset = BlockOffset(block);
    const uint32_t wanted = BlockLength(block);
    uint32_t length = RequestLength(wanted);
    uint32_t stage = 0;
    for (;;) {
      NoteRead(offset, length);
      const int64_t result = PreadOnce(m_fd, buffer, offset, length);
      if (result != -EINVAL) return result;
      length = LengthAfterEinval(offset, wanted, stage);
      if (length == 0) return result;
    }
  }

  void NoteRead(uint64_t offset, uint32_t length) {
    ++m_stats.reads;
    m_stats.requestedEnd = std::max(m_stats.requestedEnd, offset + length);
  }

  const int m_fd;
  const uint64_t m_begin;
  const uint64_t m_end;
  const uint64_t m_deviceSize;  // 0 when unknown
  uint64_t m_next = 0;          // the block to take next
  uint64_t m_lastReadyNs = 0;
};

// Today's loop: one pread per Take, nothing in flight between Takes.
class PreadReadAhead final : public ReadAheadCommon {
 public:
  PreadReadAhead(int fd, uint64_t begin, uint64_t end, uint32_t blockBytes, uint64_t deviceSize, std::string reason)
      : ReadAheadCommon(fd, begin, end, blockBytes, deviceSize), m_buffer(AllocateAligned(blockBytes)) {
    m_backend = Backend::kPread;
    m_fallbackReason = std::move(reason);
    m_depth = 1;
    m_mergeBytes = blockBytes;
  }

  bool Ready() const { return m_buffer != nullptr; }

  BlockRead Take(uint64_t offset, void* dst) override {
    if (!IsNext(offset)) return Refused();
    const int64_t result = ReadBlockNow(m_buffer.get(), m_next);
    return Deliver(result, NowNs(), m_buffer.get(), dst);
  }

 private:
  AlignedBuffer m_buffer;
};

// Reads in flight through io_uring.
//
// Blocks are grouped into requests of up to blocksPerRead blocks, one read
// each; request r lives in slot r mod depth of a ring of buffers. A slot is
// handed back when the consumer takes a block past its request, and only
// then is the next request put into it: reads are issued only as blocks are
// taken.
//
// A block that its request did not read in full (the read failed or came
// back short) is read again alone when its turn comes, with nothing else of
// ours in flight. Alone matters: the block layer merges adjacent reads in
// flight into one request to the device, and a bad sector then fails the
// whole merged request, good neighbours included.
class UringReadAhead final : public ReadAheadCommon {
 public:
  UringReadAhead(int fd, uint64_t begin, uint64_t end, uint32_t blockBytes, uint64_t deviceSize, uint32_t depth,
                 uint32_t mergeBytes)
      : ReadAheadCommon(fd, begin, end, blockBytes, deviceSize) {
    m_backend = Backend::kIoUring;
    m_depth = depth;
    m_mergeBytes = mergeBytes;
    m_blocksPerRead = mergeBytes / blockBytes;
  }

  ~UringReadAhead() override {
    if (!m_ringReady) return;
    if (m_inFlight > 0 && !m_ringFailed) {
      // Reads the kernel has not started yet can be called off; those on
      // their way to the device cannot, and are waited for: their buffers
      // must outlive them.
      if (io_uring_sqe* sqe = io_uring_get_sqe(&m_ring)) {
        io_uring_prep_cancel64(sqe, 0, IORING_ASYNC_CANCEL_ANY);
        io_uring_sqe_set_data64(sqe, kCancelTag);
        while (io_uring_submit(&m_ring) == -EINTR) {
        }
      }
      while (m_inFlight > 0) {
        io_uring_cqe* cqe = nullptr;
        const int ret = io_uring_wait_cqe(&m_ring, &cqe);
        if (ret == -EINTR || ret == -EAGAIN || ret == -ETIME) continue;
        if (ret < 0) break;
        unsigned head;
        unsigned seen = 0;
        io_uring_for_each_cqe(&m_ring, head, cqe) {
          if (cqe->user_data != kCancelTag) --m_inFlight;
          ++seen;
        }
        io_uring_cq_advance(&m_ring, seen);
      }
    }
    io_uring_queue_exit(&m_ring);
    // Should the kernel still hold reads we could not wait for, their
    // buffers are left to it rather than handed back to the allocator.
    if (m_inFlight > 0) (void)m_buffers.release();
  }

  // Sets up the ring and the buffers; false with the reason when io_uring
  // cannot be used here.
  bool Init(std::string* why) {
    const size_t slotBytes = size_t{m_blocksPerRead} * m_blockBytes;
    m_buffers = AllocateHuge(slotBytes * m_depth);
    m_bounce = AllocateAligned(m_blockBytes);
    if (m_buffers == nullptr || m_bounce == nullptr) {
      *why = "no memory for the read buffers";
      return false;
    }
    m_slots.resize(m_depth);
    for (uint32_t s = 0; s < m_depth; ++s) {
      m_slots[s].buffer = m_buffers.get() + s * slotBytes;
      m_slots[s].blocks.resize(m_blocksPerRead);
    }

    // Room for every request and the destructor's cancellation.
    unsigned entries = 4;
    while (entries < std::min(m_depth + 1, kMaxRingEntries)) entries *= 2;
    // Default setup: COOP_TASKRUN and DEFER_TASKRUN showed no gain on loop
    // devices, and the latter would tie the ring to one thread.
    const int ret = io_uring_queue_init(entries, &m_ring, 0);
    if (ret < 0) {
      *why = RingSetupProblem(ret);
      return false;
    }
    m_ringReady = true;
    *why = RingReadProblem(m_ring);
    return why->empty();
  }

  BlockRead Take(uint64_t offset, void* dst) override {
    if (!IsNext(offset)) return Refused();
    const uint64_t k = m_next;
    HandBackBefore(k);
    Refill();
    Submit();
    Slot& slot = m_slots[(k / m_blocksPerRead) % m_depth];
    const bool inSlot = slot.count > 0 && slot.first <= k && k < slot.first + slot.count;
    BlockState* block = inSlot ? &slot.blocks[k - slot.first] : nullptr;
    while (block != nullptr && block->state == BlockState::kPending && !m_ringFailed) {
      if (m_inFlight == 0) {
        m_ringFailed = true;  // nothing could make it known: never wait for that
        break;
      }
      Reap();
      Submit();
    }
    if (block != nullptr && block->state == BlockState::kKnown)
      return Deliver(block->result, block->doneNs, slot.buffer + (k - slot.first) * m_blockBytes, dst);

    // Read alone, as described above; where io_uring failed under us, into a
    // buffer no read in flight can reach.
    while (m_inFlight > 0 && !m_ringFailed) {
      Reap();
      Submit();
    }
    uint8_t* buffer = m_ringFailed || block == nullptr ? m_bounce.get() : slot.buffer + (k - slot.first) * m_blockBytes;
    ++m_stats.rereadBlocks;
    const int64_t result = ReadBlockNow(buffer, k);
    if (result < 0) ForgetReadAfter(k);
    return Deliver(result, NowNs(), buffer, dst);
  }

 private:
  struct BlockState {
    enum State : uint8_t { kPending, kKnown, kAlone } state = kPending;  // kAlone: to be read alone
    int64_t result = 0;                                                  // bytes read or -errno
    uint64_t doneNs = 0;
  };
  struct Slot {
    uint64_t first = 0;   // the request's first block
    uint32_t count = 0;   // its blocks; 0 while the slot is free
    uint32_t length = 0;  // bytes asked of the kernel
    int resubmits = 0;
    uint8_t* buffer = nullptr;
    std::vector<BlockState> blocks;
  };

  uint64_t RequestCount() const { return (BlockCount() + m_blocksPerRead - 1) / m_blocksPerRead; }

  // The consumer has moved on to block k: requests wholly before it are done
  // with (their data was valid until this Take).
  void HandBackBefore(uint64_t k) {
    while (m_handedBack < m_issued && (m_handedBack + 1) * m_blocksPerRead <= k) {
      m_slots[m_handedBack % m_depth].count = 0;
      ++m_handedBack;
    }
  }

  // Block k, read alone, failed. What the requests after it brought was read
  // before that failure: had the disk gone away meanwhile (a cable pulled, a
  // USB bridge reset), those blocks would read well after blocks that failed
  // because it was gone, and the consumer could not tell a vanished disk from
  // bad sectors. So they are read again, alone, in disk order: from the first
  // failure on, a later block is always read later.
  void ForgetReadAfter(uint64_t k) {
    for (uint64_t r = m_handedBack; r < m_issued; ++r) {
      Slot& slot = m_slots[r % m_depth];
      for (uint32_t i = 0; i < slot.count; ++i) {
        BlockState& block = slot.blocks[i];
        if (slot.first + i > k && block.state == BlockState::kKnown) block.state = BlockState::kAlone;
      }
    }
  }

  void Refill() {
    while (!m_ringFailed && m_issued < RequestCount() && m_issued - m_handedBack < m_depth) {
      const uint32_t s = static_cast<uint32_t>(m_issued % m_depth);
      Slot& slot = m_slots[s];
      slot.first = m_issued * m_blocksPerRead;
      slot.count = static_cast<uint32_t>(std::min<uint64_t>(m_blocksPerRead, BlockCount() - slot.first));
      const uint64_t bytes = std::min<uint64_t>(uint64_t{slot.count} * m_blockBytes, m_end - BlockOffset(slot.first));
      slot.length = RequestLength(static_cast<uint32_t>(bytes));
      slot.resubmits = 0;
      for (uint32_t i = 0; i < slot.count; ++i) slot.blocks[i] = BlockState{};
      ++m_issued;
      Queue(s);
    }
  }

  void Queue(uint32_t s) {
    // The ring has room for every request at once.
    io_uring_sqe* sqe = io_uring_get_sqe(&m_ring);
    if (sqe == nullptr) {
      m_ringFailed = true;
      return;
    }
    const Slot& slot = m_slots[s];
    const uint64_t offset = BlockOffset(slot.first);
    io_uring_prep_read(sqe, m_fd, slot.buffer, slot.length, offset);
    io_uring_sqe_set_data64(sqe, uint64_t{s} + 1);
    ++m_queued;
    NoteRead(offset, slot.length);
  }

  // Hands what is queued to the kernel. Called only between Reaps, never
  // from within one.
  void Submit() {
    int idle = 0;
    while (m_queued > 0 && !m_ringFailed) {
      const int ret = io_uring_submit(&m_ring);
      if (ret > 0) {
        const uint32_t n = std::min(static_cast<uint32_t>(ret), m_queued);
        m_queued -= n;
        m_inFlight += n;
        idle = 0;
      } else if (ret == -EINTR) {
        continue;
      } else if ((ret == 0 || ret == -EAGAIN || ret == -EBUSY) && ++idle < 1000) {
        // The kernel is short of room: let completions make some.
        if (m_inFlight > 0) {
          Reap();
        } else {
          const timespec pause{0, 1000000};
          nanosleep(&pause, nullptr);
        }
      } else {
        m_ringFailed = true;
      }
    }
  }

  // Waits for at least one completion and handles all that are there; the
  // reads this queues again (after EINTR and the like) are left for Submit.
  void Reap() {
    io_uring_cqe* cqe = nullptr;
    const int ret = io_uring_wait_cqe(&m_ring, &cqe);
    if (ret == -EINTR || ret == -EAGAIN || ret == -ETIME) return;
    if (ret < 0) {
      m_ringFailed = true;
      return;
    }
    const uint64_t now = NowNs();
    unsigned head;
    unsigned seen = 0;
    io_uring_for_each_cqe(&m_ring, head, cqe) {
      ++seen;
      if (cqe->user_data == kCancelTag) continue;
      --m_inFlight;
      Complete(static_cast<uint32_t>(cqe->user_data - 1), cqe->res, now);
    }
    io_uring_cq_advance(&m_ring, seen);
  }

  void Complete(uint32_t s, int res, uint64_t now) {
    Slot& slot = m_slots[s];
    if ((res == -EINTR || res == -EAGAIN || res == -ECANCELED) && slot.resubmits < kMaxResubmits) {
      ++slot.resubmits;
      ++m_stats.resubmits;
      Queue(s);
      return;
    }
    // The blocks read in full are done; each other one will be read alone.
    for (uint32_t i = 0; i < slot.count; ++i) {
      const uint32_t wanted = BlockLength(slot.first + i);
      if (res >= 0 && static_cast<int64_t>(i) * m_blockBytes + wanted <= res) {
        slot.blocks[i] = BlockState{BlockState::kKnown, wanted, now};
      } else {
        slot.blocks[i].state = BlockState::kAlone;
      }
    }
  }

  io_uring m_ring{};
  bool m_ringReady = false;
  bool m_ringFailed = false;  // from then on every unread block is read with pread
  uint32_t m_blocksPerRead = 1;
  HugeBuffer m_buffers;
  AlignedBuffer m_bounce;
  std::vector<Slot> m_slots;
  uint64_t m_issued = 0;      // requests put into slots so far
  uint64_t m_handedBack = 0;  // requests whose slot is free again
  uint32_t m_queued = 0;      // reads prepared in the ring, not yet submitted
  uint32_t m_inFlight = 0;    // reads the kernel holds
};

}  // namespace

uint64_t SequentialReadAhead::NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

std::string SequentialReadAhead::IoUringProblem() {
  if (NoIoUringRequested()) return NoIoUringReason();
  io_uring ring{};
  const int ret = io_uring_queue_init(2, &ring, 0);
  if (ret < 0) return RingSetupProblem(ret);
  std::string why = RingReadProblem(ring);
  io_uring_queue_exit(&ring);
  return why;
}

std::unique_ptr<SequentialReadAhead> SequentialReadAhead::Create(int fd, uint64_t begin, uint64_t end,
                                                                 uint32_t blockBytes, const Options& options,
                                                                 std::string* whyNot) {
  std::string ignored;
  std::string& why = whyNot != nullptr ? *whyNot : ignored;
  why.clear();
  if (fd < 0) {
    why = "no open device";
    return nullptr;
  }
  if (blockBytes == 0 || blockBytes % kSector != 0 || blockBytes > kMaxBufferBytes) {
    why = "the block size must be a multiple of 512 bytes, at most " + std::to_string(kMaxBufferBytes >> 20) + " MiB";
    return nullptr;
  }
  if (begin % kSector != 0 || begin > end) {
    why = "the range must start on a sector and not end before it starts";
    return nullptr;
  }
  const uint64_t deviceSize = DeviceSizeOf(fd);

  std::string reason;
  if (!options.usePread) {
    if (NoIoUringRequested()) {
      reason = NoIoUringReason();
    } else {
      // Whole blocks per read, and no more buffers than the bound allows.
      uint32_t merge = std::max(blockBytes, options.mergeBytes / blockBytes * blockBytes);
      merge = std::min(merge, kMaxBufferBytes / blockBytes * blockBytes);
      uint32_t depth = std::clamp<uint32_t>(options.depth, 1, std::min(kMaxBufferBytes / merge, kMaxRingEntries - 1));
      const uint64_t requests =
          ((end - begin + blockBytes - 1) / blockBytes + merge / blockBytes - 1) / (merge / blockBytes);
      depth = static_cast<uint32_t>(std::max<uint64_t>(1, std::min<uint64_t>(depth, requests)));
      auto engine = std::make_unique<UringReadAhead>(fd, begin, end, blockBytes, deviceSize, depth, merge);
      if (engine->Init(&reason)) return engine;
    }
  }
  auto engine = std::make_unique<PreadReadAhead>(fd, begin, end, blockBytes, deviceSize, std::move(reason));
  if (!engine->Ready()) {
    why = "no memory for the read buffer";
    return nullptr;
  }
  return engine;
}
