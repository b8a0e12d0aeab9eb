#include "platform/linux/SystemPortLinux.h"

#include <unistd.h>

#include <cstdio>

bool LinuxSystemPort::QueryVersion(uint32_t, OsVersionRecord& out) {
  out.platformId = kVerPlatformNt;
  out.majorVersion = 5;
  out.minorVersion = 1;
  return true;
}

std::string LinuxSystemPort::ModuleFileName() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

bool LinuxSystemPort::WindowsDirectory(std::string& out) {
  out.clear();
  return false;
}

void LinuxSystemPort::ShowMessageBox(const std::string& text, const std::string& caption, uint32_t) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}
