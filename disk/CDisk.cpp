#include "disk/CDisk.h"

#include <algorithm>
#include <cstring>

#include "disk/ScanLog.h"
#include "platform/PlatformProbe.h"

DiskTable g_diskTable = {};
uint16_t SystemDiskCode = 0;

const DiskRecord* DiskRecordOfSlot(int slot) {
  if (slot < 0 || static_cast<uint32_t>(slot) >= std::min(g_diskTable.count, kMaxDisks)) return nullptr;
  return &g_diskTable.records[slot];
}

void CDisk::ForgetProcessState() {
  std::memset(&g_diskTable, 0, sizeof g_diskTable);
  SystemDiskCode = 0;
}

CDisk::CDisk(const DiskPorts& ports) : m_ports(ports), m_hActiveDevice(ports.device) {
  PlatformProbe probe(m_ports.system);
  m_activeDrive = kNoActiveDrive;
  m_bNt = probe.IsNtFamily() ? 1 : 0;
  InitDisks();  // the outcome shows in the table, the log and later calls
}

CDisk::~CDisk() = default;  // m_hActiveDevice closes the active device

int32_t CDisk::InitDisks() {
  int32_t result = 0;
  if (m_bNt || LoadDiskDll()) result = RefreshDiskTable();
  if (SystemDiskCode == 0) SystemDiskCode = static_cast<uint16_t>(0x80 + m_ports.locator.LocateSystemDisk());
  // The system disk's number is used as a slot code: where physical numbers
  // have gaps this activates the slot whose index equals that number.
  SetActiveDisk(SystemDiskCode);
  return result;
}

int32_t CDisk::LoadDiskDll() {
  // The Windows 9x branch loads "Halvex32.dll" here; until that loader is in
  // place no DLL is ever found and the disk table stays empty.
  return 0;
}

int32_t CDisk::RefreshDiskTable() {
  std::memset(&g_diskTable, 0, sizeof g_diskTable);
  std::fill(std::begin(m_driveCodes), std::end(m_driveCodes), 0);
  return m_bNt ? GetDiskinfoNt() : GetDiskinfo9x();
}

DeviceHandle CDisk::OpenDrive(int32_t number) { return m_ports.device.OpenDrive(number); }

int32_t CDisk::GetDiskinfoNt() {
  ScanLog& log = ScanLog::Instance();
  uint32_t slot = 0;
  for (int drive = 0; drive < 8 && slot < kMaxDisks; ++drive) {
    m_hActiveDevice.Reset(OpenDrive(drive));
    if (!m_hActiveDevice.IsOpen()) continue;  // absent drives are skipped silently
    log.WriteF("GetDiskinfoNt::OpenDrive %d ok!\r\n", drive);

    DiskGeometry g;
    if (m_ports.device.GetGeometry(m_hActiveDevice.Get(), g)) {
      DiskRecord& r = g_diskTable.records[slot];
      r.sectorsPerTrack = static_cast<uint16_t>(g.sectorsPerTrack);
      r.heads = static_cast<uint16_t>(g.tracksPerCylinder);
      r.cylinders = static_cast<uint32_t>(g.cylinders);
      r.sectorsPerCylinder = static_cast<uint32_t>(r.heads) * r.sectorsPerTrack;
      r.totalSectors = r.sectorsPerCylinder * r.cylinders;  // wraps modulo 2^32
      m_driveCodes[slot] = static_cast<uint16_t>(0x80 + drive);
      log.WriteF("MediaType=%d, drive=%d\r\n", g.mediaType, static_cast<int>(slot));
      log.WriteF("cyln=%d, head=%d, sector=%d\r\n", static_cast<int>(r.cylinders),
                 static_cast<int>(g.tracksPerCylinder), static_cast<int>(g.sectorsPerTrack));
    }
    // A disk that opens but keeps its geometry to itself still takes a slot,
    // with zero size and no drive code.
    ++slot;
    m_hActiveDevice.Reset();
  }
  g_diskTable.count = slot;
  return 1;
}

int32_t CDisk::GetDiskinfo9x() {
  if (m_hDll == nullptr || m_pfnGetDiskInfo == nullptr) return 0;
  const int32_t r = m_pfnGetDiskInfo(&g_diskTable);
  if (r != 0) {
    for (uint32_t i = 0; i < g_diskTable.count && i < kMaxDisks; ++i) m_driveCodes[i] = static_cast<uint16_t>(0x80 + i);
  }
  return r;
}

int32_t CDisk::SetActiveDisk(uint16_t slotCode) {
  if (slotCode < 0x80 || slotCode >= 0x80 + g_diskTable.count || slotCode >= 0x80 + kMaxDisks) {
    ScanLog::Instance().Write("SetActiveDisk failed, whichdisk\r\n");
    return 0;
  }
  const uint16_t drive = m_driveCodes[slotCode - 0x80];
  if (drive == m_activeDrive) {
    if (!m_bNt) return 1;
    return m_hActiveDevice.IsOpen() ? 1 : 0;
  }
  // The active drive changes before the open: a failed open is not retried
  // by activating the same slot again, only by switching away and back.
  m_activeDrive = drive;
  if (!m_bNt) return 1;

  m_hActiveDevice.Reset();
  m_hActiveDevice.Reset(OpenDrive(drive - 0x80));
  if (!m_hActiveDevice.IsOpen()) {
    ScanLog::Instance().Write("SetActiveDisk::OpenDrive failed");
    return 0;
  }
  return 1;
}

uint32_t CDisk::ReadSectors(uint32_t startSector, uint16_t count, void* buffer) {
  return ReadWriteSector(kCmdReadSectors, static_cast<uint8_t>(m_activeDrive & 0xFF), startSector, count, buffer);
}

uint32_t CDisk::ReadWriteSector(uint8_t command, uint8_t driveCode, uint32_t startSector, uint16_t count,
                                void* buffer) {
  uint32_t total = 0;
  auto* at = static_cast<unsigned char*>(buffer);
  while (count != 0) {
    const uint16_t chunk = std::min(count, kMaxTransferSectors);
    const uint32_t bytes = m_bNt ? ReadWriteSectorNt(command, driveCode, startSector, chunk, at)
                                 : ReadWriteSector9x(command, driveCode, startSector, chunk, at);
    if (bytes == 0) {
      // No retry and no fall-back to single sectors: one failed chunk fails
      // the whole call.
      ScanLog::Instance().Write(m_bNt ? "CDisk::ReadWriteSector ReadWriteSectorNt some bad sectors\r\n"
                                      : "CDisk::ReadWriteSector ReadWriteSector9x some bad sectors\r\n");
      return 0;
    }
    total += bytes;
    startSector += chunk;
    at += static_cast<size_t>(chunk) * kSectorSize;
    count = static_cast<uint16_t>(count - chunk);
  }
  return total;
}

uint32_t CDisk::ReadWriteSectorNt(uint8_t command, uint8_t /*driveCode*/, uint32_t startSector, uint16_t count,
                                  void* buffer) {
  if (!m_hActiveDevice.IsOpen()) {
    ScanLog::Instance().Write("ReadWriteSectorNt::m_hActiveDevice invalid.\r\n");
    return 0;
  }
  IDeviceIo& io = m_ports.device;
  const DeviceHandle h = m_hActiveDevice.Get();
  io.Flush(h);
  io.LockVolume(h);  // applies to volumes; on a drive its outcome does not matter
  io.Seek(h, startSector << 9, startSector >> 23);
  if (command != kCmdReadSectors) return 0;  // the program issues no other command

  uint32_t bytesRead = 0;
  if (!io.Read(h, buffer, static_cast<uint32_t>(count) * kSectorSize, bytesRead)) {
    ScanLog::Instance().WriteF("ReadWriteSectorNt, dwBytes=%ld, ReadFile failed\r\n", static_cast<long>(bytesRead));
    return 0;
  }
  io.UnlockVolume(h);
  return bytesRead;
}

uint32_t CDisk::ReadWriteSector9x(uint8_t command, uint8_t driveCode, uint32_t startSector, uint16_t count,
                                  void* buffer) {
  if (m_hDll == nullptr || m_pfnReadWriteSector == nullptr) return 0;
  m_pfnReadWriteSector(command, driveCode, startSector, count, buffer);
  return static_cast<uint32_t>(count) * kSectorSize;
}
