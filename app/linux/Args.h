#pragma once
// The command line of morvek-scan.
#include <cstdint>
#include <string>
#include <vector>

#include "disk/linux/DeviceIoLinux.h"

struct Options {
  bool help = false;
  bool list = false;
  int disk = 0;
  bool diskGiven = false;
  // Reads in flight while the disk is scanned (1: one at a time).
  uint32_t queueDepth = LinuxDeviceIo::kDefaultQueueDepth;
  bool queueDepthGiven = false;
  std::string map;      // --map FILE.png
  std::string badList;  // --bad-list FILE
  std::vector<std::string> devices;
};

// Parses argv[1..]. False, with a one-line message for standard error in
// `error`, when the command line is not usable.
bool ParseArgs(const std::vector<std::string>& args, Options& out, std::string& error);

// The --help text.
const char* UsageText();
