#pragma once
// After a run: which sectors of its failed reads are unreadable, exactly.
// Each failed block is read again one logical sector at a time (512 bytes,
// or 4096 on a 4K-native drive), as badblocks does, so that a user can force
// a remap or check a file system against exact sector numbers.
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "disk/CDisk.h"
#include "scan/ScanReadings.h"

struct RefineLimits {
  // A badly damaged disk has thousands of failed blocks, and each read of a
  // bad sector can take the drive seconds of retries: refining stops after
  // this many blocks or this much time, whichever comes first.
  size_t maxBlocks = 512;
  std::chrono::milliseconds maxTime{std::chrono::minutes(10)};
};

struct RefineResult {
  std::vector<uint64_t> sectors;  // unreadable 512-byte sectors, ascending
  size_t blocksRefined = 0;
  size_t blocksTotal = 0;
  bool stopped = false;  // by a stop request
  bool limited = false;  // by RefineLimits
  bool Complete() const { return blocksRefined == blocksTotal; }
};

// Reads every logical sector of every block in `blocks` (the disk's
// active drive) and keeps the ones that fail. `nowMs` tells the time (for
// the limit), `progress` is told after each block. A stop request
// (`stopRequested` true) ends it after the sector being read.
RefineResult RefineBadSectors(CDisk& disk, const std::vector<BadBlock>& blocks, uint32_t logicalSectorSize,
                              const std::function<bool()>& stopRequested, const RefineLimits& limits,
                              const std::function<uint64_t()>& nowMs,
                              const std::function<void(size_t done, size_t total)>& progress);
