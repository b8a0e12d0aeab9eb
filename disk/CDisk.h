#pragma once
// The program's only road to the disks: fills the disk table at construction,
// keeps one disk active and reads it in chunks of at most 128 sectors.
#include <cstdint>

#include "disk/DeviceIo.h"
#include "disk/DiskTable.h"
#include "disk/ModulePort.h"
#include "platform/SystemDiskLocator.h"
#include "platform/SystemPort.h"

// The operating-system services the disk object is built on.
struct DiskPorts {
  ISystemPort& system;
  IDeviceIo& device;
  ISystemDiskLocator& locator;
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
  uint32_t ReadSectors(uint32_t startSector, uint16_t count, void* buffer);
  uint32_t ReadWriteSector(uint8_t command, uint8_t driveCode, uint32_t startSector, uint16_t count, void* buffer);
  uint32_t ReadWriteSectorNt(uint8_t command, uint8_t driveCode, uint32_t startSector, uint16_t count, void* buffer);
  uint32_t ReadWriteSector9x(uint8_t command, uint8_t driveCode, uint32_t startSector, uint16_t count, void* buffer);
  int32_t GetDiskinfoNt();
  int32_t GetDiskinfo9x();
  int32_t RefreshDiskTable();
  DeviceHandle OpenDrive(int32_t number);
  int32_t InitDisks();
  int32_t LoadDiskDll();

  bool IsNt() const { return m_bNt != 0; }
  uint16_t ActiveDrive() const { return m_activeDrive; }
  uint16_t DriveCodeOfSlot(int slot) const { return slot >= 0 && slot < 4 ? m_driveCodes[slot] : 0; }
  bool HasOpenDevice() const { return m_hActiveDevice.IsOpen(); }
  bool HasDiskDll() const { return m_hDll.IsLoaded(); }

  // Clears the disk table and the system disk code, so that one test process
  // can build disk objects over several scripted machines. The product never
  // calls it.
  static void ForgetProcessState();

 private:
  DiskPorts m_ports;
  GetDiskInfoEntry m_pfnGetDiskInfo = nullptr;
  ReadWriteSectorEntry m_pfnReadWriteSector = nullptr;
  int32_t m_bNt = 0;
  uint16_t m_driveCodes[4] = {};
  uint16_t m_activeDrive = kNoActiveDrive;
  UniqueDevice m_hActiveDevice;
  UniqueModule m_hDll;  // the 9x DLL, unloaded with the object
};
