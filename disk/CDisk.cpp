#include "disk/CDisk.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Format.h"

const DiskRecord* CDisk::RecordOfSlot(int slot) const {
  if (slot < 0 || static_cast<uint32_t>(slot) >= std::min(m_table.count, kMaxDisks)) return nullptr;
  return &m_table.records[slot];
}

uint64_t CDisk::TotalSectors(int slot) const { return RecordOfSlot(slot) ? m_totalSectors[slot] : 0; }

uint64_t CDisk::DeviceSectors(int slot) const { return RecordOfSlot(slot) ? m_deviceSectors[slot] : 0; }

uint32_t CDisk::SectorSize(int slot) const {
  return RecordOfSlot(slot) && m_sectorSize[slot] != 0 ? m_sectorSize[slot] : kSectorSize;
}

CDisk::CDisk(const DiskPorts& ports) : m_ports(ports), m_hActiveDevice(ports.device) {
  m_ports.probe.Probe();
  m_activeDrive = kNoActiveDrive;
  m_bNt = m_ports.probe.IsNtFamily() ? 1 : 0;
  InitDisks();  // the outcome shows in the table, the log and later calls
}

CDisk::~CDisk() = default;  // m_hActiveDevice closes the active device, m_hDll unloads the DLL

int32_t CDisk::InitDisks() {
  int32_t result = 0;
  if (m_bNt || LoadDiskDll()) result = RefreshDiskTable();
  if (m_systemDiskCode == 0) m_systemDiskCode = static_cast<uint16_t>(0x80 + m_ports.locator.LocateSystemDisk());
  // The system disk's number is used as a slot code: where physical numbers
  // have gaps this activates the slot whose index equals that number.
  SetActiveDisk(m_systemDiskCode);
  return result;
}

namespace {

// The directory part of a module path, its last backslash kept; empty when
// the path has none.
std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Makes a directory current for as long as it lives and then restores the
// one that was current before, whatever happened in between. Where the
// current directory cannot be read it is left alone, since it could not be
// put back.
class CurrentDirectorySwitch {
 public:
  CurrentDirectorySwitch(IModulePort& modules, const std::string& directory) : m_modules(modules) {
    m_saved = modules.CurrentDirectory(m_before);
    if (m_saved) modules.ChangeDirectory(directory);
  }
  ~CurrentDirectorySwitch() {
    if (m_saved) m_modules.ChangeDirectory(m_before);
  }
  CurrentDirectorySwitch(const CurrentDirectorySwitch&) = delete;
  CurrentDirectorySwitch& operator=(const CurrentDirectorySwitch&) = delete;

 private:
  IModulePort& m_modules;
  std::string m_before;
  bool m_saved = false;
};

}  // namespace

int32_t CDisk::LoadDiskDll() {
  m_pfnGetDiskInfo = nullptr;
  m_pfnReadWriteSector = nullptr;
  m_hDll.Reset();
  std::string dllName = kDiskDllName;
  IModulePort* modules = m_ports.modules;
  if (modules == nullptr) {
    // Nothing to load with: the same outcome as a DLL that is nowhere.
    m_ports.log.WriteF("load halvex32.dll error. dllname=%s\r\n", dllName.c_str());
    return 0;
  }

  // 1. The bare name, so that the system's search order applies.
  ModuleHandle module = modules->Load(dllName);
  if (module == kNoModule) {
    // 2. Beside the executable, which need not be on the search path.
    dllName = StrFormat("%s%s", DirectoryOf(modules->ModulePath(kNoModule)).c_str(), kDiskDllName);
    module = modules->Load(dllName);
  }
  if (module == kNoModule) {
    // 3. Beside the module named "locate" (the executable again when no such
    // module is loaded), with its directory current while the DLL loads, so
    // that what the DLL itself loads is found there too.
    const std::string directory = DirectoryOf(modules->ModulePath(modules->FindLoadedModule("locate")));
    dllName = StrFormat("%s%s", directory.c_str(), kDiskDllName);
    CurrentDirectorySwitch inside(*modules, directory);
    module = modules->Load(dllName);
  }
  if (module == kNoModule) {
    m_ports.log.WriteF("load halvex32.dll error. dllname=%s\r\n", dllName.c_str());
    return 0;
  }
  m_hDll.Reset(modules, module);

  m_pfnGetDiskInfo = modules->ResolveGetDiskInfo(module, "GetDiskInfo");
  m_pfnReadWriteSector = modules->ResolveReadWriteSector(module, "ReadWriteSector");
  if (!m_pfnGetDiskInfo) {
    // The module stays loaded until the disk object goes. A missing
    // ReadWriteSector shows later, as failed reads.
    m_ports.log.Write("GetProcAddress from halvex32.dll error.\r\n");
    return 0;
  }
  return 1;
}

int32_t CDisk::RefreshDiskTable() {
  std::memset(&m_table, 0, sizeof m_table);
  std::fill(std::begin(m_driveCodes), std::end(m_driveCodes), 0);
  std::fill(std::begin(m_totalSectors), std::end(m_totalSectors), 0);
  std::fill(std::begin(m_deviceSectors), std::end(m_deviceSectors), 0);
  std::fill(std::begin(m_sectorSize), std::end(m_sectorSize), 0);
  m_leftOut.clear();
  return m_bNt ? GetDiskinfoNt() : GetDiskinfo9x();
}

DeviceHandle CDisk::OpenDrive(int32_t number) { return m_ports.device.OpenDrive(number); }

int32_t CDisk::GetDiskinfoNt() {
  ScanLog& log = m_ports.log;
  constexpr int kDrives = 8;
  uint32_t slot = 0;
  int drive = 0;
  for (; drive < kDrives && slot < kMaxDisks; ++drive) {
    m_hActiveDevice.Reset(OpenDrive(drive));
    if (!m_hActiveDevice.IsOpen()) continue;  // absent drives are skipped silently
    log.WriteF("GetDiskinfoNt::OpenDrive %d ok!\r\n", drive);

    DiskGeometry g;
    if (m_ports.device.GetGeometry(m_hActiveDevice.Get(), g)) {
      DiskRecord& r = m_table.records[slot];
      r.sectorsPerTrack = static_cast<uint16_t>(g.sectorsPerTrack);
      r.heads = static_cast<uint16_t>(g.tracksPerCylinder);
      r.cylinders = static_cast<uint32_t>(g.cylinders);
      r.sectorsPerCylinder = static_cast<uint32_t>(r.heads) * r.sectorsPerTrack;
      r.totalSectors = r.sectorsPerCylinder * r.cylinders;  // the table's 32 bits wrap
      m_driveCodes[slot] = static_cast<uint16_t>(0x80 + drive);
      // The true totals in 64 bits and in 512-byte units, whatever the
      // drive's own sector size, so that the map and the reads cover it all.
      const uint64_t bytesPerSector = g.bytesPerSector != 0 ? g.bytesPerSector : kSectorSize;
      const uint64_t cylinders = g.cylinders > 0 ? static_cast<uint64_t>(g.cylinders) : 0;
      m_totalSectors[slot] = cylinders * r.heads * r.sectorsPerTrack * bytesPerSector / kSectorSize;
      uint64_t bytes = 0;
      m_deviceSectors[slot] =
          m_ports.device.GetSize(m_hActiveDevice.Get(), bytes) && bytes / kSectorSize >= m_totalSectors[slot]
              ? bytes / kSectorSize
              : m_totalSectors[slot];
      m_sectorSize[slot] = m_ports.device.SectorSize(m_hActiveDevice.Get());
      log.WriteF("MediaType=%d, drive=%d\r\n", g.mediaType, static_cast<int>(slot));
      log.WriteF("cyln=%lld, head=%d, sector=%d\r\n", static_cast<long long>(cylinders),
                 static_cast<int>(g.tracksPerCylinder), static_cast<int>(g.sectorsPerTrack));
    }
    // A disk that opens but keeps its geometry to itself still takes a slot,
    // with zero size and no drive code.
    ++slot;
    m_hActiveDevice.Reset();
  }
  m_table.count = slot;
  // Drives the full table had no room for: said, not opened.
  for (; slot == kMaxDisks && drive < kDrives; ++drive) {
    if (!m_ports.device.DriveExists(drive)) continue;
    m_leftOut.push_back(drive);
    log.WriteF("GetDiskinfoNt drive %d left out: the disk list holds four disks", drive);
  }
  return 1;
}

int32_t CDisk::GetDiskinfo9x() {
  if (!m_hDll.IsLoaded() || !m_pfnGetDiskInfo) return 0;
  const int32_t r = m_pfnGetDiskInfo(&m_table);
  if (r == 0) {
    // The DLL did not fill the table: whatever it holds names no drive the
    // DLL would read, so the list stays empty.
    m_ports.log.WriteF("GetDiskinfo9x GetDiskInfo failed, count=%u: no disks", static_cast<unsigned>(m_table.count));
    std::memset(&m_table, 0, sizeof m_table);
    return r;
  }
  // The table holds four records. A larger count from the DLL would send
  // every reader of the table past its end, so it is cut to the capacity.
  if (m_table.count > kMaxDisks) {
    m_ports.log.WriteF("GetDiskinfo9x count=%u clamped to 4\r\n", static_cast<unsigned>(m_table.count));
    m_table.count = kMaxDisks;
  }
  // The DLL takes the disks in order: slot i is drive code 0x80 + i.
  for (uint32_t i = 0; i < m_table.count; ++i) {
    m_driveCodes[i] = static_cast<uint16_t>(0x80 + i);
    m_totalSectors[i] = m_deviceSectors[i] = m_table.records[i].totalSectors;
  }
  return r;
}

int32_t CDisk::SetActiveDisk(uint16_t slotCode) {
  if (slotCode < 0x80 || slotCode >= 0x80 + m_table.count || slotCode >= 0x80 + kMaxDisks) {
    m_ports.log.Write("SetActiveDisk failed, whichdisk\r\n");
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
    m_ports.log.Write("SetActiveDisk::OpenDrive failed");
    return 0;
  }
  return 1;
}

void CDisk::ExpectSequentialReads(uint64_t firstSector, uint64_t endSector, StreamData data) {
  if (!m_bNt || !m_hActiveDevice.IsOpen() || firstSector >= endSector) return;
  m_ports.device.ExpectSequential(m_hActiveDevice.Get(), firstSector * kSectorSize, endSector * kSectorSize,
                                  uint32_t{kMaxTransferSectors} * kSectorSize, data);
}

void CDisk::EndSequentialReads() {
  if (m_bNt && m_hActiveDevice.IsOpen()) m_ports.device.EndSequential(m_hActiveDevice.Get());
}

uint32_t CDisk::ReadSectors(uint64_t startSector, uint16_t count, void* buffer) {
  return ReadWriteSector(kCmdReadSectors, static_cast<uint8_t>(m_activeDrive & 0xFF), startSector, count, buffer);
}

uint32_t CDisk::ReadWriteSector(uint8_t command, uint8_t driveCode, uint64_t startSector, uint16_t count,
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
      m_ports.log.Write(m_bNt ? "CDisk::ReadWriteSector ReadWriteSectorNt some bad sectors\r\n"
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

uint32_t CDisk::ReadWriteSectorNt(uint8_t command, uint8_t /*driveCode*/, uint64_t startSector, uint16_t count,
                                  void* buffer) {
  m_lastReadError = ReadError::kNone;
  m_lastReadyNs = 0;
  if (!m_hActiveDevice.IsOpen()) {
    m_ports.log.Write("ReadWriteSectorNt::m_hActiveDevice invalid.\r\n");
    m_lastReadError = ReadError::kGone;
    return 0;
  }
  if (command != kCmdReadSectors) return 0;  // the program issues no other command
  const ReadResult read = m_ports.device.ReadAt(m_hActiveDevice.Get(), startSector * kSectorSize, buffer,
                                                static_cast<uint32_t>(count) * kSectorSize);
  m_lastReadyNs = read.readyNs;
  if (!read.ok) {
    m_lastReadError = read.error == ReadError::kNone ? ReadError::kMedia : read.error;
    m_ports.log.WriteF("ReadWriteSectorNt, dwBytes=%ld, ReadFile failed\r\n", static_cast<long>(read.bytes));
    return 0;
  }
  return read.bytes;
}

uint32_t CDisk::ReadWriteSector9x(uint8_t command, uint8_t driveCode, uint64_t startSector, uint16_t count,
                                  void* buffer) {
  m_lastReadError = ReadError::kMedia;
  m_lastReadyNs = 0;
  if (!m_hDll.IsLoaded() || !m_pfnReadWriteSector) return 0;
  // The DLL's sector numbers are 32-bit, as its table's are.
  if (startSector > UINT32_MAX) return 0;
  // The DLL answers 0 for a transfer that failed: that must reach the scan as
  // a bad block, not as count * 512 bytes read.
  if (m_pfnReadWriteSector(command, driveCode, static_cast<uint32_t>(startSector), count, buffer) == 0) return 0;
  m_lastReadError = ReadError::kNone;
  return static_cast<uint32_t>(count) * kSectorSize;
}
