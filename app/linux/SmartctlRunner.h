#pragma once
// Runs smartctl, or any helper program, without a shell and within bounds.
// smartctl on a dying drive or behind a hung USB bridge can take minutes,
// and a broken one could print without end: neither may hold up a scan or
// fill its memory. So the program gets a time limit, after which it and every
// process it started (its own process group) are killed and reaped, and its
// standard output a size limit. Standard input is /dev/null; standard error
// is kept apart from the output, so it never corrupts smartctl's JSON.
//
// The caller must not ignore SIGCHLD (SIG_IGN would reap the child before
// its exit status could be read).
#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "app/linux/Smart.h"

struct ProcessLimits {
  std::chrono::milliseconds timeLimit{30000};
  size_t maxOutput = size_t{8} << 20;  // bytes of standard output
  // When set (from another thread, e.g. on Ctrl-C), the program is killed
  // within about 50 ms and the run ends as Cancelled.
  const std::atomic<bool>* cancel = nullptr;
};

enum class ProcessOutcome {
  Exited,          // exitStatus holds the program's exit status
  NotFound,        // no such program
  CouldNotStart,   // it exists but could not be started (error says why)
  TimedOut,        // killed at the time limit
  OutputTooLarge,  // killed once its output passed maxOutput
  Killed,          // ended by a signal it did not get from us (signal)
  Cancelled,       // killed because the cancel flag was set
};

struct ProcessResult {
  ProcessOutcome outcome = ProcessOutcome::CouldNotStart;
  int exitStatus = -1;      // Exited only
  int signal = 0;           // Killed only
  std::string program;      // the file run, or the name looked for
  std::string error;        // NotFound, CouldNotStart: why, in words
  std::string output;       // standard output, at most maxOutput bytes
  std::string errorOutput;  // the first 4 KiB of standard error
};

// The file PROGRAM names: PROGRAM itself when it contains a '/', otherwise the
// first executable regular file of that name in the directories of PATH, then
// in /usr/local/sbin, /usr/sbin and /sbin (where Debian puts smartctl, often
// missing from PATH). "" when there is none. Empty PATH entries (the current
// directory) are skipped: a scan run as root must not pick up a stray file.
std::string FindProgram(const std::string& program);

// Runs ARGV (ARGV[0] looked up with FindProgram) and waits for it within
// LIMITS. Never leaves a child unreaped: one that a SIGKILL does not end
// within 5 s (stuck in the kernel on a hung device) is reaped by a detached
// thread once it ends.
ProcessResult RunProgram(const std::vector<std::string>& argv, const ProcessLimits& limits);

struct SmartctlOptions {
  std::string program = "smartctl";  // a name looked up on PATH, or a path
  ProcessLimits limits;
};

// Runs "smartctl -a --json=c DEVICE".
ProcessResult RunSmartctl(const std::string& device, const SmartctlOptions& options = {});

// The snapshot a run gives: smartctl's JSON parsed with its exit status, or,
// when it did not exit normally, "not available" with the reason.
SmartSnapshot SnapshotFromRun(const ProcessResult& run, const ProcessLimits& limits = {});

// RunSmartctl and SnapshotFromRun in one.
SmartSnapshot ReadSmart(const std::string& device, const SmartctlOptions& options = {});
