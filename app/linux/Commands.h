#pragma once
// What morvek-scan does: list the disks, or scan one.
#include "app/linux/Args.h"
#include "app/linux/LinuxMachine.h"

constexpr int kExitClean = 0;
constexpr int kExitBadBlocks = 1;
constexpr int kExitUsage = 2;
constexpr int kExitDiskGone = 3;   // the disk stopped answering
constexpr int kExitStopped = 130;  // as a shell reports a job ended by SIGINT

// A scan of disk options.disk: the run on the terminal, then the report's
// result, the bad-block list and the map.
int ScanOneDisk(const Options& options);

// Says which drives could not be opened and which the list has no room
// for. Returns false, having said so in one line, when no disk at all is
// usable.
bool ReportOpenFailures(const LinuxMachine& m, const CDisk& disk, bool devicesGiven);

// Makes Scan.log, locked for this run: one run per directory. False, having
// said why, when another run holds it.
bool TakeTheLog(LinuxMachine& m);

// Makes the process safe to run from anywhere: descriptors 0 to 2 exist (on
// /dev/null where they were closed, so that no file the program opens takes
// their place), and a closed pipe on standard output is an error to write,
// not a signal that ends the run.
void PrepareProcess();
