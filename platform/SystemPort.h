#pragma once
// The operating system's general services that the disk layer and the drive
// identification need: the version query, the program's own path, the Windows
// directory and a message box without owner. One real implementation per
// platform, scripted fakes in the tests.
#include <cstdint>
#include <string>

// The fields of OSVERSIONINFO(EX)A that the program reads.
struct OsVersionRecord {
  uint32_t platformId = 0;  // 0 Win32s, 1 Windows 95/98/ME, 2 NT family
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
};

constexpr uint32_t kVerPlatformWin32s = 0;
constexpr uint32_t kVerPlatformWindows = 1;
constexpr uint32_t kVerPlatformNt = 2;

constexpr uint32_t kOsVersionInfoExSize = 156;  // OSVERSIONINFOEXA
constexpr uint32_t kOsVersionInfoSize = 148;    // OSVERSIONINFOA

constexpr uint32_t kMbOk = 0x00000000;
constexpr uint32_t kMbIconError = 0x00000010;
constexpr uint32_t kMbTopmost = 0x00040000;

class ISystemPort {
 public:
  virtual ~ISystemPort() = default;
  // GetVersionExA with the record's size field set to recordSize (156 or 148).
  virtual bool QueryVersion(uint32_t recordSize, OsVersionRecord& out) = 0;
  // GetModuleFileNameA for the program's own module.
  virtual std::string ModuleFileName() = 0;
  // GetWindowsDirectoryA; false where the call returns 0.
  virtual bool WindowsDirectory(std::string& out) = 0;
  // MessageBoxA with no owner window; returns when the user has closed it.
  virtual void ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style) = 0;
};
