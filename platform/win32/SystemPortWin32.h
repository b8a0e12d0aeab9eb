#pragma once
#include "platform/SystemPort.h"

class Win32SystemPort : public ISystemPort {
 public:
  bool QueryVersion(uint32_t recordSize, OsVersionRecord& out) override;
  std::string ModuleFileName() override;
  bool WindowsDirectory(std::string& out) override;
  void ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style) override;
};
