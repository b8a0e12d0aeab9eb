#pragma once
// Test devices on Linux: files of a known pattern, and loop devices in
// direct-I/O mode over faultfs (bad and slow sectors, every read traced).
// Whatever a test makes here it removes again: its own loop device (if it is
// still its own), its own mount, its own faultfs daemon (by its pid).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace faultdev {

namespace fs = std::filesystem;

inline uint8_t PatternAt(uint64_t offset) {
  const uint64_t word = (offset / 8) * 0x9E3779B97F4A7C15ull;
  return static_cast<uint8_t>(word >> (8 * (offset % 8)));
}

// A file of `bytes` bytes of the pattern, removed with the object.
class PatternFile {
 public:
  explicit PatternFile(uint64_t bytes)
      : m_path(fs::temp_directory_path() / ("morvek-ra-" + std::to_string(::getpid()) + "-" + std::to_string(s_n++))) {
    std::vector<char> data(bytes);
    for (uint64_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(PatternAt(i));
    std::ofstream(m_path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(bytes));
  }
  ~PatternFile() { fs::remove(m_path); }
  std::string Path() const { return m_path.string(); }

 private:
  static inline int s_n = 0;
  fs::path m_path;
};

// Opened as the scan opens a drive: read-only, unbuffered where allowed.
class ScanFd {
 public:
  explicit ScanFd(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (m_fd < 0 && errno == EINVAL) m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  ~ScanFd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int Get() const { return m_fd; }

 private:
  int m_fd = -1;
};

// Runs a command, returns its first line of output; empty on failure.
inline std::string Run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return "";
  char line[512] = {};
  if (std::fgets(line, sizeof line, pipe.get()) == nullptr) return "";
  std::string s = line;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

inline std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  return s;
}

// Why loop devices over faultfs cannot be made here; empty when they can.
inline std::string FaultDeviceUnavailable() {
  if (::geteuid() != 0) return "loop devices and FUSE need root";
  if (::access("/dev/loop-control", R_OK) != 0 || ::access("/dev/fuse", R_OK | W_OK) != 0)
    return "no /dev/loop-control or /dev/fuse";
  const char* faultfs = std::getenv("FAULTFS");
  if (faultfs == nullptr || ::access(faultfs, X_OK) != 0) return "FAULTFS does not name the faultfs program";
  if (Run("command -v losetup && command -v fusermount3").empty()) return "no losetup or fusermount3";
  return "";
}

// A loop device in direct-I/O mode, read-only, over a file; detached (if it
// is still ours) when the object goes.
class LoopDevice {
 public:
  LoopDevice(const std::string& file, uint32_t sectorSize) {
    std::error_code error;
    m_file = fs::canonical(file, error).string();
    if (error) return;
    // Another developer's test may take the free device first: try again.
    for (int i = 0; i < 5 && m_dev.empty(); ++i) {
      m_dev = Run("losetup -r --direct-io=on --sector-size " + std::to_string(sectorSize) + " -f --show '" + m_file +
                  "' 2>/dev/null");
      if (m_dev.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!m_dev.empty() && ReadFirstLine(SysFile("dio")) != "1") m_dio = false;
  }
  ~LoopDevice() {
    if (m_dev.empty() || ReadFirstLine(SysFile("backing_file")) != m_file) return;
    Run("losetup -d " + m_dev);
    // The device lets go of its file asynchronously.
    for (int i = 0; i < 100 && ReadFirstLine(SysFile("backing_file")) == m_file; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  bool Usable() const { return !m_dev.empty() && m_dio; }
  const std::string& Path() const { return m_dev; }

 private:
  std::string SysFile(const char* name) const { return "/sys/block/" + m_dev.substr(5) + "/loop/" + name; }
  std::string m_file;
  std::string m_dev;
  bool m_dio = true;
};

// faultfs serving DIR/disk.img: bad and slow sector ranges, data from a
// backing file, every read it serves traced. Unmounted, and its daemon
// ended by its pid, when the object goes.
class FaultFs {
 public:
  FaultFs(uint64_t bytes, const std::vector<std::string>& bad, const std::vector<std::string>& slow,
          const std::string& backing) {
    char dir[] = "/tmp/morvek-ra-fuse.XXXXXX";
    if (::mkdtemp(dir) == nullptr) return;
    m_dir = dir;
    m_trace = m_dir + ".trace";
    std::vector<std::string> args = {
        std::getenv("FAULTFS"), m_dir, "--size", std::to_string(bytes), "--backing", backing, "--trace", m_trace};
    for (const auto& r : bad) args.insert(args.end(), {"--bad", r});
    for (const auto& r : slow) args.insert(args.end(), {"--slow", r});
    args.push_back("-f");
    m_pid = ::fork();
    if (m_pid == 0) {
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    for (int i = 0; i < 200 && !Mounted(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ~FaultFs() {
    if (m_pid > 0) {
      for (int i = 0; i < 40 && Mounted(); ++i) {
        if (Run("fusermount3 -u '" + m_dir + "' 2>/dev/null && echo ok") == "ok") break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      int status = 0;
      for (int i = 0; i < 40 && ::waitpid(m_pid, &status, WNOHANG) == 0; ++i) {
        if (i == 20) ::kill(m_pid, SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (::waitpid(m_pid, &status, WNOHANG) == 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
      }
    }
    if (!m_dir.empty()) {
      ::rmdir(m_dir.c_str());
      ::unlink(m_trace.c_str());
    }
  }
  bool Mounted() const {
    struct stat st {};
    return !m_dir.empty() && ::stat((m_dir + "/disk.img").c_str(), &st) == 0;
  }
  std::string Image() const { return m_dir + "/disk.img"; }
  // The reads that reached the "disk": "OFFSET LENGTH RESULT" lines.
  std::vector<std::string> Trace() const {
    std::ifstream in(m_trace);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  std::string m_dir;
  std::string m_trace;
  pid_t m_pid = -1;
};

// A faulty disk as the scan sees it: faultfs under a loop device.
struct FaultDevice {
  FaultDevice(uint64_t sectors, const std::vector<std::string>& bad, const std::vector<std::string>& slow,
              uint32_t sectorSize = 512)
      : backing(sectors * 512), faultfs(sectors * 512, bad, slow, backing.Path()), loop(faultfs.Image(), sectorSize) {}
  bool Usable() const { return faultfs.Mounted() && loop.Usable(); }
  PatternFile backing;
  FaultFs faultfs;
  LoopDevice loop;
};

#define REQUIRE_FAULT_DEVICES()                       \
  do {                                                \
    const std::string why = FaultDeviceUnavailable(); \
    if (!why.empty()) GTEST_SKIP() << why;            \
  } while (0)

}  // namespace faultdev
