#pragma once
// The real Win32 ports the scan window's logic runs on, made together and
// kept together for as long as the logic lives.
#include <memory>

#include "app/CScan.h"
#include "app/win32/Win32Clock.h"
#include "disk/win32/DeviceIoWin32.h"
#include "disk/win32/ModulePortWin32.h"
#include "identify/win32/IdentifyWin32.h"
#include "platform/SystemDiskLocator.h"
#include "platform/win32/LinkPortWin32.h"
#include "platform/win32/SystemPortWin32.h"

class CWin32Platform {
 public:
  CWin32Platform();
  CWin32Platform(const CWin32Platform&) = delete;
  CWin32Platform& operator=(const CWin32Platform&) = delete;

  // The ports for a CScan that shows itself in `view`.
  ScanPorts Ports(IScanView& view);

 private:
  Win32SystemPort m_system;
  Win32DeviceIo m_device;
  Win32ModulePort m_modules;
  Win32LinkPort m_links;
  NtSystemDiskLocator m_locator;
  std::unique_ptr<IIdentifyNtPort> m_identifyNt;
  std::unique_ptr<IIdentify9xPort> m_identify9x;
  Win32Clock m_clock;
};
