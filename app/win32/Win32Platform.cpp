#include "app/win32/Win32Platform.h"

CWin32Platform::CWin32Platform()
    : m_probe(m_system),
      m_log(m_files, kLogFile),
      m_device(m_deviceCalls),
      m_locator(m_probe, m_system, m_links),
      m_identifyNt(MakeWin32IdentifyNtPort()),
      m_identify9x(MakeWin32Identify9xPort()) {}

DiskPorts CWin32Platform::Disk() { return DiskPorts{m_probe, m_device, m_locator, m_log, &m_modules}; }

ScanPorts CWin32Platform::Ports(IScanView& view) {
  return ScanPorts{Disk(), &m_system, m_identifyNt.get(), m_identify9x.get(), m_clock, m_files, view, kReportFile};
}
