#pragma once
// The table of physical disks the disk object fills. Its layout is also the
// exchange format with the Windows 9x disk DLL, which fills it through a
// pointer, so it is fixed: little-endian, no padding, 68 bytes.
#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct DiskRecord {
  uint16_t sectorsPerTrack;
  uint16_t heads;
  uint32_t cylinders;           // low 32 bits of the geometry's cylinder count
  uint32_t sectorsPerCylinder;  // heads * sectorsPerTrack
  uint32_t totalSectors;        // sectorsPerCylinder * cylinders, wrapping modulo 2^32
};

struct DiskTable {
  uint32_t count;  // valid records, 0 to 4
  DiskRecord records[4];
};
#pragma pack(pop)

static_assert(sizeof(DiskRecord) == 16);
static_assert(offsetof(DiskRecord, sectorsPerTrack) == 0);
static_assert(offsetof(DiskRecord, heads) == 2);
static_assert(offsetof(DiskRecord, cylinders) == 4);
static_assert(offsetof(DiskRecord, sectorsPerCylinder) == 8);
static_assert(offsetof(DiskRecord, totalSectors) == 12);
static_assert(sizeof(DiskTable) == 68);
static_assert(offsetof(DiskTable, records) == 4);

constexpr uint32_t kMaxDisks = 4;
constexpr uint32_t kSectorSize = 512;
