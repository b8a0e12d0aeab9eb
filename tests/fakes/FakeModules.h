#pragma once
// A scripted module loader and a scripted Windows 9x disk DLL for the disk
// object's 9x branch.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "disk/ModulePort.h"

// The exports one loadable file offers; an empty entry is a missing export.
struct FakeDllExports {
  GetDiskInfoEntry getDiskInfo;
  ReadWriteSectorEntry readWriteSector;
};

class FakeModulePort : public IModulePort {
 public:
  // Files LoadLibraryA finds, by the exact path (or bare name) asked for.
  std::map<std::string, FakeDllExports> files;
  std::string executablePath = "C:\\Program Files\\Morvek\\MorvekScan.exe";
  // Modules the process already holds, by the name GetModuleHandleA takes,
  // with their paths.
  std::map<std::string, std::string> loadedByName;
  std::string currentDirectory = "C:\\Work";
  bool failCurrentDirectory = false;

  // What happened, in order.
  std::vector<std::string> loads;             // every path asked for
  std::vector<std::string> directoryAtLoad;   // the current directory at each
  std::vector<std::string> directoryChanges;  // every SetCurrentDirectoryA
  std::vector<std::string> resolved;          // every export name asked for
  std::vector<ModuleHandle> unloads;

  // Modules loaded and not unloaded.
  size_t LoadedCount() const { return m_live.size(); }

  ModuleHandle Load(const std::string& path) override;
  void Unload(ModuleHandle module) override;
  GetDiskInfoEntry ResolveGetDiskInfo(ModuleHandle module, const char* name) override;
  ReadWriteSectorEntry ResolveReadWriteSector(ModuleHandle module, const char* name) override;
  ModuleHandle FindLoadedModule(const char* name) override;
  std::string ModulePath(ModuleHandle module) override;
  bool CurrentDirectory(std::string& out) override;
  bool ChangeDirectory(const std::string& path) override;

 private:
  ModuleHandle NewHandle(const std::string& path);
  std::map<ModuleHandle, std::string> m_paths;  // every handle handed out
  std::map<ModuleHandle, std::string> m_live;   // loaded, not yet unloaded
  uintptr_t m_next = 0x10000;
};

// One call of the DLL's ReadWriteSector, as it arrived.
struct DllTransfer {
  uint32_t command;
  uint32_t driveCode;
  uint32_t startSector;
  uint32_t count;
  void* buffer;
};

// The disk DLL's side: what GetDiskInfo leaves in the table and answers, and
// which transfers fail.
struct ScriptedDiskDll {
  uint32_t count = 0;            // written to the table as it is
  uint32_t sectorsEach = 16065;  // one cylinder of 255 x 63 per record
  int32_t infoResult = 1;
  uint32_t failFrom = UINT32_MAX;  // transfers touching [failFrom, failTo] answer 0
  uint32_t failTo = 0;

  int infoCalls = 0;
  std::vector<DllTransfer> transfers;

  FakeDllExports Exports(bool withGetDiskInfo = true, bool withReadWriteSector = true);
};
