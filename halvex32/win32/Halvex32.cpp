// "Halvex32.dll": the disk DLL the program uses on Windows 9x, serving the
// physical drives through "\\.\PhysicalDrive%d". It only ever reads.
#include <windows.h>
#include <winioctl.h>

#include <cstdio>

#include "halvex32/DriveServer.h"

namespace {

HANDLE H(DriveHandle d) { return reinterpret_cast<HANDLE>(d); }

class Win32DriveAccess : public IDriveAccess {
 public:
  DriveHandle Open(int number) override {
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\PhysicalDrive%d", number);
    const HANDLE h =
        CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoDrive : reinterpret_cast<DriveHandle>(h);
  }

  bool QueryGeometry(DriveHandle drive, DriveGeometry& out, bool& unsupported) override {
    DISK_GEOMETRY g{};
    DWORD returned = 0;
    if (DeviceIoControl(H(drive), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g, &returned, nullptr)) {
      out.cylinders = static_cast<uint64_t>(g.Cylinders.QuadPart);
      out.heads = g.TracksPerCylinder;
      out.sectorsPerTrack = g.SectorsPerTrack;
      return true;
    }
    // A driver that does not know the request at all: Windows answers
    // ERROR_INVALID_FUNCTION, Wine's mapped devices ERROR_NOT_SUPPORTED (50).
    const DWORD error = GetLastError();
    unsupported = error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
    return false;
  }

  bool QuerySize(DriveHandle drive, uint64_t& bytes) override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(H(drive), &size) || size.QuadPart <= 0) return false;
    bytes = static_cast<uint64_t>(size.QuadPart);
    return true;
  }

  bool ReadAt(DriveHandle drive, uint64_t offset, void* buffer, uint32_t bytes) override {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(H(drive), at, nullptr, FILE_BEGIN)) return false;
    DWORD got = 0;
    // The scan reads the last block of a drive as 128 sectors even where it
    // runs past the end; the device then succeeds short, with every sector
    // up to the end read. That is a good read, as on the NT branch. A read
    // that starts at or past the end brings nothing and fails.
    return ReadFile(H(drive), buffer, bytes, &got, nullptr) && got > 0;
  }

  void Close(DriveHandle drive) override { CloseHandle(H(drive)); }
};

// One service per process. The program calls the DLL from one thread at a
// time (the table at start-up, then the scan worker's reads), so it holds no
// lock. Destroyed when the DLL is unloaded, which closes the drives.
Win32DriveAccess g_access;
DriveServer g_server(g_access);

}  // namespace

extern "C" __declspec(dllexport) int32_t WINAPI GetDiskInfo(DiskTable* table) { return g_server.GetDiskInfo(table); }

extern "C" __declspec(dllexport) int32_t WINAPI
    ReadWriteSector(uint32_t command, uint32_t driveCode, uint32_t startSector, uint32_t count, void* buffer) {
  return g_server.ReadWriteSector(command, driveCode, startSector, count, buffer);
}
