#include "disk/win32/DeviceIoWin32.h"

#include <windows.h>
#include <winioctl.h>

#include <cstdio>

namespace {
HANDLE H(DeviceHandle d) { return reinterpret_cast<HANDLE>(d); }

constexpr DWORD kGetDriveGeometry = 0x00070000;  // IOCTL_DISK_GET_DRIVE_GEOMETRY
constexpr DWORD kLockVolume = 0x00090018;        // FSCTL_LOCK_VOLUME
constexpr DWORD kUnlockVolume = 0x0009001C;      // FSCTL_UNLOCK_VOLUME
constexpr LONGLONG kCylinderBytes = 255LL * 63 * 512;
}  // namespace

DeviceHandle Win32DeviceIo::OpenDrive(int number) {
  char name[64];
  std::snprintf(name, sizeof name, "\\\\.\\PHYSICALDRIVE%d", number);
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  constexpr DWORD kFlags = FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING;
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // A write-protected disk (or a read-only image behind the device) refuses
    // write access; the program only ever reads, so read access is enough.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT)
      h = CreateFileA(name, GENERIC_READ, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr);
  }
  return h == INVALID_HANDLE_VALUE ? kInvalidDevice : reinterpret_cast<DeviceHandle>(h);
}

bool Win32DeviceIo::GetGeometry(DeviceHandle device, DiskGeometry& out) {
  DISK_GEOMETRY g{};
  DWORD returned = 0;
  if (DeviceIoControl(H(device), kGetDriveGeometry, nullptr, 0, &g, sizeof g, &returned, nullptr)) {
    out.cylinders = g.Cylinders.QuadPart;
    out.mediaType = static_cast<int32_t>(g.MediaType);
    out.tracksPerCylinder = g.TracksPerCylinder;
    out.sectorsPerTrack = g.SectorsPerTrack;
    out.bytesPerSector = g.BytesPerSector;
    return true;
  }
  // Drivers that do not know the geometry request (Wine's mapped devices
  // answer error 50, ERROR_NOT_SUPPORTED; others ERROR_INVALID_FUNCTION)
  // still tell the size: derive the geometry the way Windows reports it for
  // a fixed disk. Any other failure stays one.
  const DWORD error = GetLastError();
  if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(H(device), &size) || size.QuadPart <= 0) return false;
  out.cylinders = size.QuadPart / kCylinderBytes;
  out.mediaType = 12;  // FixedMedia
  out.tracksPerCylinder = 255;
  out.sectorsPerTrack = 63;
  out.bytesPerSector = 512;
  return true;
}

void Win32DeviceIo::Flush(DeviceHandle device) { FlushFileBuffers(H(device)); }

void Win32DeviceIo::LockVolume(DeviceHandle device) {
  DWORD returned = 0;
  DeviceIoControl(H(device), kLockVolume, nullptr, 0, nullptr, 0, &returned, nullptr);
}

void Win32DeviceIo::UnlockVolume(DeviceHandle device) {
  DWORD returned = 0;
  DeviceIoControl(H(device), kUnlockVolume, nullptr, 0, nullptr, 0, &returned, nullptr);
}

void Win32DeviceIo::Seek(DeviceHandle device, uint32_t low, uint32_t high) {
  LONG highPart = static_cast<LONG>(high);
  SetFilePointer(H(device), static_cast<LONG>(low), &highPart, FILE_BEGIN);
}

bool Win32DeviceIo::Read(DeviceHandle device, void* buffer, uint32_t bytes, uint32_t& bytesRead) {
  DWORD n = 0;
  const BOOL ok = ReadFile(H(device), buffer, bytes, &n, nullptr);
  bytesRead = n;
  return ok != FALSE;
}

void Win32DeviceIo::Close(DeviceHandle device) { CloseHandle(H(device)); }
