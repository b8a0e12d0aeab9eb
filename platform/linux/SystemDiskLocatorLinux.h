#pragma once
#include <string>
#include <vector>

#include "platform/SystemDiskLocator.h"

// The whole disk that holds "/": the device of the root mount, followed
// through its partition to the disk and through device-mapper and md devices
// to the disks under them; answered as its position in the drive list.
class LinuxSystemDiskLocator : public ISystemDiskLocator {
 public:
  explicit LinuxSystemDiskLocator(std::vector<std::string> drives, std::string mountinfo = "/proc/self/mountinfo",
                                  std::string sysRoot = "/sys")
      : m_drives(std::move(drives)), m_mountinfo(std::move(mountinfo)), m_sysRoot(std::move(sysRoot)) {}
  int LocateSystemDisk() override;

 private:
  std::vector<std::string> m_drives;
  std::string m_mountinfo;
  std::string m_sysRoot;
};

// "MAJ:MIN" of the file system mounted on "/" in a mountinfo file, or "".
std::string RootDeviceNumber(const std::string& mountinfo);

// The names of the whole disks under a block device ("8:2" -> {"sda"}; a
// device-mapper device -> the disks of its slaves), found in sysRoot.
std::vector<std::string> WholeDisksUnder(const std::string& deviceNumber, const std::string& sysRoot);
