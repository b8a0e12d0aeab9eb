#include "app/linux/OutputDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string InOutputDir(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string OutputDirProblem(const std::string& dir) {
  if (dir.empty()) return "";
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "not a directory";
  if (access(dir.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  return "";
}
