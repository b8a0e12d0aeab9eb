#pragma once
// Which physical disk holds the system directory.
#include "platform/LinkPort.h"
#include "platform/PlatformProbe.h"
#include "platform/SystemPort.h"

class ISystemDiskLocator {
 public:
  virtual ~ISystemDiskLocator() = default;
  // The physical disk number, 0 when it is not found or cannot be told.
  virtual int LocateSystemDisk() = 0;
};

// The NT way: follow the drive letter's link and compare it with the links of
// every "\Device\Harddisk%d\Partition%d".
class NtSystemDiskLocator : public ISystemDiskLocator {
 public:
  NtSystemDiskLocator(PlatformProbe& probe, ISystemPort& system, ILinkPort& links)
      : m_probe(probe), m_system(system), m_links(links) {}
  int LocateSystemDisk() override;

 private:
  PlatformProbe& m_probe;
  ISystemPort& m_system;
  ILinkPort& m_links;
};
