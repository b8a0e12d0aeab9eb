#include "app/linux/Commands.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "app/CScan.h"
#include "app/DiskLabels.h"
#include "app/linux/LinuxMachine.h"
#include "app/linux/OutputDir.h"
#include "app/linux/OutputFiles.h"
#include "app/linux/StandardOutput.h"
#include "app/linux/StopSignals.h"
#include "app/linux/TerminalIo.h"
#include "app/linux/TerminalView.h"
#include "chart/linux/PngWriter.h"

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

bool TakeTheLog(LinuxMachine& m) {
  bool busy = false;
  if (m.Log().OpenLocked(&busy)) return true;
  if (busy) {
    std::fprintf(stderr,
                 "morvek-scan: another morvek-scan run is using %s (its Scan.log is locked); "
                 "one run per directory\n",
                 AbsolutePath(m.LogPath()).c_str());
    return false;
  }
  std::fprintf(stderr, "morvek-scan: Scan.log cannot be written (%s); the run goes on without it\n",
               m.Log().Problem().c_str());
  return true;
}

void PrepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", O_RDWR);  // takes the lowest free number: fd
    if (null > 2) close(null);
  }
  signal(SIGPIPE, SIG_IGN);
}

int ScanOneDisk(const Options& options) {
  // Outputs are checked before a scan that may take hours, not after it:
  // each must be a file of its own, never a link, a device or a disk being
  // scanned. The report and the log are written as the run goes (said then
  // when they cannot be), but no output may be one of them.
  const std::string dirProblem = OutputDirProblem(options.outputDir);
  if (!dirProblem.empty()) {
    std::fprintf(stderr, "morvek-scan: --output-dir %s: %s\n", options.outputDir.c_str(), dirProblem.c_str());
    return kExitUsage;
  }
  std::vector<NamedOutput> outputs = {{"the report", InOutputDir(options.outputDir, kReportFile), false},
                                      {"the log", InOutputDir(options.outputDir, kLogFile), false}};
  if (!options.map.empty()) outputs.push_back({"--map", options.map});
  if (!options.badList.empty() && !IsStandardOutput(options.badList))
    outputs.push_back({"--bad-list", options.badList});
  if (const std::string why = OutputsProblem(outputs, options.devices); !why.empty()) {
    std::fprintf(stderr, "morvek-scan: %s\n", why.c_str());
    return kExitUsage;
  }

  DataOnStandardOutput data;
  std::string dataProblem;
  if (IsStandardOutput(options.badList) && !data.Claim(&dataProblem)) {
    std::fprintf(stderr, "morvek-scan: %s\n", dataProblem.c_str());
    return kExitUsage;
  }

  LinuxMachine m(options.devices, options.outputDir);
  TerminalView view;
  CScan scan(m.Scan(view));
  if (!ReportOpenFailures(m, scan.Disk(), !options.devices.empty())) return kExitUsage;

  const int count = static_cast<int>(scan.Disk().Table().count);
  if (options.disk >= count) {
    std::fprintf(stderr, "morvek-scan: there is no disk %d; the disk list has %d (0 to %d, see --list)\n", options.disk,
                 count, count - 1);
    return kExitUsage;
  }
  if (!TakeTheLog(m)) return kExitUsage;
  scan.OnInitDialog();
  scan.OnSelchangeDisk(options.disk);

  const ScanLabels sizes = view.Labels();
  const int driveNumber = scan.Disk().DriveCodeOfSlot(options.disk) - 0x80;
  const std::string device = driveNumber >= 0 && static_cast<size_t>(driveNumber) < m.Drives().size()
                                 ? m.Drives()[static_cast<size_t>(driveNumber)]
                                 : std::string("?");
  // The labels count whole cylinders; where the device holds more than a
  // cell beyond them, its true size is given too (the scan reads it all).
  const uint64_t total = scan.Disk().TotalSectors(options.disk);
  const uint64_t deviceSectors = scan.Disk().DeviceSectors(options.disk);
  std::string trueSize;
  if (deviceSectors - total > total / 2484)
    trueSize = " (the device: " + std::to_string(deviceSectors * 512) + " bytes, " +
               std::to_string(deviceSectors - total) + " sectors past the whole cylinders)";
  const std::string scanning = "Scanning " + view.DiskEntries()[options.disk] + " (" + device + "): disk size " +
                               sizes.diskSize + ", each cell " + sizes.cellSize + trueSize;
  std::printf("%s\n", scanning.c_str());
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
    TerminalPainter painter(PainterSetupFor(stdout, STDOUT_FILENO, options, scanning));
    painter.Follow(
        m.Clock(), [&scan] { return scan.Run().ScanPosition(); }, 0, total);
    // The empty map shows at once, however short the run.
    painter.Update(view, scan.Chart(), false, true);
    // At most ten redraws a second; the end of the run ends the wait at once.
    while (scan.GetState() != CScan::State::Idle && !view.WaitForRunEnd(std::chrono::milliseconds(100))) {
      if (!stopped && signals.Received() != 0) {
        scan.OnStop();
        stopped = true;
        if (!painter.Live()) std::fprintf(stderr, "morvek-scan: stopping after the current read\n");
      }
      painter.Update(view, scan.Chart(), stopped, false);
    }
    scan.WaitForWorker();
    painter.Update(view, scan.Chart(), false, true);
  }

  // The run's results. A file that cannot be written is said on stderr; the
  // exit status stays that of the scan.
  const RunResult result = scan.Run().LastResult();
  const std::vector<uint64_t> failed = view.FailedReads();
  if (result.reportWritten) {
    std::printf("Report: %s\n", AbsolutePath(m.ReportPath()).c_str());
  } else {
    std::fprintf(stderr, "morvek-scan: the scan report could not be written: %s\n",
                 WhyNotWritable(m.ReportPath()).c_str());
  }
  std::printf("Result: %s\n", ResultLineText(result.reportWritten, result.clean).c_str());
  std::printf("Bad blocks: %zu\n", failed.size());
  if (IsStandardOutput(options.badList)) {
    std::string why;
    if (!data.Write(BadListText(failed), &why))
      std::fprintf(stderr, "morvek-scan: could not write the bad-block list: %s\n", why.c_str());
  } else if (!options.badList.empty()) {
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
  if (result.diskGone) {
    std::fprintf(stderr, "morvek-scan: the disk stopped answering at sector %llu; the run ended there\n",
                 static_cast<unsigned long long>(result.goneAtSector));
    std::printf("Disk stopped answering: at sector %llu; the report covers the area read before\n",
                static_cast<unsigned long long>(result.goneAtSector));
  } else if (stopped) {
    std::printf("Stopped: the report covers the area read before the stop\n");
  }
  std::fflush(stdout);

  if (result.diskGone) return kExitDiskGone;
  if (stopped) return kExitStopped;
  return result.clean ? kExitClean : kExitBadBlocks;
}
