#pragma once
// Loading the Windows 9x disk DLL: what the disk object needs of the system's
// module loader and of its current directory.
//
// The DLL's two exports follow the Win32 API calling convention (stdcall on
// i686). That convention belongs to the platform, so the port hands them out
// as plain callables: the Windows implementation wraps the typed entry
// point, the tests' fakes wrap a lambda, and the disk object calls either the
// same way. An empty callable means the export was not found.
#include <cstdint>
#include <functional>
#include <string>

#include "disk/DiskTable.h"

// A loaded module; kNoModule when none. A null handle also names the
// program's own executable where a module is asked for its path.
using ModuleHandle = void*;
constexpr ModuleHandle kNoModule = nullptr;

// GetDiskInfo(table): fills the disk table; non-zero when it did.
using GetDiskInfoEntry = std::function<int32_t(DiskTable* table)>;
// ReadWriteSector(command, driveCode, startSector, count, buffer): one
// transfer of 1 to 128 sectors; non-zero on success, 0 on failure. Only the
// low 16 bits of command and driveCode are defined.
using ReadWriteSectorEntry =
    std::function<int32_t(uint32_t command, uint32_t driveCode, uint32_t startSector, uint32_t count, void* buffer)>;

class IModulePort {
 public:
  virtual ~IModulePort() = default;
  // LoadLibraryA; kNoModule where the module was not loaded.
  virtual ModuleHandle Load(const std::string& path) = 0;
  // FreeLibrary.
  virtual void Unload(ModuleHandle module) = 0;
  // GetProcAddress for the two exports of the disk DLL, typed.
  virtual GetDiskInfoEntry ResolveGetDiskInfo(ModuleHandle module, const char* name) = 0;
  virtual ReadWriteSectorEntry ResolveReadWriteSector(ModuleHandle module, const char* name) = 0;
  // GetModuleHandleA: a module the process has already loaded, by name;
  // kNoModule when there is none.
  virtual ModuleHandle FindLoadedModule(const char* name) = 0;
  // GetModuleFileNameA, at most 255 characters; kNoModule names the
  // executable. Empty where the call fails.
  virtual std::string ModulePath(ModuleHandle module) = 0;
  // GetCurrentDirectoryA; false where the call fails.
  virtual bool CurrentDirectory(std::string& out) = 0;
  // SetCurrentDirectoryA; false where the call fails.
  virtual bool ChangeDirectory(const std::string& path) = 0;
};

// Owns one loaded module and unloads it when it goes.
class UniqueModule {
 public:
  UniqueModule() = default;
  UniqueModule(const UniqueModule&) = delete;
  UniqueModule& operator=(const UniqueModule&) = delete;
  ~UniqueModule() { Reset(); }

  ModuleHandle Get() const { return m_module; }
  bool IsLoaded() const { return m_module != kNoModule; }
  void Reset(IModulePort* port = nullptr, ModuleHandle module = kNoModule) {
    if (m_module != kNoModule) m_port->Unload(m_module);
    m_port = port;
    m_module = module;
  }

 private:
  IModulePort* m_port = nullptr;
  ModuleHandle m_module = kNoModule;
};
