#pragma once
// The real Win32 ports the scan window's logic runs on, made together and
// kept together for as long as the logic lives.
#include <memory>

#include "app/CScan.h"
#include "disk/NtDeviceIo.h"
#include "disk/win32/ModulePortWin32.h"
#include "disk/win32/NtDeviceCallsWin32.h"
#include "identify/win32/IdentifyWin32.h"
#include "platform/PlatformProbe.h"
#include "platform/ScanLog.h"
#include "platform/SystemDiskLocator.h"
#include "platform/win32/ClockWin32.h"
#include "platform/win32/FileSystemWin32.h"
#include "platform/win32/LinkPortWin32.h"
#include "platform/win32/SystemPortWin32.h"

class CWin32Platform {
 public:
  CWin32Platform();
  CWin32Platform(const CWin32Platform&) = delete;
  CWin32Platform& operator=(const CWin32Platform&) = delete;

  // The ports for a CScan that shows itself in `view`.
  ScanPorts Ports(IScanView& view);
  DiskPorts Disk();

 private:
  Win32SystemPort m_system;
  PlatformProbe m_probe;
  Win32FileSystem m_files;
  ScanLog m_log;
  Win32NtDeviceCalls m_deviceCalls;
  NtDeviceIo m_device;
  Win32ModulePort m_modules;
  Win32LinkPort m_links;
  NtSystemDiskLocator m_locator;
  std::unique_ptr<IIdentifyNtPort> m_identifyNt;
  std::unique_ptr<IIdentify9xPort> m_identify9x;
  Win32Clock m_clock;
};
