#pragma once
// Raw access to physical drives by number, read-only: what the disk object
// needs of the operating system. Windows: "\\.\PHYSICALDRIVE%d" (NtDeviceIo
// over the Win32 calls). Linux: the n-th whole disk, or the n-th path given.
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

// What a read came to.
enum class ReadError {
  kNone,
  kMedia,  // the device answered, but these bytes could not be read
  kGone,   // the device itself is gone or not ready (unplugged, backing lost)
};

struct ReadResult {
  bool ok = false;
  uint32_t bytes = 0;  // what the read reported, also when it failed
  ReadError error = ReadError::kNone;
  // Monotonic nanoseconds at which the outcome was known; within a stream
  // (ExpectSequential) never earlier than the previous read's, so that the
  // difference of two is the time from one block's completion to the next
  // one's, also where the device read them ahead. 0 where the port cannot
  // tell.
  uint64_t readyNs = 0;
};

// Whether the caller of a stream of reads looks at the bytes it reads.
enum class StreamData {
  kWanted,
  kDiscarded,  // only the outcome counts: the port need not copy the bytes into the caller's buffer
};

class IDeviceIo {
 public:
  virtual ~IDeviceIo() = default;
  virtual DeviceHandle OpenDrive(int number) = 0;
  // Whether there is a drive n at all, asked without opening it (for a
  // drive the disk list has no room for).
  virtual bool DriveExists(int number) = 0;
  // The geometry the drive reports; false where it reports none.
  virtual bool GetGeometry(DeviceHandle device, DiskGeometry& out) = 0;
  // The drive's size in bytes; false where it cannot be told.
  virtual bool GetSize(DeviceHandle device, uint64_t& bytes) = 0;
  // The drive's logical sector size: the unit its unbuffered reads must be
  // aligned to (512, or 4096 on 4K-native drives).
  virtual uint32_t SectorSize(DeviceHandle device) = 0;
  // Reads `bytes` bytes at the byte offset into `buffer` (aligned for
  // unbuffered device access). A read that runs over the drive's end
  // succeeds short.
  virtual ReadResult ReadAt(DeviceHandle device, uint64_t offset, void* buffer, uint32_t bytes) = 0;
  virtual void Close(DeviceHandle device) = 0;

  // A hint: the reads to come on this device are [fromByte, toByte) front to
  // back in reads of blockBytes, each starting where the last one ended (the
  // last one may be cut at toByte). A port may read ahead of them; whatever
  // it does, each ReadAt of the stream gives what it would have given alone.
  // A ReadAt that is not the stream's next read is served as ever. Ports
  // that read one request at a time ignore the hint.
  virtual void ExpectSequential(DeviceHandle /*device*/, uint64_t /*fromByte*/, uint64_t /*toByte*/,
                                uint32_t /*blockBytes*/, StreamData /*data*/) {}
  // The stream is over: nothing of it reaches the device after this returns
  // (reads still in flight are finished or called off first).
  virtual void EndSequential(DeviceHandle /*device*/) {}
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
