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
  ReadingsSnapshot readings;
  Verdict verdict;
  nlohmann::json smart;  // null where there is nothing to say
};

// "2026-12-08T23:33:46Z".
std::string IsoUtc(int64_t seconds);

// The JSON report: see docs/json-report.md.
nlohmann::json ReadingsJson(const ReadingsFacts& facts);

// Read speed (MB/s) along the disk (GB): axes with units and ticks, the
// curve, min/average/max in a caption, failed blocks marked where they are.
std::string SpeedGraphSvg(const ReadingsFacts& facts);

// The figures in the text format of node_exporter's textfile collector.
std::string PrometheusText(const ReadingsFacts& facts);
