#include "app/linux/OutputFiles.h"

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "scan/ScanReport.h"

namespace {

std::string CurrentDirectory() {
  std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
  return cwd ? std::string(cwd.get()) : std::string(".");
}

std::string ParentDirectory(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

}  // namespace

std::string OutputPathProblem(const std::string& path, const std::vector<std::string>& devices) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return "it exists and is not a regular file";
    for (const std::string& device : devices) {
      struct stat dev {};
      if (stat(device.c_str(), &dev) == 0 && dev.st_dev == st.st_dev && dev.st_ino == st.st_ino)
        return "it is a disk to be scanned";
    }
  }
  const std::string dir = ParentDirectory(path);
  struct stat d {};
  if (stat(dir.c_str(), &d) != 0) return dir + ": " + std::strerror(errno);
  if (!S_ISDIR(d.st_mode)) return dir + " is not a directory";
  if (access(dir.c_str(), W_OK | X_OK) != 0) return dir + ": " + std::strerror(errno);
  return "";
}

std::string BadListText(const std::vector<uint64_t>& startSectors) {
  std::string text;
  for (uint64_t sector : startSectors) text += std::to_string(sector) + "\n";
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
  if (stat(file.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return where + " is a directory";
    if (access(file.c_str(), W_OK) != 0) return where + ": " + std::strerror(errno);
  } else if (access(".", W_OK | X_OK) != 0) {
    return "cannot create files in " + CurrentDirectory() + ": " + std::strerror(errno);
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
