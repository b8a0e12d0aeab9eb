#pragma once
// The Linux ports the scan window's logic runs on, made together and kept
// together for as long as a command runs.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/CScan.h"
#include "disk/linux/DeviceIoLinux.h"
#include "identify/IdentifyPorts.h"
#include "platform/PlatformProbe.h"
#include "platform/ScanLog.h"
#include "platform/linux/ClockLinux.h"
#include "platform/linux/FileSystemLinux.h"
#include "platform/linux/SystemDiskLocatorLinux.h"

class LinuxMachine {
 public:
  // The drives are the paths given, or the machine's whole disks. The log
  // is not opened (nothing written) until Log().OpenLocked. The report and the log go
  // into `outputDir` (empty: the current directory). A scan keeps up to
  // queueDepth reads in flight (1: one at a time).
  explicit LinuxMachine(const std::vector<std::string>& givenPaths, const std::string& outputDir = "",
                        uint32_t queueDepth = 1);
  LinuxMachine(const LinuxMachine&) = delete;
  LinuxMachine& operator=(const LinuxMachine&) = delete;

  DiskPorts Disk() { return DiskPorts{m_probe, m_io, m_locator, m_log, nullptr}; }
  ScanPorts Scan(IScanView& view) {
    return ScanPorts{Disk(), nullptr, m_identify.get(), nullptr, m_clock, m_files, view, m_reportPath};
  }
  const std::string& ReportPath() const { return m_reportPath; }
  const std::string& LogPath() const { return m_logPath; }

  const std::vector<std::string>& Drives() const { return m_drives; }
  const LinuxDeviceIo& Io() const { return m_io; }
  IIdentifyNtPort* Identify() { return m_identify.get(); }
  IFileSystem& Files() { return m_files; }
  IClock& Clock() { return m_clock; }
  ScanLog& Log() { return m_log; }
  // Why the scan reads one block at a time although a deeper queue was
  // asked for, the first time it is asked after that became known; empty
  // otherwise. What the front end says, once.
  std::string ReadAheadNews();

 private:
  std::vector<std::string> m_drives;
  std::string m_reportPath;
  std::string m_logPath;
  PlatformProbe m_probe = PlatformProbe::DeviceSystem();
  LinuxFileSystem m_files;
  LinuxClock m_clock;
  ScanLog m_log;
  LinuxDeviceIo m_io;
  LinuxSystemDiskLocator m_locator;
  std::unique_ptr<IIdentifyNtPort> m_identify;
  std::string m_readAheadSaid;
};
