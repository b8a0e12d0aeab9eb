// morvek-scan: the terminal front end on Linux.
//
// The scan itself is the scan window's logic (CScan) with a terminal in the
// window's place: the same handlers run in the same order as in the dialog
// (initialisation, a selection, Start, and Stop on an interrupt), and the
// worker reports through TerminalView.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CScan.h"
#include "app/DiskLabels.h"
#include "app/linux/OutputFiles.h"
#include "app/linux/TerminalView.h"
#include "chart/linux/PngWriter.h"
#include "disk/CDisk.h"
#include "disk/linux/DeviceIoLinux.h"
#include "identify/CDriveIdentifier.h"
#include "identify/linux/IdentifyLinux.h"
#include "platform/Format.h"
#include "platform/linux/DriveList.h"
#include "platform/linux/SystemDiskLocatorLinux.h"
#include "platform/linux/SystemPortLinux.h"
#include "scan/Clock.h"

namespace {

constexpr int kExitClean = 0;
constexpr int kExitBadBlocks = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;  // as a shell reports a job ended by SIGINT

void PrintUsage(std::FILE* to) {
  std::fputs(
      "Usage: morvek-scan [--disk N] [--map FILE.png] [--bad-list FILE] [DEVICE...]\n"
      "       morvek-scan --list [DEVICE...]\n"
      "\n"
      "Morvek Disk Scan reads a whole disk, 64 KB at a time, and never writes to it.\n"
      "\n"
      "  --disk N         scan disk N of the disk list (default 0; see --list)\n"
      "  --map FILE.png   after the run, save the cell map as a 540 x 460 PNG picture\n"
      "  --bad-list FILE  after the run, write the start sector of every failed 64 KB\n"
      "                   read, one decimal number a line (an empty file when none failed)\n"
      "  --list           print the disk list: entry, disk size and cell size, TAB-separated\n"
      "  --help           show this help\n"
      "\n"
      "DEVICE is a block device or a disk image file; the n-th one that can be opened\n"
      "is disk n. Without DEVICE the machine's whole disks are used (this needs root).\n"
      "\n"
      "On a terminal the run shows its progress and the map (54 x 46 cells: green once\n"
      "read, orange-red for every failed read, grey not yet reached); otherwise it\n"
      "prints one line per percent: percent, scan time, speed, remaining time and bad\n"
      "blocks. Ctrl-C (SIGINT) or SIGTERM stops the scan after the current read; the\n"
      "report still covers what was read.\n"
      "\n"
      "The scan report kestrune.log (code page 936) and the diagnostic log Scan.log are\n"
      "written into the current directory.\n"
      "\n"
      "Exit status: 0 no read failed, 1 some reads failed, 2 usage error or no such\n"
      "disk, 130 the scan was stopped.\n",
      to);
}

struct Options {
  bool list = false;
  int disk = 0;
  bool diskGiven = false;
  std::string map;
  std::string badList;
  std::vector<std::string> devices;
};

bool ParseDiskNumber(const std::string& text, int& out) {
  if (text.empty() || text.size() > 6) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = std::atoi(text.c_str());
  return true;
}

// Returns false (after saying why) when the command line is not usable.
bool ParseArgs(int argc, char** argv, Options& o) {
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (endOfOptions || a.size() < 2 || a[0] != '-') {
      o.devices.push_back(a);
      continue;
    }
    if (a == "--") {
      endOfOptions = true;
      continue;
    }
    if (a == "--list") {
      o.list = true;
      continue;
    }
    // Options with a value: "--map FILE" or "--map=FILE".
    std::string value;
    bool hasValue = false;
    const size_t eq = a.find('=');
    if (eq != std::string::npos) {
      value = a.substr(eq + 1);
      a.resize(eq);
      hasValue = true;
    }
    if (a != "--disk" && a != "--map" && a != "--bad-list") {
      std::fprintf(stderr, "morvek-scan: unknown option '%s' (see --help)\n", argv[i]);
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "morvek-scan: %s needs a value (see --help)\n", a.c_str());
        return false;
      }
      value = argv[++i];
    }
    if (a == "--disk") {
      if (!ParseDiskNumber(value, o.disk)) {
        std::fprintf(stderr, "morvek-scan: --disk wants a disk number, not '%s'\n", value.c_str());
        return false;
      }
      o.diskGiven = true;
    } else if (value.empty()) {
      std::fprintf(stderr, "morvek-scan: %s needs a file name\n", a.c_str());
      return false;
    } else if (a == "--map") {
      o.map = value;
    } else {
      o.badList = value;
    }
  }
  if (o.list && (o.diskGiven || !o.map.empty() || !o.badList.empty())) {
    std::fprintf(stderr, "morvek-scan: --list scans nothing; --disk, --map and --bad-list belong to a scan\n");
    return false;
  }
  return true;
}

// The devices the program works on, opened read-only by the disk object.
struct Machine {
  explicit Machine(const std::vector<std::string>& given)
      : drives(DriveList(given)), io(drives), locator(drives), identifyPort(MakeLinuxIdentifyPort(drives)) {}
  std::vector<std::string> drives;
  LinuxSystemPort system;
  LinuxDeviceIo io;
  LinuxSystemDiskLocator locator;
  std::unique_ptr<IIdentifyNtPort> identifyPort;
};

// Says which drives could not be opened. Returns false, having said so in
// one line, when no disk at all is usable.
bool ReportOpenFailures(const Machine& m, bool devicesGiven) {
  std::string reasons;
  for (size_t i = 0; i < m.drives.size(); ++i) {
    const std::string why = m.io.OpenError(static_cast<int>(i));
    if (why.empty()) continue;
    if (g_diskTable.count > 0) {
      std::fprintf(stderr, "morvek-scan: skipped %s: %s\n", m.drives[i].c_str(), why.c_str());
    } else {
      reasons += (reasons.empty() ? "" : "; ") + m.drives[i] + ": " + why;
    }
  }
  if (g_diskTable.count > 0) return true;
  if (reasons.empty()) reasons = devicesGiven ? "nothing usable given" : "no disk found";
  std::fprintf(stderr, "morvek-scan: no disk could be opened (%s)%s\n", reasons.c_str(),
               devicesGiven ? "" : "; name a device or an image file, or run as root");
  return false;
}

int ListDisks(const Options& options) {
  Machine m(options.devices);
  CDisk disk(DiskPorts{m.system, m.io, m.locator});
  // Models come from the drives' own identify data, numbered like the
  // disk table (position n is drive n).
  const CDriveIdentifier identifier(m.system, m.identifyPort.get(), nullptr);
  if (!ReportOpenFailures(m, !options.devices.empty())) return kExitUsage;
  for (uint32_t slot = 0; slot < g_diskTable.count; ++slot) {
    const uint32_t total = g_diskTable.records[slot].totalSectors;
    std::printf("%s\t%s\t%s\n",
                DiskEntryText(static_cast<int>(slot), identifier.GetModel(static_cast<int>(slot))).c_str(),
                DiskSizeText(total).c_str(), CellSizeText(total).c_str());
  }
  return kExitClean;
}

// --- stop on SIGINT / SIGTERM ------------------------------------------------

std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnStopSignal(int signal) { g_stopSignal.store(signal, std::memory_order_relaxed); }

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// --- drawing -----------------------------------------------------------------

// Draws the run on the terminal (status line and map, redrawn in place) or,
// when the output is not a terminal, as plain progress lines.
class ScreenPainter {
 public:
  explicit ScreenPainter(bool terminal) : m_terminal(terminal) {
    if (!terminal) return;
    winsize size{};
    // A window too small for the map gets the status line alone.
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 &&
        (size.ws_row < kFrameLines + 2 || size.ws_col < CDrawPicModel::kColumns))
      m_withMap = false;
    std::fputs("\x1b[?25l", stdout);  // no blinking cursor over the map
  }
  ~ScreenPainter() { Finish(); }
  ScreenPainter(const ScreenPainter&) = delete;
  ScreenPainter& operator=(const ScreenPainter&) = delete;

  void Update(TerminalView& view, const CDrawPicModel* chart, bool stopping, bool force) {
    if (!m_terminal) {
      for (const ScanLabels& labels : view.TakePercentChanges())
        std::printf("%s\n", ProgressLine(labels).c_str());
      std::fflush(stdout);
      return;
    }
    const bool dirty = view.TakeDirty();
    if (!dirty && !force && stopping == m_stoppingShown) return;
    m_stoppingShown = stopping;
    std::string frame;
    if (m_withMap && m_drawn) frame += StrFormat("\x1b[%dA", kFrameLines);
    frame += "\r" + StatusLine(view.Labels());
    if (stopping) frame += "  (stopping after the current read)";
    frame += "\x1b[K";
    if (m_withMap) frame += "\n" + MapText(chart);
    std::fwrite(frame.data(), 1, frame.size(), stdout);
    std::fflush(stdout);
    m_drawn = true;
  }

  // Leaves the cursor at the start of a fresh line below what was drawn.
  void Finish() {
    if (!m_terminal || m_finished) return;
    m_finished = true;
    std::fputs(m_withMap ? "\r\x1b[K\x1b[?25h" : "\n\x1b[?25h", stdout);
    std::fflush(stdout);
  }

 private:
  static constexpr int kFrameLines = 1 + CDrawPicModel::kRows / 2;  // status line and 23 map lines
  bool m_terminal;
  bool m_withMap = true;
  bool m_drawn = false;
  bool m_finished = false;
  bool m_stoppingShown = false;
};

// --- the scan ----------------------------------------------------------------

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

  Machine m(options.devices);
  SystemClock clock;
  TerminalView view;
  CScan scan(ScanPorts{{m.system, m.io, m.locator}, m.system, m.identifyPort.get(), nullptr, clock, view});
  if (!ReportOpenFailures(m, !options.devices.empty())) return kExitUsage;

  scan.OnInitDialog();
  const int count = static_cast<int>(g_diskTable.count);
  if (options.disk >= count) {
    std::fprintf(stderr, "morvek-scan: there is no disk %d; the disk list has %d (0 to %d, see --list)\n",
                 options.disk, count, count - 1);
    return kExitUsage;
  }
  scan.OnSelchangeDisk(options.disk);

  const ScanLabels sizes = view.Labels();
  const int driveNumber = scan.Disk().DriveCodeOfSlot(options.disk) - 0x80;
  const std::string device = driveNumber >= 0 && static_cast<size_t>(driveNumber) < m.drives.size()
                                 ? m.drives[static_cast<size_t>(driveNumber)]
                                 : std::string("?");
  const bool terminal = isatty(STDOUT_FILENO) == 1;
  std::printf("Scanning %s (%s): disk size %s, each cell %s\n", view.DiskEntries()[options.disk].c_str(),
              device.c_str(), sizes.diskSize.c_str(), sizes.cellSize.c_str());
  std::fflush(stdout);

  // Only the main thread takes the stop signals: the worker, started with
  // them blocked, is never interrupted in its reads.
  InstallStopHandlers();
  sigset_t stopSignals, previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  scan.OnStart();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);

  bool stopped = false;
  {
    ScreenPainter painter(terminal);
    // The empty map shows at once, however short the run.
    painter.Update(view, scan.Chart(), false, true);
    // At most ten redraws a second; the end of the run ends the wait at once.
    while (scan.GetState() != CScan::State::Idle && !view.WaitForRunEnd(std::chrono::milliseconds(100))) {
      if (!stopped && g_stopSignal.load(std::memory_order_relaxed) != 0) {
        scan.OnStop();
        stopped = true;
        if (!terminal) std::fprintf(stderr, "morvek-scan: stopping after the current read\n");
      }
      painter.Update(view, scan.Chart(), stopped, false);
    }
    scan.WaitForWorker();
    painter.Update(view, scan.Chart(), false, true);
  }

  // The run's results. A file that cannot be written is said on stderr; the
  // exit status stays that of the scan.
  const std::vector<uint32_t> failed = view.FailedReads();
  const std::string report = AbsolutePath(kReportFile);
  if (scan.LastReportWritten()) {
    std::printf("Report: %s\n", report.c_str());
  } else {
    std::fprintf(stderr, "morvek-scan: the scan report could not be written: %s\n",
                 WhyNotWritable(kReportFile).c_str());
  }
  std::printf("Result: %s\n", ResultLineText(scan.LastReportWritten() ? kReportFile : "", failed.empty()).c_str());
  std::printf("Bad blocks: %zu\n", failed.size());
  if (!options.badList.empty()) {
    if (WriteBadList(options.badList, failed))
      std::printf("Bad-block list: %s\n", AbsolutePath(options.badList).c_str());
    else
      std::fprintf(stderr, "morvek-scan: could not write the bad-block list %s\n", options.badList.c_str());
  }
  if (!options.map.empty()) {
    CDrawPicModel empty;  // never needed after a Start, but never dereference null
    const CDrawPicModel& chart = scan.Chart() ? *scan.Chart() : empty;
    if (WriteMapPng(chart, options.map))
      std::printf("Map: %s\n", AbsolutePath(options.map).c_str());
    else
      std::fprintf(stderr, "morvek-scan: could not write the map %s\n", options.map.c_str());
  }
  if (stopped) std::printf("Stopped: the report covers the area read before the stop\n");

  if (stopped) return kExitStopped;
  return failed.empty() ? kExitClean : kExitBadBlocks;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(stdout);
      return 0;
    }
  }
  Options options;
  if (!ParseArgs(argc, argv, options)) return kExitUsage;
  return options.list ? ListDisks(options) : ScanOneDisk(options);
}
