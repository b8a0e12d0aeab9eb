#include "platform/win32/SystemPortWin32.h"

#include <windows.h>

bool Win32SystemPort::QueryVersion(uint32_t recordSize, OsVersionRecord& out) {
  OSVERSIONINFOEXA info{};
  info.dwOSVersionInfoSize = recordSize;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  out.platformId = info.dwPlatformId;
  out.majorVersion = info.dwMajorVersion;
  out.minorVersion = info.dwMinorVersion;
  return true;
}

std::string Win32SystemPort::ModuleFileName() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : MAX_PATH);
}

bool Win32SystemPort::WindowsDirectory(std::string& out) {
  char dir[256] = {};
  const UINT n = GetWindowsDirectoryA(dir, 255);
  if (n == 0) return false;
  out.assign(dir);
  return true;
}

void Win32SystemPort::ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), style);
}
