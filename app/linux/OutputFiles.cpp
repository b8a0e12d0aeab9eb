#include "app/linux/OutputFiles.h"

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/linux/FileSystemLinux.h"
#include "scan/ScanReport.h"

namespace {

std::string CurrentDirectory() {
  std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
  return cwd ? std::string(cwd.get()) : std::string(".");
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

}  // namespace

namespace {

// What a path is, for comparing outputs with each other and with devices.
struct Identity {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string resolved;  // the directory resolved and the name, for a file not made yet
};

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The output's identity (of the path itself, a link not followed), and the
// reason it cannot take an output ("" when it can).
std::string IdentifyOutput(const NamedOutput& out, Identity& id) {
  const std::string problem = ExistingPathProblem(out.path);
  struct stat st {};
  if (lstat(out.path.c_str(), &st) == 0) {
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  const std::string dir = DirectoryOf(out.path);
  std::unique_ptr<char, decltype(&std::free)> real(realpath(dir.c_str(), nullptr), &std::free);
  if (!real) return dir + ": " + std::strerror(errno);
  id.resolved = std::string(real.get()) + "/" + BaseName(out.path);
  if (!problem.empty()) return problem;
  struct stat d {};
  if (stat(dir.c_str(), &d) != 0) return dir + ": " + std::strerror(errno);
  if (!S_ISDIR(d.st_mode)) return dir + " is not a directory";
  if (access(dir.c_str(), W_OK | X_OK) != 0) return dir + ": " + std::strerror(errno);
  return "";
}

bool SameFile(const Identity& a, const Identity& b) {
  if (a.exists && b.exists) return a.device == b.device && a.inode == b.inode;
  // An empty name is a path whose directory could not be resolved: it says
  // nothing about which file it is.
  return !a.resolved.empty() && a.resolved == b.resolved;
}

}  // namespace

std::string OutputsProblem(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& devices) {
  std::vector<Identity> ids(outputs.size());
  for (size_t i = 0; i < outputs.size(); ++i) {
    const std::string why = IdentifyOutput(outputs[i], ids[i]);
    if (!why.empty() && outputs[i].checked)
      return "cannot write " + outputs[i].path + " (" + outputs[i].what + "): " + why;
  }
  for (size_t i = 0; i < outputs.size(); ++i) {
    for (size_t j = 0; j < i; ++j)
      if (SameFile(ids[i], ids[j]))
        return outputs[j].what + " and " + outputs[i].what + " name the same file, " + ids[i].resolved;
    if (!ids[i].exists) continue;
    // An image file being scanned must never be overwritten, and that holds
    // for the report and the log as for any output (a device could not be an
    // output: it is no regular file).
    for (const std::string& device : devices) {
      struct stat dev {};
      if (stat(device.c_str(), &dev) == 0 && S_ISREG(dev.st_mode) && dev.st_dev == ids[i].device &&
          dev.st_ino == ids[i].inode)
        return "cannot write " + outputs[i].path + " (" + outputs[i].what + "): it is a disk to be scanned";
    }
  }
  return "";
}

std::string BadListText(const std::vector<uint64_t>& sectors) {
  std::string text;
  for (uint64_t sector : sectors) text += std::to_string(sector) + "\n";
  return text;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  const std::string cwd = CurrentDirectory();
  return cwd == "/" ? "/" + path : cwd + "/" + path;
}

std::string WhyNotWritable(const std::string& file) {
  const std::string where = AbsolutePath(file);
  struct stat st {};
  if (lstat(file.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return where + " is a symbolic link (never written through)";
    if (S_ISDIR(st.st_mode)) return where + " is a directory";
    if (!S_ISREG(st.st_mode)) return where + " is not a regular file";
    if (access(file.c_str(), W_OK) != 0) return where + ": " + std::strerror(errno);
  } else if (const std::string dir = DirectoryOf(file); access(dir.c_str(), W_OK | X_OK) != 0) {
    return "cannot create files in " + (dir == "." ? CurrentDirectory() : AbsolutePath(dir)) + ": " +
           std::strerror(errno);
  }
  return "writing " + where + " failed (is the disk full?)";
}

std::string GbkToUtf8(const std::string& gbk) {
  const iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  const std::unique_ptr<void, IconvCloser> hold(cd);
  std::string in = gbk;
  std::string out(gbk.size() * 2 + 4, '\0');  // a GBK character takes at most 3 UTF-8 bytes for 2
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return "";
  out.resize(out.size() - outLeft);
  return out;
}

std::string ResultLineText(bool reportWritten, bool clean) {
  const std::string meaning = clean ? "no bad sectors" : "bad sectors found";
  if (!reportWritten) return meaning;
  const std::string utf8 = GbkToUtf8(ReportResultLine(clean));
  return utf8.empty() ? meaning : utf8 + " (" + meaning + ")";
}
