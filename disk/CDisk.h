#pragma once
// The program's only road to the disks: fills its disk table at
// construction, keeps one disk active and reads it in chunks of at most 128
// sectors.
#include <cstdint>
#include <vector>

#include "disk/DeviceIo.h"
#include "disk/DiskTable.h"
#include "disk/ModulePort.h"
#include "platform/PlatformProbe.h"
#include "platform/ScanLog.h"
#include "platform/SystemDiskLocator.h"

// The operating-system services the disk object is built on.
struct DiskPorts {
  PlatformProbe& probe;
  IDeviceIo& device;
  ISystemDiskLocator& locator;
  ScanLog& log;
  // The module loader for the Windows 9x disk DLL; without one that branch
  // finds no DLL.
  IModulePort* modules = nullptr;
};

// The Windows 9x disk DLL, looked for beside the program.
constexpr char kDiskDllName[] = "Halvex32.dll";

constexpr uint8_t kCmdReadSectors = 2;
constexpr uint16_t kNoActiveDrive = 0x00FF;
constexpr uint16_t kMaxTransferSectors = 128;

class CDisk {
 public:
  explicit CDisk(const DiskPorts& ports);
  ~CDisk();
  CDisk(const CDisk&) = delete;
  CDisk& operator=(const CDisk&) = delete;

  int32_t SetActiveDisk(uint16_t slotCode);
  // Sector numbers are 64-bit: disks of 2 TiB and more hold more than 2^32
  // sectors (the 9x DLL's table and reads stay 32-bit).
  uint32_t ReadSectors(uint64_t startSector, uint16_t count, void* buffer);
  uint32_t ReadWriteSector(uint8_t command, uint8_t driveCode, uint64_t startSector, uint16_t count, void* buffer);
  uint32_t ReadWriteSectorNt(uint8_t command, uint8_t driveCode, uint64_t startSector, uint16_t count, void* buffer);
  uint32_t ReadWriteSector9x(uint8_t command, uint8_t driveCode, uint64_t startSector, uint16_t count, void* buffer);
  int32_t GetDiskinfoNt();
  int32_t GetDiskinfo9x();
  int32_t RefreshDiskTable();
  DeviceHandle OpenDrive(int32_t number);
  int32_t InitDisks();
  int32_t LoadDiskDll();

  // The disks found at construction; read-only afterwards.
  const DiskTable& Table() const { return m_table; }
  // The record of a slot, or null when the slot is not one of the table's
  // valid records: nothing outside 0 to count - 1 is ever read.
  const DiskRecord* RecordOfSlot(int slot) const;
  // 0x80 + the number of the physical disk that holds the system directory.
  uint16_t SystemDiskCode() const { return m_systemDiskCode; }

  // A slot's size in 512-byte sectors, 64-bit, 0 for no such slot: its whole
  // cylinders (what the window shows and the map covers) and the device's
  // true end, which may lie up to a cylinder further. On the 9x branch both
  // are the table's total.
  uint64_t TotalSectors(int slot) const;
  uint64_t DeviceSectors(int slot) const;
  // The logical sector size of the slot's drive (512 where not known).
  uint32_t SectorSize(int slot) const;
  // Physical drives that exist but found no room in the table (it holds four).
  const std::vector<int>& DrivesLeftOut() const { return m_leftOut; }
  // What the last failed read came to (a failed medium, or a device gone).
  ReadError LastReadError() const { return m_lastReadError; }
  // When the last read's outcome was known (monotonic nanoseconds; 0 where
  // the device port cannot tell, and on the 9x branch). Within a stream of
  // reads two of them apart give one block's time, read ahead or not.
  uint64_t LastReadReadyNs() const { return m_lastReadyNs; }

  // The reads to come on the active disk: blocks of kMaxTransferSectors from
  // firstSector on, each where the last ended, up to endSector (the last one
  // may be shorter). The device may then read ahead of them; what each
  // ReadSectors gives stays what it gives alone. With StreamData::kDiscarded
  // the caller never looks at the bytes of these reads, and its buffer may
  // be left as it was; reads outside the stream fill it as ever. The 9x
  // branch, which reads through its DLL, ignores this.
  void ExpectSequentialReads(uint64_t firstSector, uint64_t endSector, StreamData data);
  // The stream is over: nothing of it is in flight any more when this returns.
  void EndSequentialReads();

  bool IsNt() const { return m_bNt != 0; }
  uint16_t ActiveDrive() const { return m_activeDrive; }
  uint16_t DriveCodeOfSlot(int slot) const { return slot >= 0 && slot < 4 ? m_driveCodes[slot] : 0; }
  bool HasOpenDevice() const { return m_hActiveDevice.IsOpen(); }
  bool HasDiskDll() const { return m_hDll.IsLoaded(); }
  ScanLog& Log() const { return m_ports.log; }

 private:
  DiskPorts m_ports;
  DiskTable m_table = {};
  uint64_t m_totalSectors[4] = {};
  uint64_t m_deviceSectors[4] = {};
  uint32_t m_sectorSize[4] = {};
  std::vector<int> m_leftOut;
  uint16_t m_systemDiskCode = 0;
  ReadError m_lastReadError = ReadError::kNone;
  uint64_t m_lastReadyNs = 0;
  GetDiskInfoEntry m_pfnGetDiskInfo = nullptr;
  ReadWriteSectorEntry m_pfnReadWriteSector = nullptr;
  int32_t m_bNt = 0;
  uint16_t m_driveCodes[4] = {};
  uint16_t m_activeDrive = kNoActiveDrive;
  UniqueDevice m_hActiveDevice;
  UniqueModule m_hDll;  // the 9x DLL, unloaded with the object
};
