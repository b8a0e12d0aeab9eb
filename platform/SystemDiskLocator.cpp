#include "platform/SystemDiskLocator.h"

#include <cctype>
#include <cstdio>
#include <string>

namespace {
constexpr uint32_t kLinkBufferSize = 256;

bool EqualsIgnoreCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int ca = std::tolower(static_cast<unsigned char>(*a));
    const int cb = std::tolower(static_cast<unsigned char>(*b));
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}
}  // namespace

int NtSystemDiskLocator::LocateSystemDisk() {
  m_probe.Probe();
  if (!m_probe.IsNtFamily()) return 0;

  char letter = 'C';
  std::string windowsDir;
  if (m_system.WindowsDirectory(windowsDir) && !windowsDir.empty()) letter = windowsDir[0];

  char name[kLinkBufferSize] = {};
  char driveTarget[kLinkBufferSize] = {};
  std::snprintf(name, sizeof name, "\\??\\%c:", letter);
  if (!m_links.QuerySymbolicLink(name, driveTarget, kLinkBufferSize)) return 0;

  if (!m_probe.IsWin2000OrLater()) {
    // NT 4 links the drive straight to "\Device\Harddisk%d\Partition%d": the
    // one digit after the 16 characters of "\Device\Harddisk" is the disk.
    const int digit = driveTarget[16] - '0';
    return digit >= 0 && digit <= 9 ? digit : 0;
  }

  // NT 5 and later link the drive to a volume device: find the partition
  // link with the same target. Partition 0 is the whole disk and never
  // matches, but a failed lookup there ends that disk's search at once.
  char partitionTarget[kLinkBufferSize] = {};
  for (int disk = 0; disk <= 8; ++disk) {
    for (int partition = 0; partition < 8; ++partition) {
      std::snprintf(name, sizeof name, "\\Device\\Harddisk%d\\Partition%d", disk, partition);
      if (!m_links.QuerySymbolicLink(name, partitionTarget, kLinkBufferSize)) break;
      if (EqualsIgnoreCase(partitionTarget, driveTarget)) return disk;
    }
  }
  return 0;
}
