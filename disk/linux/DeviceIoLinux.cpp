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

#include "disk/DiskTable.h"

namespace {
constexpr uint32_t kCylinderSectors = 255 * 63;  // what Windows reports for a fixed disk
constexpr int32_t kFixedMedia = 12;
constexpr int32_t kRemovableMedia = 11;

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
}  // namespace

LinuxDeviceIo::~LinuxDeviceIo() {
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
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0 && errno == EINVAL) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    m_openErrors[number] = std::strerror(errno);
    return kInvalidDevice;
  }
  struct stat st {};
  OpenFile file;
  file.path = path;
  if (fstat(fd, &st) != 0 || !SizeOf(fd, st, file.size)) {
    // Opened, but nothing we can read as a disk (a directory, a pipe ...).
    m_openErrors[number] = "not a block device or image file";
    ::close(fd);
    return kInvalidDevice;
  }
  file.removable = IsRemovable(st);
  m_open[fd] = file;
  return fd;
}

bool LinuxDeviceIo::GetGeometry(DeviceHandle device, DiskGeometry& out) {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_open.find(static_cast<int>(device));
  if (it == m_open.end()) return false;
  out.cylinders = static_cast<int64_t>(it->second.size / kSectorSize / kCylinderSectors);
  out.mediaType = it->second.removable ? kRemovableMedia : kFixedMedia;
  out.tracksPerCylinder = 255;
  out.sectorsPerTrack = 63;
  out.bytesPerSector = kSectorSize;
  return true;
}

// The drive is open read-only: there is nothing to flush and no volume lock
// to take, so these three are no-ops here.
void LinuxDeviceIo::Flush(DeviceHandle) {}
void LinuxDeviceIo::LockVolume(DeviceHandle) {}
void LinuxDeviceIo::UnlockVolume(DeviceHandle) {}

void LinuxDeviceIo::Seek(DeviceHandle device, uint32_t low, uint32_t high) {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_open.find(static_cast<int>(device));
  if (it != m_open.end()) it->second.position = (static_cast<uint64_t>(high) << 32) | low;
}

bool LinuxDeviceIo::Read(DeviceHandle device, void* buffer, uint32_t bytes, uint32_t& bytesRead) {
  bytesRead = 0;
  uint64_t position = 0;
  uint64_t size = 0;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto it = m_open.find(static_cast<int>(device));
    if (it == m_open.end()) return false;
    position = it->second.position;
    size = it->second.size;
  }
  const int fd = static_cast<int>(device);
  // The seek and the read of the Windows device become one positioned read.
  ssize_t n;
  do {
    n = ::pread(fd, buffer, bytes, static_cast<off_t>(position));
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EINVAL && position < size && position + bytes > size) {
    // Devices with large logical blocks refuse an unbuffered read that
    // crosses their end instead of cutting it short; read up to the end.
    const uint32_t toEnd = static_cast<uint32_t>(size - position);
    do {
      n = ::pread(fd, buffer, toEnd, static_cast<off_t>(position));
    } while (n < 0 && errno == EINTR);
  }
  if (n < 0) return false;
  bytesRead = static_cast<uint32_t>(n);
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_open.find(fd);
  if (it != m_open.end()) it->second.position = position + static_cast<uint64_t>(n);
  return true;
}

void LinuxDeviceIo::Close(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_open.find(static_cast<int>(device));
  if (it == m_open.end()) return;
  ::close(it->first);
  m_open.erase(it);
}

std::string LinuxDeviceIo::OpenError(int number) const {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_openErrors.find(number);
  return it == m_openErrors.end() ? std::string() : it->second;
}
