#include "platform/linux/SystemDiskLocatorLinux.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/DriveList.h"

namespace fs = std::filesystem;

std::string RootDeviceNumber(const std::string& mountinfo) {
  std::ifstream in(mountinfo);
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    // id parent MAJ:MIN root mountpoint ...; a later mount on "/" hides an
    // earlier one, so the last line wins.
    std::istringstream fields(line);
    std::string id, parent, devno, root, mountPoint;
    if (fields >> id >> parent >> devno >> root >> mountPoint && mountPoint == "/") found = devno;
  }
  return found;
}

namespace {
void CollectDisks(const fs::path& dir, std::vector<std::string>& out, int depth) {
  std::error_code ec;
  if (depth > 8) return;  // slave chains are short; this only guards against loops
  if (fs::exists(dir / "partition", ec)) {
    out.push_back(dir.parent_path().filename().string());
    return;
  }
  const fs::path slaves = dir / "slaves";
  bool any = false;
  if (fs::is_directory(slaves, ec)) {
    for (const auto& s : fs::directory_iterator(slaves, ec)) {
      any = true;
      CollectDisks(fs::canonical(s.path(), ec), out, depth + 1);
    }
  }
  if (!any) out.push_back(dir.filename().string());
}
}  // namespace

std::vector<std::string> WholeDisksUnder(const std::string& deviceNumber, const std::string& sysRoot) {
  std::vector<std::string> disks;
  if (deviceNumber.empty()) return disks;
  std::error_code ec;
  const fs::path dir = fs::canonical(fs::path(sysRoot) / "dev/block" / deviceNumber, ec);
  if (ec) return disks;
  CollectDisks(dir, disks, 0);
  return disks;
}

int LinuxSystemDiskLocator::LocateSystemDisk() {
  const std::vector<std::string> disks = WholeDisksUnder(RootDeviceNumber(m_mountinfo), m_sysRoot);
  for (size_t i = 0; i < m_drives.size(); ++i) {
    const std::vector<std::string> drive = WholeDisksUnder(DeviceNumberOf(m_drives[i]), m_sysRoot);
    for (const auto& d : drive)
      if (std::find(disks.begin(), disks.end(), d) != disks.end()) return static_cast<int>(i);
  }
  return 0;
}
