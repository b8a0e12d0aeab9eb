#include "halvex32/DriveServer.h"

#include <cstring>

#include "disk/DiskGeometry.h"

void DriveServer::CloseAll() {
  for (DriveHandle& d : m_drives) {
    if (d != kNoDrive) m_access.Close(d);
    d = kNoDrive;
  }
  m_count = 0;
  m_enumerated = false;
}

void DriveServer::Enumerate() {
  CloseAll();
  std::memset(m_records, 0, sizeof m_records);
  for (int number = 0; number < kDrivesProbed && m_count < kMaxDisks; ++number) {
    const DriveHandle drive = m_access.Open(number);
    if (drive == kNoDrive) continue;

    DriveGeometry g;
    bool unsupported = false;
    bool known = m_access.QueryGeometry(drive, g, unsupported);
    if (!known && unsupported) {
      // Mapped devices (Wine's) refuse every control request but still tell
      // their size.
      uint64_t bytes = 0;
      if (m_access.QuerySize(drive, bytes)) {
        g.cylinders = bytes / kFixedDiskCylinderBytes;
        g.heads = kFixedDiskHeads;
        g.sectorsPerTrack = kFixedDiskSectorsPerTrack;
        known = true;
      }
    }
    // A drive without a size is of no use to a scan; it takes no slot.
    if (!known || g.cylinders == 0 || g.heads == 0 || g.sectorsPerTrack == 0) {
      m_access.Close(drive);
      continue;
    }
    DiskRecord& r = m_records[m_count];
    r.sectorsPerTrack = static_cast<uint16_t>(g.sectorsPerTrack);
    r.heads = static_cast<uint16_t>(g.heads);
    r.cylinders = static_cast<uint32_t>(g.cylinders);
    r.sectorsPerCylinder = static_cast<uint32_t>(r.heads) * r.sectorsPerTrack;
    r.totalSectors = r.sectorsPerCylinder * r.cylinders;  // the table's 32 bits wrap
    m_drives[m_count] = drive;                            // kept open for the reads to come
    ++m_count;
  }
  m_enumerated = true;
}

int32_t DriveServer::GetDiskInfo(DiskTable* table) {
  if (table == nullptr) return 0;
  Enumerate();
  std::memset(table, 0, sizeof *table);
  table->count = m_count;
  std::memcpy(table->records, m_records, sizeof m_records);
  return 1;
}

int32_t DriveServer::ReadWriteSector(uint32_t command, uint32_t driveCode, uint32_t startSector, uint32_t count,
                                     void* buffer) {
  // The callers pass 8-bit values in 32-bit slots whose upper halves are
  // undefined.
  if ((command & 0xFFFF) != kReadSectorsCommand) return 0;
  if (count == 0 || count > kMaxSectorsPerTransfer || buffer == nullptr) return 0;
  if (!m_enumerated) Enumerate();  // a caller that never asked for the table
  const uint32_t code = driveCode & 0xFFFF;
  if (code < 0x80 || code - 0x80 >= m_count) return 0;

  const DriveHandle drive = m_drives[code - 0x80];
  const uint64_t offset = uint64_t{startSector} * kSectorSize;
  return m_access.ReadAt(drive, offset, buffer, count * kSectorSize) ? 1 : 0;
}
