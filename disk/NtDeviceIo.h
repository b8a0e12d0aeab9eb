#pragma once
// The NT family's drives through the Win32 device calls, in the order the
// program has always made them: "\\.\PHYSICALDRIVE%d" opened with write
// through and no buffering; a read is a flush, a volume lock, a seek to the
// byte offset in two halves, the read and, after a good read, the unlock.
//
// The calls themselves are a port (INtDeviceCalls): the Win32 one is a plain
// wrapper around kernel32, and the tests record the sequence.
#include <cstdint>
#include <string>

#include "disk/DeviceIo.h"

constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kFileShareReadWrite = 0x00000003;
constexpr uint32_t kWriteThroughNoBuffering = 0xA0000000;  // FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING

constexpr uint32_t kIoctlGetDriveGeometry = 0x00070000;
constexpr uint32_t kIoctlGetLengthInfo = 0x0007405C;
constexpr uint32_t kFsctlLockVolume = 0x00090018;
constexpr uint32_t kFsctlUnlockVolume = 0x0009001C;
constexpr uint32_t kDiskGeometryBytes = 24;  // sizeof(DISK_GEOMETRY)

constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorWriteProtect = 19;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorDeviceNotConnected = 1167;
constexpr uint32_t kErrorNoSuchDevice = 433;
constexpr uint32_t kInvalidSetFilePointer = 0xFFFFFFFF;
constexpr uint32_t kNoError = 0;

// The kernel32 calls, one method each, named after them.
class INtDeviceCalls {
 public:
  virtual ~INtDeviceCalls() = default;
  // CreateFileA(name, access, share, no security, OPEN_EXISTING, flags, no
  // template); kInvalidDevice on failure (GetLastError tells why).
  virtual DeviceHandle CreateFileA(const std::string& name, uint32_t access, uint32_t share, uint32_t flags) = 0;
  virtual uint32_t GetLastError() = 0;
  // DeviceIoControl with no input buffer.
  virtual bool DeviceIoControl(DeviceHandle h, uint32_t code, void* out, uint32_t outBytes, uint32_t& returned) = 0;
  virtual bool GetFileSizeEx(DeviceHandle h, int64_t& size) = 0;
  virtual bool FlushFileBuffers(DeviceHandle h) = 0;
  // SetFilePointer(h, low, &high, FILE_BEGIN): the new position's low half,
  // kInvalidSetFilePointer (with GetLastError not 0) on failure.
  virtual uint32_t SetFilePointer(DeviceHandle h, int32_t low, int32_t& high) = 0;
  virtual bool ReadFile(DeviceHandle h, void* buffer, uint32_t bytes, uint32_t& read) = 0;
  virtual bool CloseHandle(DeviceHandle h) = 0;
  // QueryDosDeviceA(name): whether the DOS device name exists (nothing is
  // opened).
  virtual bool QueryDosDeviceA(const std::string& name) = 0;
};

class NtDeviceIo : public IDeviceIo {
 public:
  explicit NtDeviceIo(INtDeviceCalls& calls) : m_calls(calls) {}

  DeviceHandle OpenDrive(int number) override;
  bool DriveExists(int number) override;
  uint32_t SectorSize(DeviceHandle device) override;
  bool GetGeometry(DeviceHandle device, DiskGeometry& out) override;
  bool GetSize(DeviceHandle device, uint64_t& bytes) override;
  ReadResult ReadAt(DeviceHandle device, uint64_t offset, void* buffer, uint32_t bytes) override;
  void Close(DeviceHandle device) override;

 private:
  INtDeviceCalls& m_calls;
};
