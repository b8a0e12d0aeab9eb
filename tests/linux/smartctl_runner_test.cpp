// Running smartctl within bounds, against stand-in programs (shell scripts
// written into a scratch directory) that hang, flood their output, exit with
// given statuses or do not exist; and the real smartctl, where installed, on
// an image file and a loop device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "app/linux/SmartctlRunner.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class ScratchDir {
 public:
  ScratchDir() : m_path(fs::temp_directory_path() / ("morvek-smart-" + std::to_string(::getpid()))) {
    fs::remove_all(m_path);
    fs::create_directories(m_path);
  }
  ~ScratchDir() { fs::remove_all(m_path); }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }
  std::string Path() const { return m_path.string(); }

  // An executable shell script NAME with BODY.
  std::string Script(const std::string& name, const std::string& body) const {
    const std::string path = *this / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

 private:
  fs::path m_path;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Waits briefly for a file the stand-in writes as it starts.
long PidFrom(const std::string& path) {
  for (int i = 0; i < 200 && ReadFile(path).empty(); ++i) std::this_thread::sleep_for(10ms);
  return std::atol(ReadFile(path).c_str());
}

// Our child and reaped: no longer ours to wait for.
bool Reaped(long pid) { return ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) < 0 && errno == ECHILD; }

// Gone, or a zombie waiting for its new parent (init) to reap it.
bool Dead(long pid) {
  for (int i = 0; i < 200; ++i) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    if (stat.empty() || (paren != std::string::npos && stat.substr(paren + 2, 1) == "Z")) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

ProcessLimits Limits(std::chrono::milliseconds time, size_t output = size_t{1} << 20) {
  ProcessLimits limits;
  limits.timeLimit = time;
  limits.maxOutput = output;
  return limits;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(SmartctlRunner, ExitStatusesAndOutputsComeBackApart) {
  ScratchDir dir;
  std::ofstream(dir / "out.json") << R"({"a":1})";
  const std::string stub =
      dir.Script("stub", "cat '" + (dir / "out.json") + "'\necho 'some complaint' >&2\nexit \"$1\"");
  for (int status : {0, 1, 4, 216, 255}) {
    const ProcessResult run = RunProgram({stub, std::to_string(status)}, Limits(10s));
    ASSERT_EQ(run.outcome, ProcessOutcome::Exited) << run.error;
    EXPECT_EQ(run.exitStatus, status);
    EXPECT_EQ(run.output, R"({"a":1})");
    EXPECT_EQ(run.errorOutput, "some complaint\n");
  }
}

TEST(SmartctlRunner, ChildGetsEmptyInputAndNoneOfOurFiles) {
  ScratchDir dir;
  // A program reading its input must see end of file, not wait on ours:
  // here ours is a pipe that stays open and empty.
  int quiet[2];
  ASSERT_EQ(::pipe(quiet), 0);
  const int savedStdin = ::dup(0);
  ::dup2(quiet[0], 0);
  const std::string reader = dir.Script("reader", "cat; echo done");
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult run = RunProgram({reader}, Limits(2s));
  ::dup2(savedStdin, 0);
  for (int fd : {savedStdin, quiet[0], quiet[1]}) ::close(fd);
  EXPECT_EQ(run.outcome, ProcessOutcome::Exited);
  EXPECT_EQ(run.output, "done\n");
  EXPECT_LT(SecondsSince(start), 1.5);

  // A file we hold open without close-on-exec (as a scanned device may be)
  // is not passed on.
  const int held = ::open((dir / "reader").c_str(), O_RDONLY);
  ASSERT_GE(held, 3);
  const std::string peek = dir.Script("peek", "[ -e /proc/$$/fd/$1 ] && echo open || echo closed");
  EXPECT_EQ(RunProgram({peek, std::to_string(held)}, Limits(5s)).output, "closed\n");
  ::close(held);
}

TEST(SmartctlRunner, HangingProgramAndWhatItStartedAreKilledAndReaped) {
  ScratchDir dir;
  const std::string hang =
      dir.Script("hang", "echo $$ > '" + (dir / "pid") + "'\nsleep 300 &\necho $! > '" + (dir / "bg") + "'\nsleep 300");
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult run = RunProgram({hang}, Limits(400ms));
  EXPECT_EQ(run.outcome, ProcessOutcome::TimedOut);
  EXPECT_GE(SecondsSince(start), 0.35);
  EXPECT_LT(SecondsSince(start), 3.0);
  const long pid = PidFrom(dir / "pid"), bg = PidFrom(dir / "bg");
  ASSERT_GT(pid, 0);
  ASSERT_GT(bg, 0);
  EXPECT_TRUE(Reaped(pid));
  EXPECT_TRUE(Dead(bg));

  const SmartSnapshot s = SnapshotFromRun(run, Limits(400ms));
  EXPECT_EQ(s.reason, SmartUnavailable::TimedOut);
  EXPECT_EQ(s.why, "smartctl did not finish within 0.4 s");
}

TEST(SmartctlRunner, HangingAfterClosingItsOutputStillTimesOut) {
  ScratchDir dir;
  const std::string quiet = dir.Script("quiet", "echo $$ > '" + (dir / "pid") + "'\nexec >&- 2>&-\nsleep 300");
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult run = RunProgram({quiet}, Limits(400ms));
  EXPECT_EQ(run.outcome, ProcessOutcome::TimedOut);
  EXPECT_LT(SecondsSince(start), 3.0);
  EXPECT_TRUE(Reaped(PidFrom(dir / "pid")));
}

TEST(SmartctlRunner, WhatItLeftBehindDoesNotHoldUpItsExit) {
  ScratchDir dir;
  // The background sleep keeps the output pipe open after the script ends.
  const std::string leaver = dir.Script("leaver", "sleep 300 &\necho $! > '" + (dir / "bg") + "'\necho '{}'\nexit 3");
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult run = RunProgram({leaver}, Limits(10s));
  EXPECT_EQ(run.outcome, ProcessOutcome::Exited);
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_EQ(run.output, "{}\n");
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_TRUE(Dead(PidFrom(dir / "bg")));
}

TEST(SmartctlRunner, OutputIsBounded) {
  ScratchDir dir;
  const std::string flood = dir.Script("flood", "echo $$ > '" + (dir / "pid") + "'\nexec cat /dev/zero");
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult run = RunProgram({flood}, Limits(20s, 256 * 1024));
  EXPECT_EQ(run.outcome, ProcessOutcome::OutputTooLarge);
  EXPECT_EQ(run.output.size(), 256u * 1024);
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_TRUE(Reaped(PidFrom(dir / "pid")));
  EXPECT_EQ(SnapshotFromRun(run, Limits(20s, 256 * 1024)).why, "smartctl printed more than 256 KiB");

  // Exactly the limit is fine; one byte more is not.
  const std::string sized = dir.Script("sized", "head -c \"$1\" /dev/zero");
  const ProcessResult full = RunProgram({sized, "100000"}, Limits(10s, 100000));
  EXPECT_EQ(full.outcome, ProcessOutcome::Exited);
  EXPECT_EQ(full.output.size(), 100000u);
  EXPECT_EQ(RunProgram({sized, "100001"}, Limits(10s, 100000)).outcome, ProcessOutcome::OutputTooLarge);
}

TEST(SmartctlRunner, ProgramsThatDoNotRun) {
  ScratchDir dir;
  const ProcessResult byName = RunProgram({"morvek-no-such-smartctl"}, Limits(5s));
  EXPECT_EQ(byName.outcome, ProcessOutcome::NotFound);
  const SmartSnapshot s = SnapshotFromRun(byName);
  EXPECT_EQ(s.reason, SmartUnavailable::NotInstalled);
  EXPECT_EQ(SmartTextLines(s).front(),
            "SMART: not available (morvek-no-such-smartctl not found (smartmontools is not installed))");

  EXPECT_EQ(RunProgram({dir / "missing"}, Limits(5s)).outcome, ProcessOutcome::NotFound);

  std::ofstream(dir / "plain") << "#!/bin/sh\necho hi\n";
  fs::permissions(dir / "plain", fs::perms::owner_read | fs::perms::owner_write);
  const ProcessResult notExecutable = RunProgram({dir / "plain"}, Limits(5s));
  EXPECT_EQ(notExecutable.outcome, ProcessOutcome::CouldNotStart);
  EXPECT_EQ(SnapshotFromRun(notExecutable).reason, SmartUnavailable::CouldNotStart);

  const std::string suicide = dir.Script("suicide", "kill -9 $$");
  const ProcessResult killed = RunProgram({suicide}, Limits(5s));
  EXPECT_EQ(killed.outcome, ProcessOutcome::Killed);
  EXPECT_EQ(killed.signal, 9);
  EXPECT_EQ(SnapshotFromRun(killed).reason, SmartUnavailable::Killed);
}

TEST(SmartctlRunner, CancelEndsTheRunEarly) {
  ScratchDir dir;
  const std::string hang = dir.Script("hang", "echo $$ > '" + (dir / "pid") + "'\nsleep 300");
  std::atomic<bool> cancel{false};
  ProcessLimits limits = Limits(30s);
  limits.cancel = &cancel;
  std::thread stopper([&] {
    std::this_thread::sleep_for(300ms);
    cancel = true;
  });
  const auto start = std::chrono::steady_clock::now();
  const ProcessResult run = RunProgram({hang}, limits);
  stopper.join();
  EXPECT_EQ(run.outcome, ProcessOutcome::Cancelled);
  EXPECT_LT(SecondsSince(start), 3.0);
  EXPECT_TRUE(Reaped(PidFrom(dir / "pid")));
}

TEST(SmartctlRunner, FindsProgramsOnPathButNotInTheCurrentDirectory) {
  ScratchDir dir;
  fs::create_directories(dir / "bin");
  dir.Script("bin/morvek-probe", "exit 0");
  dir.Script("morvek-here", "exit 0");
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  const fs::path oldCwd = fs::current_path();
  ::setenv("PATH", ("/nonexistent::" + (dir / "bin")).c_str(), 1);
  fs::current_path(dir.Path());
  EXPECT_EQ(FindProgram("morvek-probe"), dir / "bin/morvek-probe");
  EXPECT_EQ(FindProgram("morvek-here"), "");
  EXPECT_EQ(FindProgram("./morvek-here"), "./morvek-here");
  fs::current_path(oldCwd);
  ::setenv("PATH", oldPath.c_str(), 1);
}

TEST(SmartctlRunner, StandInSmartctlServingASample) {
  ScratchDir dir;
  const std::string sample = std::string(MORVEK_TEST_DATA) + "/smartctl/ata-failing-usb-jmicron.json";
  const std::string smartctl =
      dir.Script("smartctl", "echo \"$@\" > '" + (dir / "args") + "'\ncat '" + sample + "'\nexit 216");
  SmartctlOptions options;
  options.program = smartctl;
  const SmartSnapshot s = ReadSmart("/dev/sdz", options);
  EXPECT_EQ(ReadFile(dir / "args"), "-a --json=c /dev/sdz\n");
  ASSERT_TRUE(s.available) << s.why;
  EXPECT_EQ(s.exitStatus, 216);
  EXPECT_TRUE(s.Failing());
  EXPECT_EQ(s.pendingSectors, 8);

  // A device name that looks like an option is passed as a path.
  ReadSmart("-weird", options);
  EXPECT_EQ(ReadFile(dir / "args"), "-a --json=c ./-weird\n");
}

TEST(SmartctlRunner, RealSmartctlOnAnImageAndALoopDevice) {
  if (FindProgram("smartctl").empty()) GTEST_SKIP() << "smartctl is not installed";
  ScratchDir dir;
  const std::string image = dir / "disk.img";
  {
    std::ofstream out(image, std::ios::binary);
    out.seekp((1 << 20) - 1);
    out.put('\0');
  }
  const SmartSnapshot onImage = ReadSmart(image);
  EXPECT_FALSE(onImage.available);
  EXPECT_EQ(onImage.reason, SmartUnavailable::NoSmart) << onImage.why;
  EXPECT_NE(onImage.why.find("Unable to detect device type"), std::string::npos) << onImage.why;

  // A loop device of our own (read-only), detached again whatever happens.
  if (::geteuid() != 0) GTEST_SKIP() << "loop devices need root";
  std::string loop;
  if (std::FILE* p = ::popen(("losetup -f --show -r '" + image + "' 2>/dev/null").c_str(), "r")) {
    char buf[64] = {};
    if (std::fgets(buf, sizeof buf, p)) loop = buf;
    ::pclose(p);
  }
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  if (loop.rfind("/dev/loop", 0) != 0) GTEST_SKIP() << "no free loop device";
  const SmartSnapshot onLoop = ReadSmart(loop);
  std::system(("losetup -d '" + loop + "'").c_str());
  EXPECT_FALSE(onLoop.available);
  EXPECT_EQ(onLoop.reason, SmartUnavailable::NoSmart) << onLoop.why;
  EXPECT_EQ(SmartTextLines(onLoop).front(),
            "SMART: not available (no SMART for this device: Unable to detect device type)");
}
