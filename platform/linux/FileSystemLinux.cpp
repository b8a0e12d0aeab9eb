#include "platform/linux/FileSystemLinux.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string ErrnoText() { return std::strerror(errno); }

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// Closes a descriptor when it goes.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return m_fd; }
  void Reset(int fd) {
    Reset();
    m_fd = fd;
  }
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  void Reset() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }

 private:
  int m_fd;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

class LinuxOutputFile : public IOutputFile {
 public:
  explicit LinuxOutputFile(int fd) : m_fd(fd) {}
  bool Write(std::string_view bytes) override { return WriteAll(m_fd.Get(), bytes); }

 private:
  UniqueFd m_fd;
};

}  // namespace

std::string ExistingPathProblem(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? "" : ErrnoText();
  if (S_ISLNK(st.st_mode)) return "it is a symbolic link";
  if (!S_ISREG(st.st_mode)) return "it exists and is not a regular file";
  return "";
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::unique_ptr<IOutputFile> LinuxFileSystem::CreateOutputFile(const std::string& path, std::string* error,
                                                               bool* busy) {
  const std::string problem = ExistingPathProblem(path);
  if (!problem.empty()) {
    SetError(error, problem);
    return nullptr;
  }
  // Not O_TRUNC: whatever was swapped in since the check is looked at before
  // anything is emptied. O_NONBLOCK: a FIFO put there does not hang the open.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
  if (fd.Get() < 0) {
    SetError(error, errno == ELOOP ? "it is a symbolic link" : ErrnoText());
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    SetError(error, "it exists and is not a regular file");
    return nullptr;
  }
  if (busy != nullptr) {
    *busy = false;
    // Held until the file is closed; the lock goes with the process.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      *busy = errno == EWOULDBLOCK;
      SetError(error, *busy ? "it is in use by another run" : ErrnoText());
      return nullptr;
    }
  }
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (::ftruncate(fd.Get(), 0) != 0 || flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    SetError(error, ErrnoText());
    return nullptr;
  }
  return std::make_unique<LinuxOutputFile>(fd.Release());
}

bool LinuxFileSystem::WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string problem = ExistingPathProblem(path);
  if (!problem.empty()) {
    SetError(error, problem);
    return false;
  }
  const std::string dir = DirectoryOf(path);
  std::string temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 16 && fd.Get() < 0; ++attempt) {
    uint64_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != sizeof random) {
      SetError(error, ErrnoText());
      return false;
    }
    char name[32];
    std::snprintf(name, sizeof name, ".morvek-%016llx.tmp", static_cast<unsigned long long>(random));
    temp = dir + "/" + name;
    fd.Reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.Get() < 0 && errno != EEXIST) break;
  }
  if (fd.Get() < 0) {
    SetError(error, ErrnoText());
    return false;
  }
  // fsync before the rename: after a crash the name holds either the old
  // file or the whole new one, never an empty one.
  bool ok = WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0;
  if (!ok) SetError(error, errno == 0 ? std::string("write failed") : ErrnoText());
  ok = ::close(fd.Release()) == 0 && ok;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    SetError(error, ErrnoText());
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}
