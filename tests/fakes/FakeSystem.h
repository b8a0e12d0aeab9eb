#pragma once
// Scripted operating-system services for the disk layer's tests.
#include <map>
#include <string>
#include <vector>

#include "platform/LinkPort.h"
#include "platform/SystemDiskLocator.h"
#include "platform/SystemPort.h"

struct ShownMessageBox {
  std::string text;
  std::string caption;
  uint32_t style;
};

class FakeSystemPort : public ISystemPort {
 public:
  // The version every query reports; failVersion makes every query fail.
  OsVersionRecord version{kVerPlatformNt, 5, 1};
  bool failVersion = false;
  bool failExtendedOnly = false;  // the 156-byte record is refused, the 148-byte one works
  std::string modulePath = "C:\\Program Files\\Morvek\\MorvekScan.exe";
  std::string windowsDirectory = "C:\\WINDOWS";
  bool failWindowsDirectory = false;

  std::vector<uint32_t> versionQueries;  // record sizes asked for, in order
  std::vector<ShownMessageBox> messageBoxes;

  bool QueryVersion(uint32_t recordSize, OsVersionRecord& out) override {
    versionQueries.push_back(recordSize);
    if (failVersion || (failExtendedOnly && recordSize == kOsVersionInfoExSize)) return false;
    out = version;
    return true;
  }
  std::string ModuleFileName() override { return modulePath; }
  bool WindowsDirectory(std::string& out) override {
    if (failWindowsDirectory) return false;
    out = windowsDirectory;
    return true;
  }
  void ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style) override {
    messageBoxes.push_back({text, caption, style});
  }
};

// A scripted object namespace: link name (compared without regard to case,
// as the lookups ask) to target.
class FakeLinkPort : public ILinkPort {
 public:
  std::map<std::string, std::string> links;
  std::vector<std::string> queries;

  void Add(const std::string& name, const std::string& target) { links[Lower(name)] = target; }
  bool QuerySymbolicLink(const char* linkName, char* buffer, uint32_t bufferSize) override;

 private:
  static std::string Lower(std::string s);
};

class FakeLocator : public ISystemDiskLocator {
 public:
  int systemDisk = 0;
  int calls = 0;
  int LocateSystemDisk() override {
    ++calls;
    return systemDisk;
  }
};
