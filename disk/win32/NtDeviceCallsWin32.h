#pragma once
#include "disk/NtDeviceIo.h"

// The kernel32 calls behind NtDeviceIo, one to one.
class Win32NtDeviceCalls : public INtDeviceCalls {
 public:
  DeviceHandle CreateFileA(const std::string& name, uint32_t access, uint32_t share, uint32_t flags) override;
  uint32_t GetLastError() override;
  bool DeviceIoControl(DeviceHandle h, uint32_t code, void* out, uint32_t outBytes, uint32_t& returned) override;
  bool GetFileSizeEx(DeviceHandle h, int64_t& size) override;
  bool FlushFileBuffers(DeviceHandle h) override;
  uint32_t SetFilePointer(DeviceHandle h, int32_t low, int32_t& high) override;
  bool ReadFile(DeviceHandle h, void* buffer, uint32_t bytes, uint32_t& read) override;
  bool CloseHandle(DeviceHandle h) override;
  bool QueryDosDeviceA(const std::string& name) override;
};
