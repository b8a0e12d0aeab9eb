#pragma once
// Raw access to physical drives by number: what the disk object needs of the
// operating system. Windows: "\\.\PHYSICALDRIVE%d" through CreateFileA and
// friends. Linux: the n-th whole disk (or the n-th path given), read-only.
#include <cstdint>

// An open device; kInvalidDevice when none.
using DeviceHandle = intptr_t;
constexpr DeviceHandle kInvalidDevice = -1;

// The fields of DISK_GEOMETRY.
struct DiskGeometry {
  int64_t cylinders = 0;
  int32_t mediaType = 0;  // 12 fixed disk, 11 removable media
  uint32_t tracksPerCylinder = 0;
  uint32_t sectorsPerTrack = 0;
  uint32_t bytesPerSector = 0;
};

class IDeviceIo {
 public:
  virtual ~IDeviceIo() = default;
  virtual DeviceHandle OpenDrive(int number) = 0;
  virtual bool GetGeometry(DeviceHandle device, DiskGeometry& out) = 0;
  virtual void Flush(DeviceHandle device) = 0;
  virtual void LockVolume(DeviceHandle device) = 0;
  virtual void UnlockVolume(DeviceHandle device) = 0;
  // Sets the position for the next read: FILE_BEGIN with the 64-bit offset in
  // two halves, as SetFilePointer takes it.
  virtual void Seek(DeviceHandle device, uint32_t low, uint32_t high) = 0;
  // Reads at the position set by Seek; bytesRead is what the read reported,
  // also when it failed.
  virtual bool Read(DeviceHandle device, void* buffer, uint32_t bytes, uint32_t& bytesRead) = 0;
  virtual void Close(DeviceHandle device) = 0;
};

// Owns one open device and closes it when it goes.
class UniqueDevice {
 public:
  explicit UniqueDevice(IDeviceIo& io) : m_io(&io) {}
  UniqueDevice(IDeviceIo& io, DeviceHandle h) : m_io(&io), m_handle(h) {}
  UniqueDevice(const UniqueDevice&) = delete;
  UniqueDevice& operator=(const UniqueDevice&) = delete;
  ~UniqueDevice() { Reset(); }

  DeviceHandle Get() const { return m_handle; }
  bool IsOpen() const { return m_handle != kInvalidDevice; }
  void Reset(DeviceHandle h = kInvalidDevice) {
    if (m_handle != kInvalidDevice) m_io->Close(m_handle);
    m_handle = h;
  }

 private:
  IDeviceIo* m_io;
  DeviceHandle m_handle = kInvalidDevice;
};
