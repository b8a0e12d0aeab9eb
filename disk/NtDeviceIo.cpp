#include "disk/NtDeviceIo.h"

#include <cstring>

#include "disk/DiskGeometry.h"
#include "platform/Format.h"

namespace {

uint32_t LittleEndian32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint64_t LittleEndian64(const unsigned char* p) {
  return static_cast<uint64_t>(LittleEndian32(p)) | static_cast<uint64_t>(LittleEndian32(p + 4)) << 32;
}

}  // namespace

DeviceHandle NtDeviceIo::OpenDrive(int number) {
  const std::string name = StrFormat("\\\\.\\PHYSICALDRIVE%d", number);
  DeviceHandle h =
      m_calls.CreateFileA(name, kGenericRead | kGenericWrite, kFileShareReadWrite, kWriteThroughNoBuffering);
  if (h == kInvalidDevice) {
    // A write-protected disk (or a read-only image behind the device) refuses
    // write access; the program only ever reads, so read access is enough.
    const uint32_t error = m_calls.GetLastError();
    if (error == kErrorAccessDenied || error == kErrorWriteProtect)
      h = m_calls.CreateFileA(name, kGenericRead, kFileShareReadWrite, kWriteThroughNoBuffering);
  }
  return h;
}

bool NtDeviceIo::DriveExists(int number) { return m_calls.QueryDosDeviceA(StrFormat("PhysicalDrive%d", number)); }

uint32_t NtDeviceIo::SectorSize(DeviceHandle device) {
  DiskGeometry g;
  return GetGeometry(device, g) && g.bytesPerSector != 0 ? g.bytesPerSector : 512;
}

bool NtDeviceIo::GetGeometry(DeviceHandle device, DiskGeometry& out) {
  unsigned char reply[kDiskGeometryBytes] = {};
  uint32_t returned = 0;
  if (m_calls.DeviceIoControl(device, kIoctlGetDriveGeometry, reply, sizeof reply, returned)) {
    // DISK_GEOMETRY: Cylinders (64 bits), MediaType, TracksPerCylinder,
    // SectorsPerTrack, BytesPerSector (32 bits each), little-endian.
    out.cylinders = static_cast<int64_t>(LittleEndian64(reply));
    out.mediaType = static_cast<int32_t>(LittleEndian32(reply + 8));
    out.tracksPerCylinder = LittleEndian32(reply + 12);
    out.sectorsPerTrack = LittleEndian32(reply + 16);
    out.bytesPerSector = LittleEndian32(reply + 20);
    return true;
  }
  // Drivers that do not know the geometry request (Wine's mapped devices
  // answer ERROR_NOT_SUPPORTED; others ERROR_INVALID_FUNCTION) still tell
  // the size: derive the geometry the way Windows reports it for a fixed
  // disk. Any other failure stays one.
  const uint32_t error = m_calls.GetLastError();
  if (error != kErrorInvalidFunction && error != kErrorNotSupported) return false;
  int64_t size = 0;
  if (!m_calls.GetFileSizeEx(device, size) || size <= 0) return false;
  out = FixedDiskGeometry(static_cast<uint64_t>(size));
  return true;
}

bool NtDeviceIo::GetSize(DeviceHandle device, uint64_t& bytes) {
  unsigned char reply[8] = {};
  uint32_t returned = 0;
  if (m_calls.DeviceIoControl(device, kIoctlGetLengthInfo, reply, sizeof reply, returned) && returned >= 8) {
    bytes = LittleEndian64(reply);
    return true;
  }
  int64_t size = 0;
  if (!m_calls.GetFileSizeEx(device, size) || size <= 0) return false;
  bytes = static_cast<uint64_t>(size);
  return true;
}

ReadResult NtDeviceIo::ReadAt(DeviceHandle device, uint64_t offset, void* buffer, uint32_t bytes) {
  m_calls.FlushFileBuffers(device);
  uint32_t unused = 0;
  // Applies to volumes; on a drive handle its outcome does not matter.
  m_calls.DeviceIoControl(device, kFsctlLockVolume, nullptr, 0, unused);
  int32_t high = static_cast<int32_t>(offset >> 32);
  ReadResult result;
  // A seek that failed would leave the read at wherever the device stood,
  // and a good read there would count for these sectors: it is a failed read.
  if (m_calls.SetFilePointer(device, static_cast<int32_t>(offset & 0xFFFFFFFF), high) == kInvalidSetFilePointer &&
      m_calls.GetLastError() != kNoError) {
    result.error = ReadError::kMedia;
    return result;
  }

  result.ok = m_calls.ReadFile(device, buffer, bytes, result.bytes);
  if (result.ok) {
    m_calls.DeviceIoControl(device, kFsctlUnlockVolume, nullptr, 0, unused);
    return result;
  }
  const uint32_t error = m_calls.GetLastError();
  result.error = error == kErrorDeviceNotConnected || error == kErrorNoSuchDevice || error == kErrorNotReady
                     ? ReadError::kGone
                     : ReadError::kMedia;
  return result;
}

void NtDeviceIo::Close(DeviceHandle device) { m_calls.CloseHandle(device); }
