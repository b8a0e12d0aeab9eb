#include "app/linux/Commands.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "app/CScan.h"
#include "app/DiskLabels.h"
#include "app/linux/LinuxMachine.h"
#include "app/linux/OutputFiles.h"
#include "app/linux/StopSignals.h"
#include "app/linux/TerminalView.h"
#include "chart/linux/PngWriter.h"

namespace {

// Says which drives could not be opened and which the list has no room
// for. Returns false, having said so in one line, when no disk at all is
// usable.
bool ReportOpenFailures(const LinuxMachine& m, const CDisk& disk, bool devicesGiven) {
  const uint32_t count = disk.Table().count;
  const std::vector<std::string>& drives = m.Drives();
  for (int number : disk.DrivesLeftOut())
    std::fprintf(stderr, "morvek-scan: %s left out: the disk list holds four disks\n",
                 drives[static_cast<size_t>(number)].c_str());
  // Drive numbers past 7 are never tried, as on Windows.
  for (size_t i = 8; i < drives.size(); ++i)
    std::fprintf(stderr, "morvek-scan: %s never tried: only the first eight devices are looked at\n",
                 drives[i].c_str());
  std::string reasons;
  for (size_t i = 0; i < m.Drives().size(); ++i) {
    const std::string why = m.Io().OpenError(static_cast<int>(i));
    if (why.empty()) continue;
    if (count > 0) {
      std::fprintf(stderr, "morvek-scan: skipped %s: %s\n", m.Drives()[i].c_str(), why.c_str());
    } else {
      reasons += (reasons.empty() ? "" : "; ") + m.Drives()[i] + ": " + why;
    }
  }
  if (count > 0) return true;
  if (reasons.empty()) reasons = devicesGiven ? "nothing usable given" : "no disk found";
  std::fprintf(stderr, "morvek-scan: no disk could be opened (%s)%s\n", reasons.c_str(),
               devicesGiven ? "" : "; name a device or an image file, or run as root");
  return false;
}

// Why the scan reads one block at a time although it was to read ahead,
// said once on stderr.
void SayReadAheadNews(LinuxMachine& m) {
  const std::string news = m.ReadAheadNews();
  if (!news.empty()) std::fprintf(stderr, "morvek-scan: reading one block at a time: %s\n", news.c_str());
}

// The terminal's size, 0 x 0 where it cannot be told.
void TerminalSize(int& rows, int& columns) {
  winsize size{};
  rows = columns = 0;
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
    rows = size.ws_row;
    columns = size.ws_col;
  }
}

}  // namespace

int ListDisks(const Options& options) {
  LinuxMachine m(options.devices);
  CDisk disk(m.Disk());
  // Models come from the drives' own identify data, numbered like the disk
  // table (position n is drive n).
  const CDriveIdentifier identifier(nullptr, m.Identify(), nullptr);
  if (!ReportOpenFailures(m, disk, !options.devices.empty())) return kExitUsage;
  m.Log().Release();
  const DiskTable& table = disk.Table();
  for (uint32_t slot = 0; slot < table.count; ++slot) {
    const uint64_t total = disk.TotalSectors(static_cast<int>(slot));
    std::printf("%s\t%s\t%s\n",
                DiskDescription(static_cast<int>(slot), identifier.GetModel(static_cast<int>(slot))).c_str(),
                DiskSizeText(total).c_str(), CellSizeText(total).c_str());
  }
  return kExitClean;
}

int ScanOneDisk(const Options& options) {
  // Outputs are checked before a scan that may take hours, not after it.
  for (const std::string* path : {&options.map, &options.badList}) {
    if (path->empty()) continue;
    const std::string why = OutputPathProblem(*path, options.devices);
    if (!why.empty()) {
      std::fprintf(stderr, "morvek-scan: cannot write %s: %s\n", path->c_str(), why.c_str());
      return kExitUsage;
    }
  }
  if (!options.map.empty() && options.map == options.badList) {
    std::fprintf(stderr, "morvek-scan: --map and --bad-list name the same file\n");
    return kExitUsage;
  }

  LinuxMachine m(options.devices, options.queueDepth);
  TerminalView view;
  CScan scan(m.Scan(view));
  if (!ReportOpenFailures(m, scan.Disk(), !options.devices.empty())) return kExitUsage;

  const int count = static_cast<int>(scan.Disk().Table().count);
  if (options.disk >= count) {
    std::fprintf(stderr, "morvek-scan: there is no disk %d; the disk list has %d (0 to %d, see --list)\n", options.disk,
                 count, count - 1);
    return kExitUsage;
  }
  m.Log().Release();
  scan.OnInitDialog();
  scan.OnSelchangeDisk(options.disk);

  const ScanLabels sizes = view.Labels();
  const int driveNumber = scan.Disk().DriveCodeOfSlot(options.disk) - 0x80;
  const std::string device = driveNumber >= 0 && static_cast<size_t>(driveNumber) < m.Drives().size()
                                 ? m.Drives()[static_cast<size_t>(driveNumber)]
                                 : std::string("?");
  const bool terminal = isatty(STDOUT_FILENO) == 1;
  // The labels count whole cylinders; where the device holds more than a
  // cell beyond them, its true size is given too (the scan reads it all).
  const uint64_t total = scan.Disk().TotalSectors(options.disk);
  const uint64_t deviceSectors = scan.Disk().DeviceSectors(options.disk);
  std::string trueSize;
  if (deviceSectors - total > total / 2484)
    trueSize = " (the device: " + std::to_string(deviceSectors * 512) + " bytes, " +
               std::to_string(deviceSectors - total) + " sectors past the whole cylinders)";
  SayReadAheadNews(m);  // before the map takes the terminal
  std::printf("Scanning %s (%s): disk size %s, each cell %s%s\n", view.DiskEntries()[options.disk].c_str(),
              device.c_str(), sizes.diskSize.c_str(), sizes.cellSize.c_str(), trueSize.c_str());
  std::fflush(stdout);

  StopSignals signals;
  CScan::StartResult started;
  {
    const StopSignals::BlockedHere blocked;
    started = scan.OnStart();
  }
  if (started != CScan::StartResult::kStarted) {
    std::fprintf(
        stderr, "morvek-scan: %s: %s; nothing was scanned\n", device.c_str(),
        started == CScan::StartResult::kEmpty ? "the device holds no sectors" : "the device could not be opened");
    return kExitUsage;
  }

  bool stopped = false;
  {
    int rows = 0, columns = 0;
    if (terminal) TerminalSize(rows, columns);
    TerminalPainter painter(stdout, terminal, rows, columns);
    // The empty map shows at once, however short the run.
    painter.Update(view, scan.Chart(), false, true);
    // At most ten redraws a second; the end of the run ends the wait at once.
    while (scan.GetState() != CScan::State::Idle && !view.WaitForRunEnd(std::chrono::milliseconds(100))) {
      if (!stopped && signals.Received() != 0) {
        scan.OnStop();
        stopped = true;
        if (!terminal) std::fprintf(stderr, "morvek-scan: stopping after the current read\n");
      }
      painter.Update(view, scan.Chart(), stopped, false);
    }
    scan.WaitForWorker();
    painter.Update(view, scan.Chart(), false, true);
  }

  SayReadAheadNews(m);  // should the run have found out only as it began

  // The run's results. A file that cannot be written is said on stderr; the
  // exit status stays that of the scan.
  const RunResult result = scan.Run().LastResult();
  const std::vector<uint64_t> failed = view.FailedReads();
  if (result.reportWritten) {
    std::printf("Report: %s\n", AbsolutePath(kReportFile).c_str());
  } else {
    std::fprintf(stderr, "morvek-scan: the scan report could not be written: %s\n",
                 WhyNotWritable(kReportFile).c_str());
  }
  std::printf("Result: %s\n", ResultLineText(result.reportWritten, result.clean).c_str());
  std::printf("Bad blocks: %zu\n", failed.size());
  if (!options.badList.empty()) {
    std::string why;
    if (m.Files().WriteWholeFile(options.badList, BadListText(failed), &why))
      std::printf("Bad-block list: %s\n", AbsolutePath(options.badList).c_str());
    else
      std::fprintf(stderr, "morvek-scan: could not write the bad-block list %s: %s\n", options.badList.c_str(),
                   why.c_str());
  }
  if (!options.map.empty()) {
    CDrawPicModel empty;  // never needed after a Start, but never dereference null
    const CDrawPicModel& chart = scan.Chart() ? *scan.Chart() : empty;
    const std::string png = EncodeMapPng(chart);
    std::string why = "the map could not be encoded";
    if (!png.empty() && m.Files().WriteWholeFile(options.map, png, &why))
      std::printf("Map: %s\n", AbsolutePath(options.map).c_str());
    else
      std::fprintf(stderr, "morvek-scan: could not write the map %s: %s\n", options.map.c_str(), why.c_str());
  }
  if (stopped) std::printf("Stopped: the report covers the area read before the stop\n");

  if (stopped) return kExitStopped;
  return result.clean ? kExitClean : kExitBadBlocks;
}
