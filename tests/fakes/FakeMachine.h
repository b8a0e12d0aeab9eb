#pragma once
// A whole scripted machine for the disk object and the scan window's logic:
// the version query, the drives, the system disk, and the files the program
// writes (kept in memory, "Scan.log" among them).
#include "disk/CDisk.h"
#include "fakes/FakeDisk.h"
#include "fakes/FakeSystem.h"
#include "fakes/MemoryFileSystem.h"
#include "platform/PlatformProbe.h"
#include "platform/ScanLog.h"

struct FakeMachine {
  FakeSystemPort system;
  PlatformProbe probe{system};
  FakeDeviceIo io;
  FakeLocator locator;
  MemoryFileSystem files;
  ScanLog log{files, kLogFile};

  DiskPorts Disk(IModulePort* modules = nullptr) { return DiskPorts{probe, io, locator, log, modules}; }
};
