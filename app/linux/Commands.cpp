#include "app/linux/Commands.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "app/CScan.h"
#include "app/DiskLabels.h"
#include "app/linux/LinuxMachine.h"
#include "app/linux/OutputDir.h"
#include "app/linux/OutputFiles.h"
#include "app/linux/ReadingsFiles.h"
#include "app/linux/Smart.h"
#include "app/linux/SmartctlRunner.h"
#include "app/linux/StandardOutput.h"
#include "app/linux/StopSignals.h"
#include "app/linux/TerminalIo.h"
#include "app/linux/TerminalView.h"
#include "chart/linux/PngWriter.h"
#include "res/Version.h"
#include "scan/BadSectorRefiner.h"
#include "scan/ScanReadings.h"

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

namespace {

// The data outputs of a scan besides the report, by option.
struct DataOutput {
  const char* option;
  const std::string& path;
};

// Reads a JSON report of an earlier run (--resume): a regular file of
// sensible size. False, having said why.
bool ReadResumeReport(const std::string& path, ResumeData& out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fprintf(stderr, "morvek-scan: --resume %s: not a report file\n", path.c_str());
    return false;
  }
  if (st.st_size > (64 << 20)) {
    std::fprintf(stderr, "morvek-scan: --resume %s: too large for a report of this program\n", path.c_str());
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const nlohmann::json report = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  std::string why;
  if (report.is_discarded()) why = "not JSON";
  if (!report.is_discarded() && ParseResumeData(report, out, why)) return true;
  std::fprintf(stderr, "morvek-scan: --resume %s: %s\n", path.c_str(), why.c_str());
  return false;
}

// Writes one data output (a file, or standard output for "-"), said on
// stdout or stderr. False when it could not be written.
bool WriteData(LinuxMachine& m, DataOnStandardOutput& data, const char* what, const std::string& path,
               const std::string& bytes) {
  std::string why;
  if (IsStandardOutput(path)) {
    if (data.Write(bytes, &why)) return true;
    std::fprintf(stderr, "morvek-scan: could not write the %s: %s\n", what, why.c_str());
    return false;
  }
  if (m.Files().WriteWholeFile(path, bytes, &why)) {
    std::string caption = what;
    caption[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(caption[0])));
    std::printf("%s: %s\n", caption.c_str(), AbsolutePath(path).c_str());
    return true;
  }
  std::fprintf(stderr, "morvek-scan: could not write the %s %s: %s\n", what, path.c_str(), why.c_str());
  return false;
}

void PrintLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
}

// Why the scan reads one block at a time although it was to read ahead,
// said once on stderr.
void SayReadAheadNews(LinuxMachine& m) {
  const std::string news = m.ReadAheadNews();
  if (!news.empty()) std::fprintf(stderr, "morvek-scan: reading one block at a time: %s\n", news.c_str());
}

}  // namespace

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
  for (const DataOutput& out :
       {DataOutput{"--map", options.map}, DataOutput{"--bad-list", options.badList}, DataOutput{"--json", options.json},
        DataOutput{"--speed-graph", options.speedGraph}, DataOutput{"--prometheus", options.prometheus},
        DataOutput{"--bad-sectors", options.badSectors}})
    if (!out.path.empty() && !IsStandardOutput(out.path)) outputs.push_back({out.option, out.path});
  if (const std::string why = OutputsProblem(outputs, options.devices); !why.empty()) {
    std::fprintf(stderr, "morvek-scan: %s\n", why.c_str());
    return kExitUsage;
  }
  ResumeData resume;
  if (!options.resume.empty() && !ReadResumeReport(options.resume, resume)) return kExitUsage;

  DataOnStandardOutput data;
  std::string dataProblem;
  if (options.DataOnStandardOutput() && !data.Claim(&dataProblem)) {
    std::fprintf(stderr, "morvek-scan: %s\n", dataProblem.c_str());
    return kExitUsage;
  }

  LinuxMachine m(options.devices, options.outputDir, options.queueDepth);
  TerminalView view;
  CScan scan(m.Scan(view));
  if (!ReportOpenFailures(m, scan.Disk(), !options.devices.empty())) return kExitUsage;

  const int count = static_cast<int>(scan.Disk().Table().count);
  if (options.disk >= count) {
    std::fprintf(stderr, "morvek-scan: there is no disk %d; the disk list has %d (0 to %d, see --list)\n", options.disk,
                 count, count - 1);
    return kExitUsage;
  }
  const CDisk& disk = scan.Disk();
  const uint64_t total = disk.TotalSectors(options.disk);
  const uint64_t deviceSectors = disk.DeviceSectors(options.disk);
  const std::string model = scan.Identifier().GetModel(options.disk);
  // A run goes on only over the very device it stopped on.
  if (!options.resume.empty() && (resume.sizeBytes != deviceSectors * 512 || resume.model != model)) {
    std::fprintf(stderr,
                 "morvek-scan: --resume %s: the report is of another device (%llu bytes, model '%s'; this one: %llu "
                 "bytes, model '%s')\n",
                 options.resume.c_str(), static_cast<unsigned long long>(resume.sizeBytes), resume.model.c_str(),
                 static_cast<unsigned long long>(deviceSectors * 512), model.c_str());
    return kExitUsage;
  }
  if (options.fromGiven && options.from >= deviceSectors) {
    std::fprintf(stderr, "morvek-scan: --from %llu is past the device's end (%llu sectors)\n",
                 static_cast<unsigned long long>(options.from), static_cast<unsigned long long>(deviceSectors));
    return kExitUsage;
  }
  if (!TakeTheLog(m)) return kExitUsage;
  scan.OnInitDialog();
  scan.OnSelchangeDisk(options.disk);

  const ScanLabels sizes = view.Labels();
  const int driveNumber = disk.DriveCodeOfSlot(options.disk) - 0x80;
  const std::string device = driveNumber >= 0 && static_cast<size_t>(driveNumber) < m.Drives().size()
                                 ? m.Drives()[static_cast<size_t>(driveNumber)]
                                 : std::string("?");
  // The labels count whole cylinders; where the device holds more than a
  // cell beyond them, its true size is given too (the scan reads it all).
  std::string trueSize;
  if (deviceSectors - total > total / 2484)
    trueSize = " (the device: " + std::to_string(deviceSectors * 512) + " bytes, " +
               std::to_string(deviceSectors - total) + " sectors past the whole cylinders)";
  const std::string scanning = "Scanning " + view.DiskEntries()[options.disk] + " (" + device + "): disk size " +
                               sizes.diskSize + ", each cell " + sizes.cellSize + trueSize;
  SayReadAheadNews(m);  // before the map takes the terminal
  std::printf("%s\n", scanning.c_str());

  // The drive's own account first: what it says after the scan is compared
  // with this.
  SmartctlOptions smartctl;
  if (!options.smartctl.empty()) smartctl.program = options.smartctl;
  SmartSnapshot smartBefore = UnavailableSnapshot(SmartUnavailable::Cancelled, "--no-smart");
  if (!options.noSmart) {
    smartBefore = ReadSmart(device, smartctl);
    PrintLines(SmartTextLines(smartBefore));
  }
  std::fflush(stdout);

  // The range: a new run's --from and --to, or the stopped run's own.
  const uint64_t rangeFirst = !options.resume.empty() ? resume.state.firstSector
                              : options.fromGiven     ? options.from / 128 * 128
                                                      : 0;
  const uint64_t rangeEnd = !options.resume.empty() ? resume.state.endSector
                            : options.toGiven       ? std::min(deviceSectors, (options.to + 127) / 128 * 128)
                                                    : deviceSectors;
  ScanReadings readings(rangeFirst, rangeEnd);
  if (!options.resume.empty()) readings.Restore(resume.totals, resume.stretches);
  CScan::RunExtras extras;
  extras.firstSector = rangeFirst;
  extras.endSector = rangeEnd;
  extras.resume = options.resume.empty() ? nullptr : &resume.state;
  extras.readings = &readings;
  scan.SetRunExtras(extras);

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
        m.Clock(), [&scan] { return scan.Run().ScanPosition(); },
        options.resume.empty() ? rangeFirst : resume.state.nextSector, std::min(total, rangeEnd));
    painter.ShowReadTimes(&readings);
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

  SayReadAheadNews(m);  // should the run have found out only as it began

  // The run's results. A file that cannot be written is said on stderr; the
  // exit status stays that of the scan.
  const RunResult result = scan.Run().LastResult();
  ReadingsSnapshot taken = readings.Snapshot();
  // The failed reads' start sectors, a resumed run's earlier ones first.
  std::vector<uint64_t> failed;
  for (const BadBlock& b : taken.badBlocks) failed.push_back(b.sector);

  // Exact sectors: each failed block read again, sector by sector.
  RefineResult refined;
  if (!options.badSectors.empty()) {
    if (result.stopped || result.diskGone) {
      refined.blocksTotal = taken.badBlocks.size();
      std::fprintf(stderr, "morvek-scan: the failed blocks were not read again: the scan %s\n",
                   result.diskGone ? "lost the disk" : "was stopped");
    } else if (!taken.badBlocks.empty()) {
      const bool tty = isatty(STDERR_FILENO) == 1;
      refined = RefineBadSectors(
          scan.DiskForReads(), taken.badBlocks, disk.SectorSize(options.disk),
          [&signals] { return signals.Received() != 0; }, RefineLimits{},
          [&m] { return uint64_t{m.Clock().TimeGetTime()}; },
          [tty](size_t done, size_t all) {
            std::fprintf(stderr,
                         tty ? "\rreading the failed blocks again, sector by sector: %zu of %zu"
                             : "reading the failed blocks again, sector by sector: %zu of %zu\n",
                         done, all);
            if (tty && done == all) std::fputc('\n', stderr);
          });
      // A stop here ends only the reading again: the scan itself is whole,
      // so its result and exit status stand, and there is nothing to go on
      // with; the list alone is partial.
      if (refined.stopped || refined.limited) {
        std::fprintf(stderr, "\nmorvek-scan: exact sectors for %zu of %zu failed blocks (%s); the list is partial\n",
                     refined.blocksRefined, refined.blocksTotal,
                     refined.stopped ? "stopped" : "a badly damaged disk: stopped refining");
      }
    }
  }

  // The drive's account after the scan, and what changed meanwhile.
  SmartSnapshot smartAfter = smartBefore;
  std::vector<SmartChange> changes;
  bool smartWarns = false;
  if (!options.noSmart && smartBefore.available) {
    smartAfter = ReadSmart(device, smartctl);
    changes = SmartChanges(smartBefore, smartAfter);
    smartWarns = SmartCallsForWarning(smartBefore, smartAfter, changes);
  }

  Verdict verdict = JudgeDisk(taken.errors, taken.slow);
  if (smartWarns) {
    if (verdict.level == Verdict::Level::kClean) {
      verdict.level = Verdict::Level::kWatch;
      verdict.text = "clean, but the drive's SMART data warns - watch this disk";
    } else {
      verdict.text += "; the drive's SMART data warns too";
    }
  }

  if (result.reportWritten) {
    std::printf("Report: %s\n", AbsolutePath(m.ReportPath()).c_str());
  } else {
    std::fprintf(stderr, "morvek-scan: the scan report could not be written: %s\n",
                 WhyNotWritable(m.ReportPath()).c_str());
  }
  std::printf("Result: %s\n", ResultLineText(result.reportWritten, result.clean).c_str());
  std::printf("Bad blocks: %zu\n", failed.size());
  std::printf("Read times: %s\n", readings.ClassCountsLine().c_str());
  for (size_t i = 0; i < taken.slowest.size() && i < 5 && taken.slowest[i].ms >= kSlowMs; ++i)
    std::printf("Slow block: sector %llu, %.0f ms\n", static_cast<unsigned long long>(taken.slowest[i].sector),
                taken.slowest[i].ms);
  // Where there is no SMART data, the line before the scan said so.
  if (!options.noSmart && smartBefore.available) PrintLines(SmartSummaryLines(smartBefore, smartAfter, changes));
  std::printf("Verdict: %s\n", verdict.text.c_str());

  if (!options.badList.empty()) WriteData(m, data, "bad-block list", options.badList, BadListText(failed));
  if (!options.badSectors.empty())
    WriteData(m, data, "bad-sector list", options.badSectors, BadListText(refined.sectors));
  if (!options.map.empty()) {
    CDrawPicModel empty;  // never needed after a Start, but never dereference null
    const CDrawPicModel& chart = scan.Chart() ? *scan.Chart() : empty;
    const std::string png = EncodeMapPng(chart);
    if (png.empty())
      std::fprintf(stderr, "morvek-scan: could not write the map %s: the map could not be encoded\n",
                   options.map.c_str());
    else
      WriteData(m, data, "map", options.map, png);
  }
  if (!options.json.empty() || !options.speedGraph.empty() || !options.prometheus.empty()) {
    ReadingsFacts facts;
    facts.programVersion = MORVEK_VERSION_TEXT;
    facts.devicePath = device;
    facts.model = model;
    facts.sizeBytes = deviceSectors * 512;
    facts.logicalSectorSize = disk.SectorSize(options.disk);
    facts.slot = options.disk;
    facts.totalSectors = total;
    facts.cellSectors = total / 2484;
    facts.run = result;
    facts.readsInFlight = m.Io().ReadAheadProblem().empty() ? m.Io().QueueDepth() : 1;
    facts.readings = taken;
    facts.verdict = verdict;
    facts.stretches = readings.Stretches();
    if (!options.noSmart) facts.smart = SmartReportJson(smartBefore, smartAfter, changes);
    if (!options.badSectors.empty()) {
      facts.badSectors = &refined.sectors;
      facts.badSectorsComplete = refined.Complete() && !result.stopped && !result.diskGone;
    }
    if (!options.json.empty()) WriteData(m, data, "JSON report", options.json, ReadingsJson(facts).dump(2) + "\n");
    if (!options.speedGraph.empty()) WriteData(m, data, "speed graph", options.speedGraph, SpeedGraphSvg(facts));
    if (!options.prometheus.empty()) {
      std::string text = PrometheusText(facts);
      if (!options.noSmart) text += SmartPrometheusText(smartAfter, changes, device, model);
      WriteData(m, data, "Prometheus file", options.prometheus, text);
    }
  }
  if (result.diskGone) {
    std::fprintf(stderr, "morvek-scan: the disk stopped answering at sector %llu; the run ended there\n",
                 static_cast<unsigned long long>(result.goneAtSector));
    std::printf("Disk stopped answering: at sector %llu; the report covers the area read before\n",
                static_cast<unsigned long long>(result.goneAtSector));
  } else if (stopped) {
    std::printf("Stopped: the report covers the area read before the stop%s\n",
                options.json.empty() ? "" : "; --resume with the JSON report goes on from there");
  }
  std::fflush(stdout);

  if (result.diskGone) return kExitDiskGone;
  if (stopped) return kExitStopped;
  return result.clean ? kExitClean : kExitBadBlocks;
}
