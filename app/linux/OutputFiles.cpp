#include "app/linux/OutputFiles.h"

#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

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

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

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

bool WriteBadList(const std::string& path, const std::vector<uint32_t>& startSectors) {
  const std::string temp = path + ".part";
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(temp.c_str(), "w"));
  if (!file) return false;
  bool ok = true;
  for (uint32_t sector : startSectors) ok = ok && std::fprintf(file.get(), "%u\n", sector) > 0;
  // fclose flushes: a full disk may show only here.
  ok = std::fclose(file.release()) == 0 && ok;
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) std::remove(temp.c_str());
  return ok;
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

std::string ResultLineText(const std::string& reportFile, bool clean) {
  const std::string meaning = clean ? "no bad sectors" : "bad sectors found";
  if (reportFile.empty()) return meaning;
  std::ifstream in(reportFile, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The result line is the report's tenth line.
  size_t at = 0;
  for (int line = 0; line < 9 && at != std::string::npos; ++line) {
    at = text.find("\r\n", at);
    if (at != std::string::npos) at += 2;
  }
  if (at == std::string::npos) return meaning;
  const size_t end = text.find("\r\n", at);
  if (end == std::string::npos) return meaning;
  const std::string utf8 = GbkToUtf8(text.substr(at, end - at));
  return utf8.empty() ? meaning : utf8 + " (" + meaning + ")";
}
