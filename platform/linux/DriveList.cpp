#include "platform/linux/DriveList.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

namespace fs = std::filesystem;

namespace {
bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }
}  // namespace

std::vector<std::string> WholeDisks(const std::string& sysBlock) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysBlock, ec)) {
    const std::string name = entry.path().filename().string();
    // Only devices backed by hardware have a "device" link: this leaves out
    // loop, ram, zram, device-mapper and md devices.
    if (StartsWith(name, "loop") || StartsWith(name, "ram") || StartsWith(name, "zram") || StartsWith(name, "sr") ||
        StartsWith(name, "fd"))
      continue;
    if (!fs::exists(entry.path() / "device", ec)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  std::vector<std::string> paths;
  for (const auto& n : names) paths.push_back("/dev/" + n);
  return paths;
}

std::vector<std::string> DriveList(const std::vector<std::string>& givenPaths) {
  return givenPaths.empty() ? WholeDisks() : givenPaths;
}

std::string DeviceNumberOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::string();
  return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
}
