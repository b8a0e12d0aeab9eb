#include "disk/linux/DeviceIoLinux.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "disk/DiskGeometry.h"
#include "disk/linux/SequentialReadAhead.h"

namespace {

bool IsRemovable(const struct stat& st) {
  if (!S_ISBLK(st.st_mode)) return false;
  std::ifstream in("/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)) +
                   "/removable");
  int flag = 0;
  return (in >> flag) && flag == 1;
}

// The device's size in bytes, or false for anything that is neither a block
// device nor a plain file.
bool SizeOf(int fd, const struct stat& st, uint64_t& size) {
  if (S_ISREG(st.st_mode)) {
    size = static_cast<uint64_t>(st.st_size);
    return true;
  }
  if (S_ISBLK(st.st_mode)) return ioctl(fd, BLKGETSIZE64, &size) == 0;
  return false;
}

ReadError ErrorKind(int error) {
  // The device (or what backs it) has gone: nothing later will read either.
  return error == ENODEV || error == ENXIO ? ReadError::kGone : ReadError::kMedia;
}

int OpenReadOnly(const char* path, int flags) { return ::open(path, flags); }

}  // namespace

LinuxDeviceIo::LinuxDeviceIo(std::vector<std::string> drives, Syscalls syscalls)
    : m_drives(std::move(drives)), m_sys(syscalls) {
  if (m_sys.open == nullptr) m_sys.open = &OpenReadOnly;
  if (m_sys.pread == nullptr) m_sys.pread = &::pread;
}

LinuxDeviceIo::~LinuxDeviceIo() {
  m_streams.clear();  // reads in flight end before their descriptors close
  for (const auto& [fd, file] : m_open) ::close(fd);
}

DeviceHandle LinuxDeviceIo::OpenDrive(int number) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (number < 0 || static_cast<size_t>(number) >= m_drives.size()) {
    m_openErrors[number] = "no such drive";
    return kInvalidDevice;
  }
  const std::string& path = m_drives[static_cast<size_t>(number)];
  // Read-only, always. Unbuffered like the Windows device; file systems such
  // as tmpfs refuse O_DIRECT, and there a plain read-only open serves.
  // O_NONBLOCK: a FIFO (or a device that would wait) given as a disk must
  // not hang the open; it is told apart right after and refused.
  int fd = m_sys.open(path.c_str(), O_RDONLY | O_DIRECT | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == EINVAL) fd = m_sys.open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    m_openErrors[number] = std::strerror(errno);
    return kInvalidDevice;
  }
  struct stat st {};
  OpenFile file;
  file.path = path;
  if (fstat(fd, &st) != 0 || !SizeOf(fd, st, file.size)) {
    // Opened, but nothing we can read as a disk (a directory, a pipe ...).
    m_openErrors[number] = "not a disk (neither a block device nor an image file)";
    ::close(fd);
    return kInvalidDevice;
  }
  // Reads of a disk wait for the disk.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  file.removable = IsRemovable(st);
  int logical = 0;
  if (S_ISBLK(st.st_mode) && ioctl(fd, BLKSSZGET, &logical) == 0 && logical > 0)
    file.sectorSize = static_cast<uint32_t>(logical);
  m_open[fd] = file;
  return fd;
}

bool LinuxDeviceIo::Find(DeviceHandle device, OpenFile& out) const {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_open.find(static_cast<int>(device));
  if (it == m_open.end()) return false;
  out = it->second;
  return true;
}

bool LinuxDeviceIo::DriveExists(int number) { return number >= 0 && static_cast<size_t>(number) < m_drives.size(); }

uint32_t LinuxDeviceIo::SectorSize(DeviceHandle device) {
  OpenFile file;
  return Find(device, file) ? file.sectorSize : 512;
}

bool LinuxDeviceIo::GetGeometry(DeviceHandle device, DiskGeometry& out) {
  OpenFile file;
  if (!Find(device, file)) return false;
  out = FixedDiskGeometry(file.size, file.removable ? kRemovableMedia : kFixedMedia);
  return true;
}

bool LinuxDeviceIo::GetSize(DeviceHandle device, uint64_t& bytes) {
  OpenFile file;
  if (!Find(device, file)) return false;
  bytes = file.size;
  return true;
}

ssize_t LinuxDeviceIo::PreadRetrying(int fd, void* buffer, size_t bytes, uint64_t offset) const {
  ssize_t n;
  do {
    n = m_sys.pread(fd, buffer, bytes, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

ReadResult LinuxDeviceIo::PreadAt(int fd, uint64_t size, uint64_t offset, void* buffer, uint32_t bytes) const {
  ReadResult result;
  ssize_t n = PreadRetrying(fd, buffer, bytes, offset);
  if (n < 0 && errno == EINVAL && offset < size && offset + bytes > size) {
    // Devices with large logical blocks refuse an unbuffered read that
    // crosses their end instead of cutting it short; read up to the end.
    n = PreadRetrying(fd, buffer, static_cast<size_t>(size - offset), offset);
  }
  const int error = errno;
  result.readyNs = SequentialReadAhead::NowNs();
  if (n < 0) {
    result.error = ErrorKind(error);
    return result;
  }
  // Short of the device's end, fewer bytes than asked is a read that failed
  // part way (a buffered image returns what it had before the error): the
  // block was not read.
  if (static_cast<uint64_t>(n) < bytes && offset + static_cast<uint64_t>(n) < size) {
    result.error = ReadError::kMedia;
    return result;
  }
  result.ok = true;
  result.bytes = static_cast<uint32_t>(n);
  return result;
}

ReadResult LinuxDeviceIo::ReadAt(DeviceHandle device, uint64_t offset, void* buffer, uint32_t bytes) {
  const int fd = static_cast<int>(device);
  uint64_t size = 0;
  SequentialReadAhead* engine = nullptr;
  bool discard = false;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto it = m_open.find(fd);
    if (it == m_open.end()) {
      ReadResult gone;
      gone.error = ReadError::kGone;
      return gone;
    }
    size = it->second.size;
    const auto stream = m_streams.find(fd);
    if (stream != m_streams.end()) {
      engine = stream->second.engine.get();
      discard = stream->second.discard;
    }
  }
  // The stream's next block, asked for as a lone pread would have read it:
  // the same length, or a read over the device's end that the end cuts to
  // that length. Anything else is read here and now.
  const uint32_t length = engine != nullptr ? engine->NextLength() : 0;
  const bool next =
      length != 0 && offset == engine->NextOffset() && (bytes == length || (bytes > length && offset + length == size));
  if (!next) return PreadAt(fd, size, offset, buffer, bytes);

  const BlockRead block = engine->Take(offset, discard ? nullptr : buffer);
  ReadResult result;
  result.readyNs = block.readyNs;
  result.ok = block.ok;
  if (block.ok)
    result.bytes = block.bytes;
  else
    result.error = ErrorKind(block.error);
  return result;
}

void LinuxDeviceIo::Close(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_open.find(static_cast<int>(device));
  if (it == m_open.end()) return;
  m_streams.erase(it->first);  // its reads end before the descriptor closes
  ::close(it->first);
  m_open.erase(it);
}

uint32_t LinuxDeviceIo::ReadBytesAtDepth(uint32_t depth) {
  constexpr uint32_t kBlock = 64u << 10;
  const uint32_t bytes = kStreamBufferBytes / (depth == 0 ? 1 : depth) / kBlock * kBlock;
  return bytes < kBlock ? kBlock : bytes > kMaxReadBytes ? kMaxReadBytes : bytes;
}

void LinuxDeviceIo::SetQueueDepth(uint32_t depth) {
  depth = depth < 1 ? 1 : depth > kMaxQueueDepth ? kMaxQueueDepth : depth;
  // Asked once here, so that the front end can say it before the scan.
  std::string problem = depth > 1 ? SequentialReadAhead::IoUringProblem() : std::string();
  std::lock_guard<std::mutex> hold(m_lock);
  m_queueDepth = depth;
  m_readAheadProblem = std::move(problem);
}

uint32_t LinuxDeviceIo::QueueDepth() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_queueDepth;
}

size_t LinuxDeviceIo::StreamsReadAhead() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_streams.size();
}

std::string LinuxDeviceIo::ReadAheadProblem() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_readAheadProblem;
}

void LinuxDeviceIo::ExpectSequential(DeviceHandle device, uint64_t fromByte, uint64_t toByte, uint32_t blockBytes,
                                     StreamData data) {
  const int fd = static_cast<int>(device);
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_open.find(fd);
  if (it == m_open.end()) return;
  m_streams.erase(fd);  // a new stream replaces the old one
  if (m_queueDepth <= 1 || !m_readAheadProblem.empty()) return;

  SequentialReadAhead::Options options;
  options.depth = m_queueDepth;
  options.mergeBytes = ReadBytesAtDepth(m_queueDepth);
  // Nothing past the device's end is asked for.
  const uint64_t end = toByte < it->second.size ? toByte : it->second.size;
  std::string why;
  std::unique_ptr<SequentialReadAhead> engine =
      fromByte < end ? SequentialReadAhead::Create(fd, fromByte, end, blockBytes, options, &why) : nullptr;
  if (engine && engine->GetBackend() != SequentialReadAhead::Backend::kIoUring) {
    // The engine's pread is no different from a lone pread: read one block
    // at a time without it, and let the front end say why.
    m_readAheadProblem = engine->FallbackReason();
    engine.reset();
  }
  if (engine) m_streams[fd] = Stream{std::move(engine), data == StreamData::kDiscarded};
}

void LinuxDeviceIo::EndSequential(DeviceHandle device) {
  std::unique_ptr<SequentialReadAhead> ending;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto it = m_streams.find(static_cast<int>(device));
    if (it == m_streams.end()) return;
    ending = std::move(it->second.engine);
    m_streams.erase(it);
  }
  ending.reset();  // waits for what is still in flight, without holding up opens on the window thread
}

std::string LinuxDeviceIo::OpenError(int number) const {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_openErrors.find(number);
  return it == m_openErrors.end() ? std::string() : it->second;
}
