#pragma once
// The scan report "kestrune.log": the lines it holds, made in one place.
// Every run writes it whole at its end; front ends that show the report's
// result take it from here rather than from the file.
#include <cstdint>
#include <string>

#include "platform/Clock.h"

// The scan report's file name.
constexpr char kReportFile[] = "kestrune.log";

// "Disk %d: %s": a disk's slot and model as the disk list and the report
// name it.
std::string DiskDescription(int slot, const std::string& model);

// "%d:%d:%d" of a duration in seconds: hours (not limited to 24), minutes
// and seconds, without leading zeros.
std::string DurationText(uint32_t seconds);

// What one report says.
struct ReportFacts {
  LocalDate date;
  std::string diskDescription;  // DiskDescription of the scanned slot
  uint64_t totalSectors = 0;
  uint64_t scanPosition = 0;  // the block of the run's last pass
  std::string elapsed;        // the elapsed text last shown
  bool clean = true;          // no read failed
};

// The whole file: 17 lines in code page 936, each ending in CR LF.
std::string FormatReport(const ReportFacts& facts);

// The scanned-area field: "%d M" below 1 GB (2,097,152 sectors), else "%d G".
std::string ScannedAreaText(uint64_t scanPosition);

// The result line as the report holds it (code page 936 bytes).
const char* ReportResultLine(bool clean);
