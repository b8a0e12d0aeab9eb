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
  m_open[h] = number;
  return h;
}

bool FakeDeviceIo::DriveExists(int number) {
  std::lock_guard<std::mutex> hold(m_lock);
  existsAsked.push_back(number);
  return drives.count(number) != 0;
}

uint32_t FakeDeviceIo::SectorSize(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  return drives.at(m_open.at(device)).bytesPerSector;
}

bool FakeDeviceIo::GetGeometry(DeviceHandle device, DiskGeometry& out) {
  std::lock_guard<std::mutex> hold(m_lock);
  const FakeDrive& d = drives.at(m_open.at(device));
  if (d.failGeometry) return false;
  out.cylinders = d.cylinders;
  out.mediaType = d.mediaType;
  out.tracksPerCylinder = d.heads;
  out.sectorsPerTrack = d.sectorsPerTrack;
  out.bytesPerSector = d.bytesPerSector;
  return true;
}

bool FakeDeviceIo::GetSize(DeviceHandle device, uint64_t& bytes) {
  std::lock_guard<std::mutex> hold(m_lock);
  bytes = drives.at(m_open.at(device)).Bytes();
  return true;
}

ReadResult FakeDeviceIo::ReadAt(DeviceHandle device, uint64_t offset, void* buffer, uint32_t bytes) {
  FakeRead read{};
  const FakeDrive* drive = nullptr;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    const int number = m_open.at(device);
    drive = &drives.at(number);  // the script does not change during a read
    read = FakeRead{number, offset / 512, bytes, true};
  }
  const uint64_t count = (bytes + 511) / 512;
  ReadResult result;
  for (const SectorRange& r : drive->bad)
    if (r.Overlaps(read.sector, count)) read.ok = false;
  if (onRead) onRead(read);  // may make the drive go
  if (drive->gone) {
    read.ok = false;
    result.error = drive->goneSaysSo ? ReadError::kGone : ReadError::kMedia;
  } else if (!read.ok) {
    result.error = ReadError::kMedia;
  }
  for (const SectorRange& r : drive->slow)
    if (r.Overlaps(read.sector, count) && sleeper) sleeper(drive->slowMs);
  if (recordReads) {
    std::lock_guard<std::mutex> hold(m_lock);
    reads.push_back(read);
  }
  result.ok = read.ok;
  if (readyNs) result.readyNs = readyNs(read);
  if (!read.ok) return result;
  // Like a device, a read over the end comes back short.
  const uint64_t size = drive->Bytes();
  const uint64_t available = offset >= size ? 0 : size - offset;
  result.bytes = static_cast<uint32_t>(available < bytes ? available : bytes);
  std::memset(buffer, 0, bytes);
  return result;
}

void FakeDeviceIo::Close(DeviceHandle device) {
  std::lock_guard<std::mutex> hold(m_lock);
  ++closes;
  m_open.erase(device);
}

void FakeDeviceIo::ExpectSequential(DeviceHandle device, uint64_t fromByte, uint64_t toByte, uint32_t blockBytes,
                                    StreamData data) {
  std::lock_guard<std::mutex> hold(m_lock);
  streams.push_back(FakeStream{m_open.at(device), fromByte, toByte, blockBytes, data, reads.size()});
}

void FakeDeviceIo::EndSequential(DeviceHandle device) {
  if (onStreamEnd) onStreamEnd();
  std::lock_guard<std::mutex> hold(m_lock);
  const int number = m_open.at(device);
  for (FakeStream& s : streams)
    if (s.drive == number && s.endedAfter == SIZE_MAX) s.endedAfter = reads.size();
}
