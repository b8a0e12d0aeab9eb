// Runs under Wine, started by wine_test.sh, which maps two sparse image files
// as the prefix's physical drives 0 and 2 and writes marker texts into
// chosen sectors, and which makes the prefix report Windows 98 to this
// program. Part one calls Halvex32.dll's exports directly; part two reads the
// same disks through the disk object with the real Windows ports, as the
// program does on Windows 98.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk/CDisk.h"
#include "disk/win32/DeviceIoWin32.h"
#include "disk/win32/ModulePortWin32.h"
#include "platform/PlatformProbe.h"
#include "platform/SystemDiskLocator.h"
#include "platform/win32/LinkPortWin32.h"
#include "platform/win32/SystemPortWin32.h"

namespace {

// What wine_test.sh lays out.
constexpr uint32_t kDrive0Sectors = 1000000;  // 62 cylinders of 16065 sectors
constexpr uint32_t kDrive2Sectors = 9000000;  // 560 cylinders; past 4 GiB
constexpr uint32_t kFarSector = 8400000;      // byte offset above 2^32

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const char* what, int line) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAILED line %d: %s\n", line, what);
  }
}
#define CHECK(cond) Check((cond), #cond, __LINE__)

// The marker wine_test.sh writes at the start of a sector.
std::string Marker(int drive, uint32_t sector) {
  char text[64];
  std::snprintf(text, sizeof text, "MORVEK drive %d sector %u", drive, sector);
  return text;
}

bool HasMarker(const unsigned char* sector, int drive, uint32_t number) {
  const std::string m = Marker(drive, number);
  return std::memcmp(sector, m.data(), m.size()) == 0;
}

using GetDiskInfoFn = int32_t(WINAPI*)(DiskTable*);
using ReadWriteSectorFn = int32_t(WINAPI*)(uint32_t, uint32_t, uint32_t, uint32_t, void*);

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::string DllBesideExecutable() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path);
  return s.substr(0, s.rfind('\\') + 1) + "Halvex32.dll";
}

void CheckRecord(const DiskRecord& r, uint32_t cylinders) {
  CHECK(r.sectorsPerTrack == 63);
  CHECK(r.heads == 255);
  CHECK(r.cylinders == cylinders);
  CHECK(r.sectorsPerCylinder == 16065);
  CHECK(r.totalSectors == cylinders * 16065);
}

void CallTheDllDirectly() {
  const HMODULE dll = LoadLibraryA(DllBesideExecutable().c_str());
  CHECK(dll != nullptr);
  if (dll == nullptr) return;
  const auto getDiskInfo = Lookup<GetDiskInfoFn>(dll, "GetDiskInfo");
  const auto readWriteSector = Lookup<ReadWriteSectorFn>(dll, "ReadWriteSector");
  CHECK(getDiskInfo != nullptr);
  CHECK(readWriteSector != nullptr);
  CHECK(GetProcAddress(dll, "GetDiskInfo@4") == nullptr);
  if (getDiskInfo == nullptr || readWriteSector == nullptr) return;

  // Drives 0 and 2 are mapped, 1 is absent: the records come in order.
  DiskTable table;
  std::memset(&table, 0xCC, sizeof table);  // the DLL must not rely on a zeroed table
  CHECK(getDiskInfo(&table) == 1);
  CHECK(table.count == 2);
  CheckRecord(table.records[0], kDrive0Sectors / 16065);
  CheckRecord(table.records[1], kDrive2Sectors / 16065);
  CHECK(table.records[2].totalSectors == 0 && table.records[3].cylinders == 0);
  CHECK(getDiskInfo(nullptr) == 0);

  std::vector<unsigned char> buffer(128 * 512);
  unsigned char* b = buffer.data();
  CHECK(readWriteSector(2, 0x80, 12345, 1, b) == 1);
  CHECK(HasMarker(b, 0, 12345));
  CHECK(readWriteSector(2, 0x80, 0, 128, b) == 1);
  CHECK(HasMarker(b, 0, 0));

  // Only the low 16 bits of command and drive code count.
  std::memset(b, 0, 512);
  CHECK(readWriteSector(0xDEAD0002, 0xBEEF0080, 12345, 1, b) == 1);
  CHECK(HasMarker(b, 0, 12345));
  CHECK(readWriteSector(0x0102, 0x80, 12345, 1, b) == 0);
  CHECK(readWriteSector(2, 0x0180, 12345, 1, b) == 0);

  // A chunk lands at its place in the buffer.
  CHECK(readWriteSector(2, 0x80, 12300, 128, b) == 1);
  CHECK(HasMarker(b + (12345 - 12300) * 512, 0, 12345));

  // Slot 1 is physical drive 2; a sector above 4 GiB needs the 64-bit seek,
  // and so does a chunk across that line.
  CHECK(readWriteSector(2, 0x81, kFarSector, 1, b) == 1);
  CHECK(HasMarker(b, 2, kFarSector));
  CHECK(readWriteSector(2, 0x81, 8388607 - 63, 128, b) == 1);
  CHECK(HasMarker(b + 63 * 512, 2, 8388607));
  CHECK(HasMarker(b + 64 * 512, 2, 8388608));

  // The end of the disk: the last sector reads, a block running over the end
  // reads up to it (the scan's last block does that), nothing past it does.
  CHECK(readWriteSector(2, 0x80, kDrive0Sectors - 1, 1, b) == 1);
  CHECK(HasMarker(b, 0, kDrive0Sectors - 1));
  CHECK(readWriteSector(2, 0x80, kDrive0Sectors - 10, 128, b) == 1);
  CHECK(HasMarker(b + 9 * 512, 0, kDrive0Sectors - 1));
  CHECK(readWriteSector(2, 0x80, kDrive0Sectors, 1, b) == 0);
  CHECK(readWriteSector(2, 0x80, 0xFFFFFFFF, 1, b) == 0);

  // Anything but a read, a count outside 1 to 128, a drive outside the table.
  CHECK(readWriteSector(3, 0x80, 0, 1, b) == 0);
  CHECK(readWriteSector(2, 0x80, 0, 0, b) == 0);
  CHECK(readWriteSector(2, 0x80, 0, 129, b) == 0);
  CHECK(readWriteSector(2, 0x82, 0, 1, b) == 0);
  CHECK(readWriteSector(2, 0x7F, 0, 1, b) == 0);
  CHECK(readWriteSector(2, 0x80, 0, 1, nullptr) == 0);

  CHECK(FreeLibrary(dll) != FALSE);
}

std::string ReadLog() {
  std::ifstream in("Scan.log", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ReadThroughTheDiskObject() {
  Win32SystemPort system;
  Win32DeviceIo io;
  Win32LinkPort links;
  NtSystemDiskLocator locator(system, links);
  Win32ModulePort modules;

  char before[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, before);
  {
    CDisk disk(DiskPorts{system, io, locator, &modules});
    CHECK(!disk.IsNt());  // the prefix says Windows 98 to this program
    CHECK(disk.HasDiskDll());
    CHECK(GetModuleHandleA("Halvex32.dll") != nullptr);
    CHECK(g_diskTable.count == 2);
    CHECK(g_diskTable.records[0].totalSectors == 62u * 16065);
    CHECK(g_diskTable.records[1].totalSectors == 560u * 16065);
    CHECK(disk.DriveCodeOfSlot(0) == 0x80);
    CHECK(disk.DriveCodeOfSlot(1) == 0x81);
    CHECK(disk.ActiveDrive() == 0x80);  // the system disk's slot; 0 on Windows 9x

    std::vector<unsigned char> buffer(300 * 512);
    CHECK(disk.SetActiveDisk(0x81) == 1);
    CHECK(disk.ReadSectors(kFarSector - 200, 300, buffer.data()) == 300u * 512);
    CHECK(HasMarker(buffer.data() + 200 * 512, 2, kFarSector));
    CHECK(disk.SetActiveDisk(0x80) == 1);
    CHECK(disk.ReadSectors(12345, 1, buffer.data()) == 512u);
    CHECK(HasMarker(buffer.data(), 0, 12345));
    // The last block of the disk reads even where it runs over the end; a
    // chunk wholly past the end comes back as a failure, not as 64 KB read.
    CHECK(disk.ReadSectors(kDrive0Sectors - 64, 128, buffer.data()) == 65536u);
    CHECK(disk.ReadSectors(kDrive0Sectors, 128, buffer.data()) == 0u);
  }
  // The disk object unloaded the DLL and left the current directory alone.
  CHECK(GetModuleHandleA("Halvex32.dll") == nullptr);
  char after[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, after);
  CHECK(std::strcmp(before, after) == 0);
  const std::string log = ReadLog();
  CHECK(log == "CDisk::ReadWriteSector ReadWriteSector9x some bad sectors\r\n\r\n");
  if (g_failed) std::printf("Scan.log:\n%s\n", log.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--ready") == 0) return 0;  // only makes the prefix
  CallTheDllDirectly();
  ReadThroughTheDiskObject();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
