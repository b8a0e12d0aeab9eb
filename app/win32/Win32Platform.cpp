#include "app/win32/Win32Platform.h"

CWin32Platform::CWin32Platform()
    : m_locator(m_system, m_links),
      m_identifyNt(MakeWin32IdentifyNtPort()),
      m_identify9x(MakeWin32Identify9xPort()) {}

ScanPorts CWin32Platform::Ports(IScanView& view) {
  return ScanPorts{DiskPorts{m_system, m_device, m_locator, &m_modules}, m_system, m_identifyNt.get(), m_identify9x.get(),
                   m_clock, view};
}
