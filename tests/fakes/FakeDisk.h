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
  bool failOpen = false;
  bool failGeometry = false;
  std::vector<SectorRange> bad;
  std::vector<SectorRange> slow;
  uint32_t slowMs = 0;  // passed to the sleeper for each read over a slow range

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
  uint64_t sector;  // from the last seek
  uint32_t bytes;
  bool ok;
};

class FakeDeviceIo : public IDeviceIo {
 public:
  std::map<int, FakeDrive> drives;
  // Called for reads over slow ranges; a test may advance a fake clock here.
  std::function<void(uint32_t ms)> sleeper;
  // Called before every read; a test may stop a run or check state here.
  std::function<void(const FakeRead&)> onRead;

  // Multi-GB runs make millions of reads: turn the read record off there.
  bool recordReads = true;

  // What happened, in order.
  std::vector<int> opens;  // drive numbers asked for, also failed ones
  std::vector<FakeRead> reads;
  std::vector<std::pair<uint32_t, uint32_t>> seeks;  // (low, high)
  int flushes = 0, locks = 0, unlocks = 0, closes = 0;

  size_t OpenCount() const;

  DeviceHandle OpenDrive(int number) override;
  bool GetGeometry(DeviceHandle device, DiskGeometry& out) override;
  void Flush(DeviceHandle) override;
  void LockVolume(DeviceHandle) override;
  void UnlockVolume(DeviceHandle) override;
  void Seek(DeviceHandle device, uint32_t low, uint32_t high) override;
  bool Read(DeviceHandle device, void* buffer, uint32_t bytes, uint32_t& bytesRead) override;
  void Close(DeviceHandle device) override;

 private:
  struct Open {
    int drive;
    uint64_t position;
  };
  mutable std::mutex m_lock;
  std::map<DeviceHandle, Open> m_open;
  DeviceHandle m_next = 100;
};
