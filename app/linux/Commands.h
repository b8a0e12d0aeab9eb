#pragma once
// What morvek-scan does: list the disks, or scan one.
#include "app/linux/Args.h"
#include "app/linux/LinuxMachine.h"

constexpr int kExitClean = 0;
constexpr int kExitBadBlocks = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;  // as a shell reports a job ended by SIGINT

// A scan of disk options.disk: the run on the terminal, then the report's
// result, the bad-block list and the map.
int ScanOneDisk(const Options& options);

// Says which drives could not be opened and which the list has no room
// for. Returns false, having said so in one line, when no disk at all is
// usable.
bool ReportOpenFailures(const LinuxMachine& m, const CDisk& disk, bool devicesGiven);
