#pragma once
// --list: one line per disk of the disk list.
#include <cstdint>
#include <string>

#include "app/linux/Args.h"

// What one line of the list says of a disk.
struct DiskListEntry {
  std::string entry;     // the scan window's list entry, "Disk 0: MODEL"
  std::string diskSize;  // the window's disk size label, "37 G"
  std::string cellSize;  // the window's cell size label, "15 M"
  std::string device;    // the device path, "?" where not known
  uint64_t bytes = 0;    // the device's size
  std::string serial;    // empty where the drive does not tell
};

// The line, without its line end: the window's three texts, the device,
// the size in bytes and in decimal units, and the serial number, separated
// by TABs (a TAB or line end inside a field reads '?').
std::string DiskListLine(const DiskListEntry& disk);

// A size as disks are labelled, in decimal units, cut (never rounded up) to
// three significant digits: "512 MB", "40.0 GB", "1.5 TB", "16.0 TB".
std::string DecimalSizeText(uint64_t bytes);

// Prints the list; the exit status.
int ListDisks(const Options& options);
