#include "app/linux/Args.h"

#include <cstdlib>
#include <utility>

#include "res/Version.h"

namespace {

bool ParsePalette(const std::string& text, MapPalette& out) {
  if (text == "window") {
    out = MapPalette::kWindow;
  } else if (text == "blue-orange") {
    out = MapPalette::kBlueOrange;
  } else if (text == "text") {
    out = MapPalette::kText;
  } else {
    return false;
  }
  return true;
}

// A sector number: decimal digits only, 64-bit.
bool ParseSector(const std::string& text, uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  out = v;
  return true;
}

bool EndsIn(const std::string& name, const std::string& suffix) {
  if (name.size() < suffix.size()) return false;
  std::string ending = name.substr(name.size() - suffix.size());
  for (char& c : ending)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ending == suffix;
}

// A whole number from `low` to `high`, written plainly (no sign, no spaces).
bool ParseNumberIn(const std::string& text, uint32_t low, uint32_t high, uint32_t& out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  const unsigned long value = std::strtoul(text.c_str(), nullptr, 10);
  if (value < low || value > high) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

const char* UsageText() {
  return "Usage: morvek-scan [OPTION...] [DEVICE...]\n"
         "       morvek-scan --list [--output-dir DIR] [DEVICE...]\n"
         "\n"
         "Morvek Disk Scan reads a whole disk, 64 KB at a time, and never writes to it.\n"
         "\n"
         "  --disk N                scan disk N of the disk list (default 0; see --list)\n"
         "  --map FILE.png          after the run, save the map as a 540 x 460 PNG\n"
         "  --bad-list FILE         after the run, write the start sector of every\n"
         "                          failed read (one a line; - is standard output)\n"
         "  --bad-sectors FILE      after the run, read each failed block again sector\n"
         "                          by sector and list the unreadable ones (- too)\n"
         "  --json FILE             after the run, write the JSON report of the run\n"
         "                          (- is standard output)\n"
         "  --speed-graph FILE.svg  after the run, draw the read speed along the disk\n"
         "  --prometheus FILE       after the run, write the figures for node_exporter's\n"
         "                          textfile collector (- too)\n"
         "  --output-dir DIR        write kestrune.log and Scan.log into DIR (default:\n"
         "                          the current directory)\n"
         "  --from SECTOR           scan from this sector on (rounded down to 64 KB)\n"
         "  --to SECTOR             scan up to this sector (not included; rounded up)\n"
         "  --resume FILE.json      go on with a stopped run from the JSON report it\n"
         "                          left (give the same device)\n"
         "  --smartctl PATH         the smartctl to ask for the drive's SMART data\n"
         "  --no-smart              do not ask for SMART data\n"
         "  --queue-depth N         keep up to N reads in flight, 1 to 64 (default 8);\n"
         "                          1 reads one 64 KB block at a time. The results are\n"
         "                          the same at every depth. Where io_uring cannot be\n"
         "                          used, or MORVEK_NO_IO_URING=1 is set, blocks are\n"
         "                          read one at a time (stderr says why)\n"
         "  --palette NAME          terminal map: window (green/orange-red),\n"
         "                          blue-orange, or text\n"
         "  --list                  print the disk list, one line per disk (see below)\n"
         "  --version               print the version and exit\n"
         "  --help                  show this help and exit\n"
         "\n"
         "DEVICE is a block device or a disk image file; the n-th one that can be opened\n"
         "is disk n. Without DEVICE the machine's whole disks are used (this needs root).\n"
         "Devices are opened read-only; nothing is ever written to them.\n"
         "\n"
         "On a terminal the run shows a status line and the map (54 x 46 cells: read,\n"
         "failed, not yet; NO_COLOR or --palette text draws them as # X .), fitted to\n"
         "the window. Otherwise (TERM=dumb, a pipe or a file) it prints one line per\n"
         "percent: percent, scan time, speed, remaining time and bad blocks. With\n"
         "--bad-list - these go to standard error. Ctrl-C (SIGINT), SIGTERM or SIGHUP\n"
         "stops the scan after the current read; the report still covers what was read.\n"
         "\n"
         "--list fields, TAB-separated: the list entry, the disk size and the cell size\n"
         "as the scan window shows them, the device path, its size in bytes and in GB\n"
         "or TB, its serial number (empty where the drive does not tell).\n"
         "\n"
         "The scan report kestrune.log (code page 936) and the diagnostic log Scan.log\n"
         "are written into the output directory.\n"
         "\n"
         "Exit status:\n"
         "  0    the scan ended and no read failed (--list: the list was printed)\n"
         "  1    some reads failed\n"
         "  2    usage error, no such disk, or no disk could be opened\n"
         "  3    the disk stopped answering\n"
         "  130  the scan was stopped\n";
}

int Options::OutputsOnStandardOutput() const {
  return IsStandardOutput(badList) + IsStandardOutput(badSectors) + IsStandardOutput(json) +
         IsStandardOutput(prometheus);
}

bool Options::DataOnStandardOutput() const { return OutputsOnStandardOutput() > 0; }

const char* VersionText() { return "morvek-scan " MORVEK_VERSION_TEXT "\n"; }

bool ParseArgs(const std::vector<std::string>& args, Options& o, std::string& error) {
  // --help and --version win over anything else on the line (before a "--").
  for (const std::string& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      o.help = true;
      return true;
    }
  }
  for (const std::string& a : args) {
    if (a == "--") break;
    if (a == "--version") {
      o.version = true;
      return true;
    }
  }
  bool endOfOptions = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
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
    if (a == "--no-smart") {
      o.noSmart = true;
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
    static const char* const kWithValue[] = {"--disk", "--map",         "--bad-list",   "--output-dir",  "--palette",
                                             "--json", "--speed-graph", "--prometheus", "--bad-sectors", "--from",
                                             "--to",   "--resume",      "--smartctl",   "--queue-depth"};
    bool known = false;
    for (const char* name : kWithValue) known = known || a == name;
    if (!known) {
      error = "unknown option '" + args[i] + "' (see --help)";
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value (see --help)";
        return false;
      }
      value = args[++i];
    }
    if (a == "--disk") {
      uint32_t disk = 0;
      if (!ParseNumberIn(value, 0, 999999, disk)) {
        error = "--disk wants a disk number, not '" + value + "'";
        return false;
      }
      o.disk = static_cast<int>(disk);
      o.diskGiven = true;
    } else if (a == "--queue-depth") {
      if (!ParseNumberIn(value, 1, LinuxDeviceIo::kMaxQueueDepth, o.queueDepth)) {
        error = "--queue-depth wants a number from 1 to " + std::to_string(LinuxDeviceIo::kMaxQueueDepth) + ", not '" +
                value + "'";
        return false;
      }
      o.queueDepthGiven = true;
    } else if (a == "--from" || a == "--to") {
      uint64_t& sector = a == "--from" ? o.from : o.to;
      if (!ParseSector(value, sector)) {
        error = a + " wants a sector number, not '" + value + "'";
        return false;
      }
      (a == "--from" ? o.fromGiven : o.toGiven) = true;
    } else if (a == "--palette") {
      if (!ParsePalette(value, o.palette)) {
        error = "--palette is window, blue-orange or text, not '" + value + "'";
        return false;
      }
      o.paletteGiven = true;
    } else if (value.empty()) {
      error = a + (a == "--output-dir" ? " needs a directory name" : " needs a file name");
      return false;
    } else if (a == "--map") {
      // The map is always a PNG picture: a name promising another format
      // would hold something its readers do not expect.
      if (!EndsIn(value, ".png")) {
        error = "--map saves a PNG picture: give a name ending in .png, not '" + value + "'";
        return false;
      }
      o.map = value;
    } else if (a == "--bad-list") {
      o.badList = value;
    } else if (a == "--json") {
      o.json = value;
    } else if (a == "--speed-graph") {
      if (!EndsIn(value, ".svg")) {
        error = "--speed-graph draws an SVG picture: give a name ending in .svg, not '" + value + "'";
        return false;
      }
      o.speedGraph = value;
    } else if (a == "--prometheus") {
      o.prometheus = value;
    } else if (a == "--bad-sectors") {
      o.badSectors = value;
    } else if (a == "--resume") {
      o.resume = value;
    } else if (a == "--smartctl") {
      o.smartctl = value;
    } else {
      o.outputDir = value;
    }
  }
  if (o.fromGiven && o.toGiven && o.from >= o.to) {
    error = "--from must be below --to";
    return false;
  }
  // An empty range would end at once with a clean result for a disk that
  // was never read.
  if (o.toGiven && o.to == 0) {
    error = "--to 0 leaves nothing to scan (the range ends before its first sector)";
    return false;
  }
  if (!o.resume.empty() && (o.fromGiven || o.toGiven)) {
    error = "--resume goes on with the stopped run's own range; --from and --to belong to a new run";
    return false;
  }
  if (o.OutputsOnStandardOutput() > 1) {
    error = "only one of --bad-list, --bad-sectors, --json and --prometheus can go to standard output";
    return false;
  }
  if (o.list && (o.diskGiven || !o.map.empty() || !o.badList.empty() || !o.json.empty() || !o.speedGraph.empty() ||
                 !o.prometheus.empty() || !o.badSectors.empty() || o.fromGiven || o.toGiven || !o.resume.empty())) {
    error = "--list scans nothing; --disk, --map, --bad-list and the other outputs belong to a scan";
    return false;
  }
  if (o.list && o.paletteGiven) {
    error = "--list draws no map; --palette belongs to a scan";
    return false;
  }
  if (o.list && o.queueDepthGiven) {
    error = "--list scans nothing; --queue-depth belongs to a scan";
    return false;
  }
  return true;
}
