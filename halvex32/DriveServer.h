#pragma once
// The disk DLL's service behind its two exports: the table of up to four
// physical disks and sector reads by drive code. Free of operating-system
// calls; the drives are reached through IDriveAccess.
#include <cstdint>

#include "disk/DiskTable.h"

using DriveHandle = intptr_t;
constexpr DriveHandle kNoDrive = -1;

struct DriveGeometry {
  uint64_t cylinders = 0;
  uint32_t heads = 0;  // tracks per cylinder
  uint32_t sectorsPerTrack = 0;
};

// The physical drives as the system offers them, read-only.
class IDriveAccess {
 public:
  virtual ~IDriveAccess() = default;
  // Opens physical drive `number` for reading; kNoDrive where it does not open.
  virtual DriveHandle Open(int number) = 0;
  // The drive's own geometry. When it fails, `unsupported` tells whether the
  // driver does not know the request at all (rather than failing it).
  virtual bool QueryGeometry(DriveHandle drive, DriveGeometry& out, bool& unsupported) = 0;
  // The drive's size in bytes; false where it cannot be told.
  virtual bool QuerySize(DriveHandle drive, uint64_t& bytes) = 0;
  // Reads `bytes` bytes at the byte offset; true when they came, or as many
  // as there are up to the drive's end.
  virtual bool ReadAt(DriveHandle drive, uint64_t offset, void* buffer, uint32_t bytes) = 0;
  virtual void Close(DriveHandle drive) = 0;
};

constexpr uint32_t kReadSectorsCommand = 2;
constexpr uint32_t kMaxSectorsPerTransfer = 128;
constexpr int kDrivesProbed = 8;

class DriveServer {
 public:
  explicit DriveServer(IDriveAccess& access) : m_access(access) {}
  ~DriveServer() { CloseAll(); }
  DriveServer(const DriveServer&) = delete;
  DriveServer& operator=(const DriveServer&) = delete;

  // Fills the table with the disks of physical drives 0 to 7 that open and
  // tell their size, in order, at most four: slot i is drive code 0x80 + i.
  // 1 when the table was filled (also with no disk), 0 for a null table.
  int32_t GetDiskInfo(DiskTable* table);

  // One transfer. Only the low 16 bits of command and driveCode count; the
  // only command is 2 (read); count is 1 to 128. 1 when every byte was read,
  // 0 otherwise.
  int32_t ReadWriteSector(uint32_t command, uint32_t driveCode, uint32_t startSector, uint32_t count, void* buffer);

 private:
  void Enumerate();
  void CloseAll();

  IDriveAccess& m_access;
  bool m_enumerated = false;
  uint32_t m_count = 0;
  DiskRecord m_records[kMaxDisks] = {};
  DriveHandle m_drives[kMaxDisks] = {kNoDrive, kNoDrive, kNoDrive, kNoDrive};
};
