// morvek-scan: the terminal front end on Linux.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/DiskLabels.h"
#include "disk/CDisk.h"
#include "disk/linux/DeviceIoLinux.h"
#include "identify/CDriveIdentifier.h"
#include "identify/linux/IdentifyLinux.h"
#include "platform/linux/DriveList.h"
#include "platform/linux/SystemDiskLocatorLinux.h"
#include "platform/linux/SystemPortLinux.h"

namespace {

constexpr int kExitUsage = 2;

void PrintUsage(std::FILE* to) {
  std::fputs(
      "Usage: morvek-scan --list [DEVICE...]\n"
      "\n"
      "Morvek Disk Scan reads whole disks and never writes to them.\n"
      "\n"
      "  --list      print the disk list: entry, disk size and cell size, TAB-separated\n"
      "  --help      show this help\n"
      "\n"
      "DEVICE is a block device or a disk image file; the n-th one given is disk n.\n"
      "Without DEVICE the machine's whole disks are used (this needs root).\n"
      "Diagnostics go to Scan.log in the current directory.\n",
      to);
}

struct Options {
  bool list = false;
  std::vector<std::string> devices;
};

// Returns false (after saying why) when the command line is not usable.
bool ParseArgs(int argc, char** argv, Options& o) {
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (!endOfOptions && a == "--") {
      endOfOptions = true;
    } else if (!endOfOptions && a == "--list") {
      o.list = true;
    } else if (!endOfOptions && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "morvek-scan: unknown option '%s' (see --help)\n", a.c_str());
      return false;
    } else {
      o.devices.push_back(a);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(stdout);
      return 0;
    }
  }
  Options options;
  if (!ParseArgs(argc, argv, options)) return kExitUsage;
  if (!options.list) {
    std::fprintf(stderr, "morvek-scan: nothing to do (see --help)\n");
    return kExitUsage;
  }

  const std::vector<std::string> drives = DriveList(options.devices);
  LinuxSystemPort system;
  LinuxDeviceIo io(drives);
  LinuxSystemDiskLocator locator(drives);
  CDisk disk(DiskPorts{system, io, locator});
  // Models come from the drives' own identify data, numbered like the
  // disk table (position n is drive n).
  const auto identifyPort = MakeLinuxIdentifyPort(drives);
  const CDriveIdentifier identifier(system, identifyPort.get(), nullptr);

  for (size_t i = 0; i < drives.size() && i < 8; ++i) {
    const std::string why = io.OpenError(static_cast<int>(i));
    if (!why.empty()) std::fprintf(stderr, "morvek-scan: skipped %s: %s\n", drives[i].c_str(), why.c_str());
  }
  if (g_diskTable.count == 0) {
    std::fprintf(stderr, "morvek-scan: no disk could be opened%s\n",
                 options.devices.empty() ? " (name a device or an image file, or run as root)" : "");
    return kExitUsage;
  }

  for (uint32_t slot = 0; slot < g_diskTable.count; ++slot) {
    const uint32_t total = g_diskTable.records[slot].totalSectors;
    std::printf("%s\t%s\t%s\n",
                DiskEntryText(static_cast<int>(slot), identifier.GetModel(static_cast<int>(slot))).c_str(),
                DiskSizeText(total).c_str(), CellSizeText(total).c_str());
  }
  return 0;
}
