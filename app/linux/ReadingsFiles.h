#pragma once
// A run's readings as files a person or a program reads: the JSON report,
// the speed graph (SVG) and the node_exporter textfile (Prometheus).
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "scan/ScanReadings.h"
#include "scan/ScanRun.h"

// Everything the files say about one run.
struct ReadingsFacts {
  std::string programVersion;
  std::string devicePath;
  std::string model;
  uint64_t sizeBytes = 0;
  uint32_t logicalSectorSize = 512;
  int slot = 0;
  uint64_t totalSectors = 0;  // the whole cylinders the window shows
  uint64_t cellSectors = 0;   // one map cell
  RunResult run;
  // The most reads the run kept in flight (1: one at a time, each block's
  // time its own read's); 0 where not known.
  uint32_t readsInFlight = 0;
  ReadingsSnapshot readings;
  Verdict verdict;
  nlohmann::json smart;                 // null where there is nothing to say
  std::vector<SpeedStretch> stretches;  // the speed curve's sums, for a run that goes on
  // The exact unreadable sectors (--bad-sectors), and whether that list is
  // complete; null where they were not asked for.
  const std::vector<uint64_t>* badSectors = nullptr;
  bool badSectorsComplete = true;
};

// What a run that goes on from a stopped one (--resume) takes from its
// JSON report.
struct ResumeData {
  RunState state;
  ReadingsSnapshot totals;
  std::vector<SpeedStretch> stretches;
  uint64_t sizeBytes = 0;
  std::string model;
  int slot = 0;
};

// Reads the "state" of a JSON report. False, with the reason, for anything
// but a report of a stopped run this program wrote (a file from elsewhere
// must not steer the scan).
bool ParseResumeData(const nlohmann::json& report, ResumeData& out, std::string& why);

// "2026-12-08T23:33:46Z".
std::string IsoUtc(int64_t seconds);

// The JSON report: see docs/json-report.md.
nlohmann::json ReadingsJson(const ReadingsFacts& facts);

// Read speed (MB/s) along the disk (GB): axes with units and ticks, the
// curve, min/average/max in a caption, failed blocks marked where they are.
std::string SpeedGraphSvg(const ReadingsFacts& facts);

// The figures in the text format of node_exporter's textfile collector.
std::string PrometheusText(const ReadingsFacts& facts);
