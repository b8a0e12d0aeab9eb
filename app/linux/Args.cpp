#include "app/linux/Args.h"

#include <cstdlib>

namespace {

bool ParseDiskNumber(const std::string& text, int& out) {
  if (text.empty() || text.size() > 6) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  out = std::atoi(text.c_str());
  return true;
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
  return "Usage: morvek-scan [--disk N] [--map FILE.png] [--bad-list FILE] [--queue-depth N]\n"
         "                   [DEVICE...]\n"
         "       morvek-scan --list [DEVICE...]\n"
         "\n"
         "Morvek Disk Scan reads a whole disk, 64 KB at a time, and never writes to it.\n"
         "\n"
         "  --disk N         scan disk N of the disk list (default 0; see --list)\n"
         "  --map FILE.png   after the run, save the cell map as a 540 x 460 PNG picture\n"
         "  --bad-list FILE  after the run, write the start sector of every failed 64 KB\n"
         "                   read, one decimal number a line (an empty file when none failed)\n"
         "  --queue-depth N  keep up to N reads in flight, 1 to 64 (default 8); 1 reads one\n"
         "                   64 KB block at a time. The results are the same at every depth.\n"
         "                   Where io_uring cannot be used, or MORVEK_NO_IO_URING=1 is set,\n"
         "                   blocks are read one at a time (stderr says why)\n"
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
         "disk, 130 the scan was stopped.\n";
}

bool ParseArgs(const std::vector<std::string>& args, Options& o, std::string& error) {
  // --help wins over anything else on the line (before a "--").
  for (const std::string& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      o.help = true;
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
    // Options with a value: "--map FILE" or "--map=FILE".
    std::string value;
    bool hasValue = false;
    const size_t eq = a.find('=');
    if (eq != std::string::npos) {
      value = a.substr(eq + 1);
      a.resize(eq);
      hasValue = true;
    }
    if (a != "--disk" && a != "--map" && a != "--bad-list" && a != "--queue-depth") {
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
      if (!ParseDiskNumber(value, o.disk)) {
        error = "--disk wants a disk number, not '" + value + "'";
        return false;
      }
      o.diskGiven = true;
    } else if (a == "--queue-depth") {
      if (!ParseNumberIn(value, 1, LinuxDeviceIo::kMaxQueueDepth, o.queueDepth)) {
        error = "--queue-depth wants a number from 1 to " + std::to_string(LinuxDeviceIo::kMaxQueueDepth) + ", not '" +
                value + "'";
        return false;
      }
      o.queueDepthGiven = true;
    } else if (value.empty()) {
      error = a + " needs a file name";
      return false;
    } else if (a == "--map") {
      o.map = value;
    } else {
      o.badList = value;
    }
  }
  if (o.list && (o.diskGiven || !o.map.empty() || !o.badList.empty())) {
    error = "--list scans nothing; --disk, --map and --bad-list belong to a scan";
    return false;
  }
  if (o.list && o.queueDepthGiven) {
    error = "--list scans nothing; --queue-depth belongs to a scan";
    return false;
  }
  return true;
}
