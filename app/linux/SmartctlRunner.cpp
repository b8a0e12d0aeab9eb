#include "app/linux/SmartctlRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr size_t kErrorOutputKept = 4096;
// How often a wait looks at the cancel flag and at the child's state while
// its pipes stay open.
constexpr milliseconds kTick{50};
// How long a SIGKILLed child may take to end before a thread takes over
// reaping it.
constexpr milliseconds kKillGrace{5000};

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Close(); }
  int Get() const { return m_fd; }
  bool Open() const { return m_fd >= 0; }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  void Reset(int fd) {
    Close();
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Whether the child has ended, without reaping it: while it stays a zombie
// its pid, and so its process group id, cannot be reused, and killing the
// group stays safe.
bool HasEnded(pid_t pid) {
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    if (errno != EINTR) return true;  // ECHILD: someone else reaped it
  }
  return info.si_pid == pid;
}

int Reap(pid_t pid, milliseconds grace) {
  const Clock::time_point until = Clock::now() + grace;
  int status = 0;
  for (;;) {
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) return status;
    if (got < 0 && errno != EINTR) return -1;
    if (Clock::now() >= until) break;
    std::this_thread::sleep_for(milliseconds(10));
  }
  // Stuck in an uninterruptible wait (a hung device): reap it once it ends
  // rather than hold up the scan or leave a zombie.
  std::thread([pid] {
    int ignored = 0;
    while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return -1;
}

// Reads what FD has into OUT, keeping at most LIMIT bytes in OUT. Returns the
// bytes read, 0 at end of file (FD closed), -1 when there is nothing now.
ssize_t ReadSome(Fd& fd, std::string& out, size_t limit, bool* overflow) {
  char buf[65536];
  const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
    fd.Close();
    return 0;
  }
  if (n < 0) return -1;
  const size_t room = limit > out.size() ? limit - out.size() : 0;
  out.append(buf, static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room);
  if (overflow != nullptr && static_cast<size_t>(n) > room) *overflow = true;
  return n;
}

std::string SecondsText(milliseconds ms) {
  char buf[32];
  if (ms.count() % 1000 == 0)
    std::snprintf(buf, sizeof buf, "%lld s", static_cast<long long>(ms.count() / 1000));
  else
    std::snprintf(buf, sizeof buf, "%.1f s", static_cast<double>(ms.count()) / 1000.0);
  return buf;
}

std::string SizeText(size_t bytes) {
  char buf[32];
  if (bytes >= (size_t{1} << 20) && bytes % (size_t{1} << 20) == 0)
    std::snprintf(buf, sizeof buf, "%zu MiB", bytes >> 20);
  else if (bytes >= 1024 && bytes % 1024 == 0)
    std::snprintf(buf, sizeof buf, "%zu KiB", bytes >> 10);
  else
    std::snprintf(buf, sizeof buf, "%zu bytes", bytes);
  return buf;
}

}  // namespace

std::string FindProgram(const std::string& program) {
  if (program.empty()) return "";
  if (program.find('/') != std::string::npos) return program;
  std::string dirs;
  if (const char* path = std::getenv("PATH")) dirs = path;
  dirs += ":/usr/local/sbin:/usr/sbin:/sbin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    start = end + 1;
    if (dir.empty()) continue;
    const std::string candidate = dir.back() == '/' ? dir + program : dir + "/" + program;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return "";
}

ProcessResult RunProgram(const std::vector<std::string>& argv, const ProcessLimits& limits) {
  ProcessResult result;
  if (argv.empty()) {
    result.outcome = ProcessOutcome::NotFound;
    result.error = "no program named";
    return result;
  }
  result.program = FindProgram(argv[0]);
  if (result.program.empty()) {
    result.program = argv[0];
    result.outcome = ProcessOutcome::NotFound;
    result.error = argv[0] + " not found";
    return result;
  }

  // Close-on-exec everywhere: the child gets exactly stdin, stdout and
  // stderr (the file actions below close the rest as well, such as a device
  // the scan holds open).
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  Fd outRead(outPipe[0]), outWrite(outPipe[1]);
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  Fd errRead(errPipe[0]), errWrite(errPipe[1]);
  ::fcntl(outRead.Get(), F_SETFL, O_NONBLOCK);
  ::fcntl(errRead.Get(), F_SETFL, O_NONBLOCK);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), 1);
  posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // Its own process group, so that a kill reaches whatever it started, and
  // Ctrl-C at the terminal reaches only us (we then stop it ourselves).
  // Signal mask and dispositions as a fresh program expects them, whatever
  // the scan's threads block or ignore.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int spawnError = ::posix_spawn(&pid, result.program.c_str(), &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  outWrite.Close();
  errWrite.Close();
  if (spawnError != 0) {
    result.outcome = spawnError == ENOENT ? ProcessOutcome::NotFound : ProcessOutcome::CouldNotStart;
    result.error = result.program + ": " + std::strerror(spawnError);
    return result;
  }

  const Clock::time_point deadline = Clock::now() + limits.timeLimit;
  bool ended = false;
  auto stop = [&](ProcessOutcome outcome) {
    ::kill(-pid, SIGKILL);
    Reap(pid, kKillGrace);
    result.outcome = outcome;
    return result;
  };
  auto cancelled = [&] { return limits.cancel != nullptr && limits.cancel->load(); };

  while (outRead.Open() || errRead.Open()) {
    if (!ended && HasEnded(pid)) {
      // Whatever it left running could hold the pipes open for ever.
      ended = true;
      ::kill(-pid, SIGKILL);
    }
    if (cancelled()) return stop(ProcessOutcome::Cancelled);
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      if (!ended) return stop(ProcessOutcome::TimedOut);
      break;  // it ended; something it started escaped the kill and holds the pipe
    }
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - now) + milliseconds(1);
    pollfd fds[2] = {{outRead.Get(), POLLIN, 0}, {errRead.Get(), POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(std::min(left, kTick).count())) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) {
      bool overflow = false;
      ReadSome(outRead, result.output, limits.maxOutput, &overflow);
      if (overflow) return stop(ProcessOutcome::OutputTooLarge);
    }
    if (fds[1].revents != 0) ReadSome(errRead, result.errorOutput, kErrorOutputKept, nullptr);
  }
  // Both pipes are closed: wait for the exit itself.
  while (!ended) {
    if (HasEnded(pid)) break;
    if (cancelled()) return stop(ProcessOutcome::Cancelled);
    if (Clock::now() >= deadline) return stop(ProcessOutcome::TimedOut);
    std::this_thread::sleep_for(milliseconds(10));
  }
  ::kill(-pid, SIGKILL);
  const int status = Reap(pid, kKillGrace);
  if (status >= 0 && WIFEXITED(status)) {
    result.outcome = ProcessOutcome::Exited;
    result.exitStatus = WEXITSTATUS(status);
  } else {
    result.outcome = ProcessOutcome::Killed;
    result.signal = status >= 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return result;
}

ProcessResult RunSmartctl(const std::string& device, const SmartctlOptions& options) {
  // A device path that starts with '-' would be read as an option.
  const std::string target = !device.empty() && device[0] == '-' ? "./" + device : device;
  return RunProgram({options.program, "-a", "--json=c", target}, options.limits);
}

SmartSnapshot SnapshotFromRun(const ProcessResult& run, const ProcessLimits& limits) {
  switch (run.outcome) {
    case ProcessOutcome::Exited:
      return ParseSmartctlOutput(run.output, run.exitStatus);
    case ProcessOutcome::NotFound:
      return UnavailableSnapshot(SmartUnavailable::NotInstalled,
                                 run.program.find('/') == std::string::npos
                                     ? run.program + " not found (smartmontools is not installed)"
                                     : run.error);
    case ProcessOutcome::CouldNotStart:
      return UnavailableSnapshot(SmartUnavailable::CouldNotStart, "could not start " + run.error);
    case ProcessOutcome::TimedOut:
      return UnavailableSnapshot(SmartUnavailable::TimedOut,
                                 "smartctl did not finish within " + SecondsText(limits.timeLimit));
    case ProcessOutcome::OutputTooLarge:
      return UnavailableSnapshot(SmartUnavailable::OutputTooLarge,
                                 "smartctl printed more than " + SizeText(limits.maxOutput));
    case ProcessOutcome::Killed:
      return UnavailableSnapshot(SmartUnavailable::Killed, run.signal != 0 ? "smartctl was killed by signal " +
                                                                                 std::to_string(run.signal) + " (" +
                                                                                 strsignal(run.signal) + ")"
                                                                           : "smartctl ended abnormally");
    case ProcessOutcome::Cancelled:
      return UnavailableSnapshot(SmartUnavailable::Cancelled, "stopped while smartctl ran");
  }
  return UnavailableSnapshot(SmartUnavailable::CouldNotStart, "smartctl did not run");
}

SmartSnapshot ReadSmart(const std::string& device, const SmartctlOptions& options) {
  return SnapshotFromRun(RunSmartctl(device, options), options.limits);
}
