#pragma once
#include "disk/ModulePort.h"

// LoadLibraryA, GetProcAddress, FreeLibrary, GetModuleHandleA,
// GetModuleFileNameA, GetCurrentDirectoryA and SetCurrentDirectoryA.
class Win32ModulePort : public IModulePort {
 public:
  ModuleHandle Load(const std::string& path) override;
  void Unload(ModuleHandle module) override;
  GetDiskInfoEntry ResolveGetDiskInfo(ModuleHandle module, const char* name) override;
  ReadWriteSectorEntry ResolveReadWriteSector(ModuleHandle module, const char* name) override;
  ModuleHandle FindLoadedModule(const char* name) override;
  std::string ModulePath(ModuleHandle module) override;
  bool CurrentDirectory(std::string& out) override;
  bool ChangeDirectory(const std::string& path) override;
};
