#pragma once
#include "disk/DeviceIo.h"

// "\\.\PHYSICALDRIVE%d" through CreateFileA, DeviceIoControl, SetFilePointer,
// ReadFile, FlushFileBuffers and CloseHandle.
class Win32DeviceIo : public IDeviceIo {
 public:
  DeviceHandle OpenDrive(int number) override;
  bool GetGeometry(DeviceHandle device, DiskGeometry& out) override;
  void Flush(DeviceHandle device) override;
  void LockVolume(DeviceHandle device) override;
  void UnlockVolume(DeviceHandle device) override;
  void Seek(DeviceHandle device, uint32_t low, uint32_t high) override;
  bool Read(DeviceHandle device, void* buffer, uint32_t bytes, uint32_t& bytesRead) override;
  void Close(DeviceHandle device) override;
};
