#include "app/linux/ListDisks.h"

#include <cstdio>

#include "app/DiskLabels.h"
#include "app/linux/Commands.h"
#include "app/linux/LinuxMachine.h"
#include "app/linux/OutputDir.h"
#include "app/linux/OutputFiles.h"
#include "identify/CDriveIdentifier.h"
#include "platform/Format.h"
#include "platform/ScanLog.h"
#include "scan/ScanReport.h"

namespace {
std::string Field(std::string text) {
  for (char& c : text)
    if (c == '\t' || c == '\n' || c == '\r') c = '?';
  return text;
}
}  // namespace

std::string DecimalSizeText(uint64_t bytes) {
  static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  int unit = 0;
  uint64_t scale = 1;
  while (unit < 6 && bytes / scale >= 1000) {
    scale *= 1000;
    ++unit;
  }
  const uint64_t whole = bytes / scale;
  if (unit == 0 || whole >= 100) return StrFormat("%llu %s", static_cast<unsigned long long>(whole), kUnits[unit]);
  // One decimal below 100 (two digits or fewer before the point), cut.
  const uint64_t tenths = bytes / (scale / 10) % 10;
  return StrFormat("%llu.%llu %s", static_cast<unsigned long long>(whole), static_cast<unsigned long long>(tenths),
                   kUnits[unit]);
}

std::string DiskListLine(const DiskListEntry& d) {
  return Field(d.entry) + "\t" + Field(d.diskSize) + "\t" + Field(d.cellSize) + "\t" + Field(d.device) + "\t" +
         std::to_string(d.bytes) + "\t" + DecimalSizeText(d.bytes) + "\t" + Field(d.serial);
}

int ListDisks(const Options& options) {
  const std::string dirProblem = OutputDirProblem(options.outputDir);
  if (!dirProblem.empty()) {
    std::fprintf(stderr, "morvek-scan: --output-dir %s: %s\n", options.outputDir.c_str(), dirProblem.c_str());
    return kExitUsage;
  }
  // Listing writes the log: it must not be an image being listed.
  if (const std::string why =
          OutputsProblem({{"the log", InOutputDir(options.outputDir, kLogFile), false}}, options.devices);
      !why.empty()) {
    std::fprintf(stderr, "morvek-scan: %s\n", why.c_str());
    return kExitUsage;
  }
  LinuxMachine m(options.devices, options.outputDir);
  CDisk disk(m.Disk());
  // Models come from the drives' own identify data, numbered like the disk
  // table (position n is drive n), as the scan window lists them.
  const CDriveIdentifier identifier(nullptr, m.Identify(), nullptr);
  if (!ReportOpenFailures(m, disk, !options.devices.empty())) return kExitUsage;
  if (!TakeTheLog(m)) return kExitUsage;
  const DiskTable& table = disk.Table();
  for (uint32_t slot = 0; slot < table.count; ++slot) {
    const int s = static_cast<int>(slot);
    const uint64_t total = disk.TotalSectors(s);
    DiskListEntry entry;
    entry.entry = DiskDescription(s, identifier.GetModel(s));
    entry.diskSize = DiskSizeText(total);
    entry.cellSize = CellSizeText(total);
    // The device and its serial number are the slot's own drive's, so that
    // a line can be matched to the disk it names.
    const int drive = disk.DriveCodeOfSlot(s) - 0x80;
    const bool known = drive >= 0 && static_cast<size_t>(drive) < m.Drives().size();
    entry.device = known ? m.Drives()[static_cast<size_t>(drive)] : "?";
    entry.bytes = disk.DeviceSectors(s) * 512;
    if (known) entry.serial = ReadDriveSerial(*m.Identify(), drive);
    std::printf("%s\n", DiskListLine(entry).c_str());
  }
  return kExitClean;
}
