#pragma once
#include "platform/SystemPort.h"

// Linux answers as an NT-family system of version 5.1: the disk object then
// takes its device branch, which is the one the Linux device port serves.
class LinuxSystemPort : public ISystemPort {
 public:
  bool QueryVersion(uint32_t recordSize, OsVersionRecord& out) override;
  std::string ModuleFileName() override;
  bool WindowsDirectory(std::string& out) override;
  // There is no desktop to show a box on: the text goes to standard error.
  void ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
};
