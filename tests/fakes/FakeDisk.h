#pragma once
// In-memory physical drives: any size (nothing is stored; reads return
// zeros), with bad ranges, slow ranges, failing opens and failing geometry.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "disk/DeviceIo.h"

struct SectorRange {
  uint64_t first;
  uint64_t last;  // inclusive
  bool Overlaps(uint64_t start, uint64_t count) const { return count && start <= last && first < start + count; }
};

struct FakeDrive {
  // Geometry the drive reports.
  int64_t cylinders = 0;
  uint32_t heads = 255;
  uint32_t sectorsPerTrack = 63;
  int32_t mediaType = 12;
  // The size in bytes it reports; 0: its geometry's whole cylinders.
  uint64_t sizeBytes = 0;
  uint32_t bytesPerSector = 512;  // as the geometry reports it (4096: 4K-native)
  bool failOpen = false;
  bool failGeometry = false;
  std::vector<SectorRange> bad;
  std::vector<SectorRange> slow;
  uint32_t slowMs = 0;  // passed to the sleeper for each read over a slow range
  // Every read fails once the drive has gone: as a device that says so
  // (ENODEV), or with plain media errors (a dead backing, a hung bridge).
  bool gone = false;
  bool goneSaysSo = true;

  uint64_t Bytes() const {
    return sizeBytes != 0 ? sizeBytes : static_cast<uint64_t>(cylinders) * heads * sectorsPerTrack * bytesPerSector;
  }

  static FakeDrive WithSectors(uint64_t sectors) {
    FakeDrive d;
    d.cylinders = static_cast<int64_t>(sectors / (255 * 63));
    return d;
  }
  static FakeDrive WithGeometry(int64_t cylinders, uint32_t heads, uint32_t sectorsPerTrack) {
    FakeDrive d;
    d.cylinders = cylinders;
    d.heads = heads;
    d.sectorsPerTrack = sectorsPerTrack;
    return d;
  }
};

struct FakeRead {
  int drive;
  uint64_t sector;  // the offset in 512-byte sectors
  uint32_t bytes;
  bool ok;
};

// A stream of reads announced with ExpectSequential.
struct FakeStream {
  int drive;
  uint64_t fromByte;
  uint64_t toByte;
  uint32_t blockBytes;
  StreamData data;
  size_t readsBefore;            // reads made before it was announced
  size_t endedAfter = SIZE_MAX;  // reads made before it ended; SIZE_MAX while it goes
};

class FakeDeviceIo : public IDeviceIo {
 public:
  std::map<int, FakeDrive> drives;
  // Called for reads over slow ranges; a test may advance a fake clock here.
  std::function<void(uint32_t ms)> sleeper;
  // Called before every read; a test may stop a run or check state here.
  std::function<void(const FakeRead&)> onRead;
  // Called as a stream ends (EndSequential), before it is marked ended.
  std::function<void()> onStreamEnd;
  // Each read's ready time, as a device that reads ahead tells it; none
  // given (0) without one.
  std::function<uint64_t(const FakeRead&)> readyNs;

  // Multi-GB runs make millions of reads: turn the read record off there.
  bool recordReads = true;

  // What happened, in order.
  std::vector<int> opens;        // drive numbers asked for, also failed ones
  std::vector<int> existsAsked;  // drive numbers asked about without an open
  std::vector<FakeRead> reads;
  std::vector<FakeStream> streams;
  int closes = 0;

  size_t OpenCount() const;

  DeviceHandle OpenDrive(int number) override;
  bool DriveExists(int number) override;
  uint32_t SectorSize(DeviceHandle device) override;
  bool GetGeometry(DeviceHandle device, DiskGeometry& out) override;
  bool GetSize(DeviceHandle device, uint64_t& bytes) override;
  ReadResult ReadAt(DeviceHandle device, uint64_t offset, void* buffer, uint32_t bytes) override;
  void Close(DeviceHandle device) override;
  void ExpectSequential(DeviceHandle device, uint64_t fromByte, uint64_t toByte, uint32_t blockBytes,
                        StreamData data) override;
  void EndSequential(DeviceHandle device) override;

 private:
  mutable std::mutex m_lock;
  std::map<DeviceHandle, int> m_open;  // handle to drive number
  DeviceHandle m_next = 100;
};
