#include "fakes/FakeDisk.h"

#include <cstring>

size_t FakeDeviceIo::OpenCount() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_open.size();
}

DeviceHandle FakeDeviceIo::OpenDrive(int number) {
  std::lock_guard<std::mutex> hold(m_lock);
  opens.push_back(number);
  const auto it = drives.find(number);
  if (it == drives.end() || it->second.failOpen) return kInvalidDevice;
  const DeviceHandle h = m_next++;
  m_open[h] = Open{number, 0};
  return h;
}

bool FakeDeviceIo::GetGeometry(DeviceHandle device, DiskGeometry& out) {
  std::lock_guard<std::mutex> hold(m_lock);
  const FakeDrive& d = drives.at(m_open.at(device).drive);
  if (d.failGeometry) return false;
  out.cylinders = d.cylinders;
  out.mediaType = d.mediaType;
  out.tracksPerCylinder = d.heads;
  out.sectorsPerTrack = d.sectorsPerTrack;
  out.bytesPerSector = 512;
  return true;
}

void FakeDeviceIo::Flush(DeviceHandle) { ++flushes; }
void FakeDeviceIo::LockVolume(DeviceHandle) { ++locks; }
void FakeDeviceIo::UnlockVolume(DeviceHandle) { ++unlocks; }

void FakeDeviceIo::Seek(DeviceHandle device, uint32_t low, uint32_t high) {
  std::lock_guard<std::mutex> hold(m_lock);
  seeks.emplace_back(low, high);
  m_open.at(device).position = (static_cast<uint64_t>(high) << 32) | low;
}

bool FakeDeviceIo::Read(DeviceHandle device, void* buffer, uint32_t bytes, uint32_t& bytesRead) {
  FakeRead read{};
  const FakeDrive* drive = nullptr;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    const Open& o = m_open.at(device);
    drive = &drives.at(o.drive);  // the script does not change during a read
    read = FakeRead{o.drive, o.position / 512, bytes, true};
  }
  const uint64_t count = (bytes + 511) / 512;
  for (const SectorRange& r : drive->bad)
    if (r.Overlaps(read.sector, count)) read.ok = false;
  if (onRead) onRead(read);
  for (const SectorRange& r : drive->slow)
    if (r.Overlaps(read.sector, count) && sleeper) sleeper(drive->slowMs);
  if (recordReads) {
    std::lock_guard<std::mutex> hold(m_lock);
    reads.push_back(read);
  }
  bytesRead = read.ok ? bytes : 0;
  if (read.ok) std::memset(buffer, 0, bytes);
  return read.ok;
}

void FakeDeviceIo::Close(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  ++closes;
  m_open.erase(device);
}
