// Runs under Wine, started by wine_test.sh, which maps two sparse image files
// as the prefix's physical drives 0 and 2 and writes marker texts into
// chosen sectors, and which makes the prefix report Windows 98 to this
// program. Part one calls Halvex32.dll's exports directly; part two reads the
// same disks through the disk object with the real Windows ports, as the
// program does on Windows 98.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk/CDisk.h"
#include "disk/NtDeviceIo.h"
#include "disk/win32/ModulePortWin32.h"
#include "disk/win32/NtDeviceCallsWin32.h"
#include "platform/PlatformProbe.h"
#include "platform/ScanLog.h"
#include "platform/SystemDiskLocator.h"
#include "platform/win32/FileSystemWin32.h"
#include "platform/win32/LinkPortWin32.h"
#include "platform/win32/SystemPortWin32.h"

namespace {

// What wine_test.sh lays out.
constexpr uint32_t kDrive0Sectors = 1000000;  // 62 cylinders of 16065 sectors
constexpr uint32_t kDrive2Sectors = 9000000;  // 560 cylinders; past 4 GiB
constexpr uint32_t kFarSector = 8400000;      // byte offset above 2^32

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
  EXPECT_EQ(r.sectorsPerTrack, 63);
  EXPECT_EQ(r.heads, 255);
  EXPECT_EQ(r.cylinders, cylinders);
  EXPECT_EQ(r.sectorsPerCylinder, 16065u);
  EXPECT_EQ(r.totalSectors, cylinders * 16065);
}

}  // namespace

TEST(Halvex32Dll, ServesTheMappedDrivesThroughItsTwoExports) {
  const HMODULE dll = LoadLibraryA(DllBesideExecutable().c_str());
  ASSERT_NE(dll, nullptr);
  const auto getDiskInfo = Lookup<GetDiskInfoFn>(dll, "GetDiskInfo");
  const auto readWriteSector = Lookup<ReadWriteSectorFn>(dll, "ReadWriteSector");
  ASSERT_NE(getDiskInfo, nullptr);
  ASSERT_NE(readWriteSector, nullptr);
  EXPECT_EQ(GetProcAddress(dll, "GetDiskInfo@4"), nullptr);

  // Drives 0 and 2 are mapped, 1 is absent: the records come in order.
  DiskTable table;
  std::memset(&table, 0xCC, sizeof table);  // the DLL must not rely on a zeroed table
  EXPECT_TRUE(getDiskInfo(&table) == 1);
  EXPECT_TRUE(table.count == 2);
  CheckRecord(table.records[0], kDrive0Sectors / 16065);
  CheckRecord(table.records[1], kDrive2Sectors / 16065);
  EXPECT_TRUE(table.records[2].totalSectors == 0 && table.records[3].cylinders == 0);
  EXPECT_TRUE(getDiskInfo(nullptr) == 0);

  std::vector<unsigned char> buffer(128 * 512);
  unsigned char* b = buffer.data();
  EXPECT_TRUE(readWriteSector(2, 0x80, 12345, 1, b) == 1);
  EXPECT_TRUE(HasMarker(b, 0, 12345));
  EXPECT_TRUE(readWriteSector(2, 0x80, 0, 128, b) == 1);
  EXPECT_TRUE(HasMarker(b, 0, 0));

  // Only the low 16 bits of command and drive code count.
  std::memset(b, 0, 512);
  EXPECT_TRUE(readWriteSector(0xDEAD0002, 0xBEEF0080, 12345, 1, b) == 1);
  EXPECT_TRUE(HasMarker(b, 0, 12345));
  EXPECT_TRUE(readWriteSector(0x0102, 0x80, 12345, 1, b) == 0);
  EXPECT_TRUE(readWriteSector(2, 0x0180, 12345, 1, b) == 0);

  // A chunk lands at its place in the buffer.
  EXPECT_TRUE(readWriteSector(2, 0x80, 12300, 128, b) == 1);
  EXPECT_TRUE(HasMarker(b + (12345 - 12300) * 512, 0, 12345));

  // Slot 1 is physical drive 2; a sector above 4 GiB needs the 64-bit seek,
  // and so does a chunk across that line.
  EXPECT_TRUE(readWriteSector(2, 0x81, kFarSector, 1, b) == 1);
  EXPECT_TRUE(HasMarker(b, 2, kFarSector));
  EXPECT_TRUE(readWriteSector(2, 0x81, 8388607 - 63, 128, b) == 1);
  EXPECT_TRUE(HasMarker(b + 63 * 512, 2, 8388607));
  EXPECT_TRUE(HasMarker(b + 64 * 512, 2, 8388608));

  // The end of the disk: the last sector reads, a block running over the end
  // reads up to it (the scan's last block does that), nothing past it does.
  EXPECT_TRUE(readWriteSector(2, 0x80, kDrive0Sectors - 1, 1, b) == 1);
  EXPECT_TRUE(HasMarker(b, 0, kDrive0Sectors - 1));
  EXPECT_TRUE(readWriteSector(2, 0x80, kDrive0Sectors - 10, 128, b) == 1);
  EXPECT_TRUE(HasMarker(b + 9 * 512, 0, kDrive0Sectors - 1));
  EXPECT_TRUE(readWriteSector(2, 0x80, kDrive0Sectors, 1, b) == 0);
  EXPECT_TRUE(readWriteSector(2, 0x80, 0xFFFFFFFF, 1, b) == 0);

  // Anything but a read, a count outside 1 to 128, a drive outside the table.
  EXPECT_TRUE(readWriteSector(3, 0x80, 0, 1, b) == 0);
  EXPECT_TRUE(readWriteSector(2, 0x80, 0, 0, b) == 0);
  EXPECT_TRUE(readWriteSector(2, 0x80, 0, 129, b) == 0);
  EXPECT_TRUE(readWriteSector(2, 0x82, 0, 1, b) == 0);
  EXPECT_TRUE(readWriteSector(2, 0x7F, 0, 1, b) == 0);
  EXPECT_TRUE(readWriteSector(2, 0x80, 0, 1, nullptr) == 0);

  EXPECT_TRUE(FreeLibrary(dll) != FALSE);
}

namespace {
std::string ReadLog() {
  std::ifstream in("Scan.log", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

TEST(Halvex32Dll, TheDiskObjectReadsThroughItOnWindows98) {
  Win32SystemPort system;
  PlatformProbe probe(system);
  Win32NtDeviceCalls calls;
  NtDeviceIo io(calls);
  Win32LinkPort links;
  NtSystemDiskLocator locator(probe, system, links);
  Win32ModulePort modules;
  Win32FileSystem files;
  ScanLog log(files, "Scan.log");

  char before[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, before);
  {
    CDisk disk(DiskPorts{probe, io, locator, log, &modules});
    EXPECT_TRUE(!disk.IsNt());  // the prefix says Windows 98 to this program
    EXPECT_TRUE(disk.HasDiskDll());
    EXPECT_TRUE(GetModuleHandleA("Halvex32.dll") != nullptr);
    EXPECT_TRUE(disk.Table().count == 2);
    EXPECT_TRUE(disk.Table().records[0].totalSectors == 62u * 16065);
    EXPECT_TRUE(disk.Table().records[1].totalSectors == 560u * 16065);
    EXPECT_TRUE(disk.DriveCodeOfSlot(0) == 0x80);
    EXPECT_TRUE(disk.DriveCodeOfSlot(1) == 0x81);
    EXPECT_TRUE(disk.ActiveDrive() == 0x80);  // the system disk's slot; 0 on Windows 9x

    std::vector<unsigned char> buffer(300 * 512);
    EXPECT_TRUE(disk.SetActiveDisk(0x81) == 1);
    EXPECT_TRUE(disk.ReadSectors(kFarSector - 200, 300, buffer.data()) == 300u * 512);
    EXPECT_TRUE(HasMarker(buffer.data() + 200 * 512, 2, kFarSector));
    EXPECT_TRUE(disk.SetActiveDisk(0x80) == 1);
    EXPECT_TRUE(disk.ReadSectors(12345, 1, buffer.data()) == 512u);
    EXPECT_TRUE(HasMarker(buffer.data(), 0, 12345));
    // The last block of the disk reads even where it runs over the end; a
    // chunk wholly past the end comes back as a failure, not as 64 KB read.
    EXPECT_TRUE(disk.ReadSectors(kDrive0Sectors - 64, 128, buffer.data()) == 65536u);
    EXPECT_TRUE(disk.ReadSectors(kDrive0Sectors, 128, buffer.data()) == 0u);
  }
  // The disk object unloaded the DLL and left the current directory alone.
  EXPECT_TRUE(GetModuleHandleA("Halvex32.dll") == nullptr);
  char after[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, after);
  EXPECT_TRUE(std::strcmp(before, after) == 0);
  EXPECT_EQ(ReadLog(), "CDisk::ReadWriteSector ReadWriteSector9x some bad sectors\r\n\r\n");
}

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--ready") == 0) return 0;  // only makes the prefix
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
