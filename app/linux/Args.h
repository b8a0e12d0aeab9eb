#pragma once
// The command line of morvek-scan.
#include <cstdint>
#include <string>
#include <vector>

#include "app/linux/MapPalette.h"
#include "disk/linux/DeviceIoLinux.h"

struct Options {
  bool help = false;
  bool version = false;
  bool list = false;
  int disk = 0;
  bool diskGiven = false;
  // Reads in flight while the disk is scanned (1: one at a time).
  uint32_t queueDepth = LinuxDeviceIo::kDefaultQueueDepth;
  bool queueDepthGiven = false;
  std::string map;        // --map FILE.png
  std::string badList;    // --bad-list FILE, "-" for standard output
  std::string outputDir;  // --output-dir DIR; empty: the current directory
  MapPalette palette = MapPalette::kWindow;
  bool paletteGiven = false;
  std::string json;        // --json FILE: the JSON report, "-" for standard output
  std::string speedGraph;  // --speed-graph FILE.svg
  std::string prometheus;  // --prometheus FILE: node_exporter's textfile format, or "-"
  std::string badSectors;  // --bad-sectors FILE, "-" for standard output
  bool fromGiven = false;  // --from SECTOR
  uint64_t from = 0;
  bool toGiven = false;  // --to SECTOR (exclusive)
  uint64_t to = 0;
  std::string resume;    // --resume REPORT.json
  std::string smartctl;  // --smartctl PATH (default: smartctl on PATH)
  bool noSmart = false;  // --no-smart
  std::vector<std::string> devices;

  // Whether a data output goes to standard output (at most one may).
  // How many outputs go to standard output ('-'); at most one may.
  int OutputsOnStandardOutput() const;
  bool DataOnStandardOutput() const;
};

// The name that stands for standard output in place of an output file.
inline bool IsStandardOutput(const std::string& path) { return path == "-"; }

// Parses argv[1..]. False, with a one-line message for standard error in
// `error`, when the command line is not usable.
bool ParseArgs(const std::vector<std::string>& args, Options& out, std::string& error);

// The --help text.
const char* UsageText();

// The --version text: one line, "morvek-scan VERSION".
const char* VersionText();
