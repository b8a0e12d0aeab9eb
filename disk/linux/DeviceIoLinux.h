#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "disk/DeviceIo.h"

// Physical drive n is the n-th path of the drive list: a block device or a
// plain image file. Drives are opened read-only, unbuffered where the file
// system allows it; nothing here can write to a disk.
class LinuxDeviceIo : public IDeviceIo {
 public:
  explicit LinuxDeviceIo(std::vector<std::string> drives) : m_drives(std::move(drives)) {}
  ~LinuxDeviceIo() override;

  DeviceHandle OpenDrive(int number) override;
  bool GetGeometry(DeviceHandle device, DiskGeometry& out) override;
  void Flush(DeviceHandle device) override;
  void LockVolume(DeviceHandle device) override;
  void UnlockVolume(DeviceHandle device) override;
  void Seek(DeviceHandle device, uint32_t low, uint32_t high) override;
  bool Read(DeviceHandle device, void* buffer, uint32_t bytes, uint32_t& bytesRead) override;
  void Close(DeviceHandle device) override;

  const std::vector<std::string>& Drives() const { return m_drives; }
  // Why OpenDrive failed for a drive number, for the front end's messages;
  // empty when it never failed.
  std::string OpenError(int number) const;

 private:
  struct OpenFile {
    std::string path;
    uint64_t position = 0;
    uint64_t size = 0;
    bool removable = false;
  };
  std::vector<std::string> m_drives;
  mutable std::mutex m_lock;  // opens happen on the window thread, reads on the worker
  std::map<int, OpenFile> m_open;
  std::map<int, std::string> m_openErrors;
};
