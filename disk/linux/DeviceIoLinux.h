#pragma once
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "disk/DeviceIo.h"

// Physical drive n is the n-th path of the drive list: a block device or a
// plain image file. Drives are opened read-only, unbuffered where the file
// system allows it; nothing here can write to a disk. A read is one pread.
class LinuxDeviceIo : public IDeviceIo {
 public:
  // The two system calls a drive's data goes through; tests put scripted
  // ones in their place.
  struct Syscalls {
    int (*open)(const char* path, int flags);
    ssize_t (*pread)(int fd, void* buffer, size_t bytes, off_t offset);
  };

  explicit LinuxDeviceIo(std::vector<std::string> drives) : LinuxDeviceIo(std::move(drives), {nullptr, nullptr}) {}
  LinuxDeviceIo(std::vector<std::string> drives, Syscalls syscalls);
  ~LinuxDeviceIo() override;

  DeviceHandle OpenDrive(int number) override;
  bool DriveExists(int number) override;
  uint32_t SectorSize(DeviceHandle device) override;
  bool GetGeometry(DeviceHandle device, DiskGeometry& out) override;
  bool GetSize(DeviceHandle device, uint64_t& bytes) override;
  ReadResult ReadAt(DeviceHandle device, uint64_t offset, void* buffer, uint32_t bytes) override;
  void Close(DeviceHandle device) override;

  const std::vector<std::string>& Drives() const { return m_drives; }
  // Why OpenDrive failed for a drive number, for the front end's messages;
  // empty when it never failed.
  std::string OpenError(int number) const;

 private:
  struct OpenFile {
    std::string path;
    uint64_t size = 0;
    uint32_t sectorSize = 512;
    bool removable = false;
  };
  bool Find(DeviceHandle device, OpenFile& out) const;
  ssize_t PreadRetrying(int fd, void* buffer, size_t bytes, uint64_t offset) const;

  std::vector<std::string> m_drives;
  Syscalls m_sys;
  mutable std::mutex m_lock;  // opens happen on the window thread, reads on the worker
  std::map<int, OpenFile> m_open;
  std::map<int, std::string> m_openErrors;
};
