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

ReadResult LinuxDeviceIo::ReadAt(DeviceHandle device, uint64_t offset, void* buffer, uint32_t bytes) {
  ReadResult result;
  OpenFile file;
  if (!Find(device, file)) {
    result.error = ReadError::kGone;
    return result;
  }
  const int fd = static_cast<int>(device);
  ssize_t n = PreadRetrying(fd, buffer, bytes, offset);
  if (n < 0 && errno == EINVAL && offset < file.size && offset + bytes > file.size) {
    // Devices with large logical blocks refuse an unbuffered read that
    // crosses their end instead of cutting it short; read up to the end.
    n = PreadRetrying(fd, buffer, static_cast<size_t>(file.size - offset), offset);
  }
  if (n < 0) {
    result.error = ErrorKind(errno);
    return result;
  }
  result.ok = true;
  result.bytes = static_cast<uint32_t>(n);
  return result;
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
