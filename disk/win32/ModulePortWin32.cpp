#include "disk/win32/ModulePortWin32.h"

#include <windows.h>

namespace {
HMODULE M(ModuleHandle module) { return static_cast<HMODULE>(module); }

// The DLL's exports as they are really called: the Win32 API convention,
// stdcall on i686 (the callee removes the arguments).
using GetDiskInfoFn = int32_t(WINAPI*)(DiskTable* table);
using ReadWriteSectorFn = int32_t(WINAPI*)(uint32_t command, uint32_t driveCode, uint32_t startSector, uint32_t count,
                                           void* buffer);

// GetProcAddress answers with a generic function pointer; going through
// void (*)() keeps the compiler's function-type cast check quiet about the
// conversion to the real type.
template <typename Fn>
Fn Lookup(ModuleHandle module, const char* name) {
  const FARPROC p = GetProcAddress(M(module), name);
  return p ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p)) : nullptr;
}
}  // namespace

ModuleHandle Win32ModulePort::Load(const std::string& path) { return LoadLibraryA(path.c_str()); }

void Win32ModulePort::Unload(ModuleHandle module) { FreeLibrary(M(module)); }

GetDiskInfoEntry Win32ModulePort::ResolveGetDiskInfo(ModuleHandle module, const char* name) {
  const GetDiskInfoFn fn = Lookup<GetDiskInfoFn>(module, name);
  if (fn == nullptr) return nullptr;
  return [fn](DiskTable* table) { return fn(table); };
}

ReadWriteSectorEntry Win32ModulePort::ResolveReadWriteSector(ModuleHandle module, const char* name) {
  const ReadWriteSectorFn fn = Lookup<ReadWriteSectorFn>(module, name);
  if (fn == nullptr) return nullptr;
  return [fn](uint32_t command, uint32_t driveCode, uint32_t startSector, uint32_t count, void* buffer) {
    return fn(command, driveCode, startSector, count, buffer);
  };
}

ModuleHandle Win32ModulePort::FindLoadedModule(const char* name) { return GetModuleHandleA(name); }

std::string Win32ModulePort::ModulePath(ModuleHandle module) {
  // 255 characters at most, as the loader has always taken it; a longer
  // path comes back cut (and unterminated on older systems, hence the count).
  char path[256] = {};
  const DWORD n = GetModuleFileNameA(M(module), path, 255);
  return std::string(path, n < 255 ? n : 255);
}

bool Win32ModulePort::CurrentDirectory(std::string& out) {
  char dir[MAX_PATH] = {};
  const DWORD n = GetCurrentDirectoryA(MAX_PATH, dir);
  if (n == 0 || n >= MAX_PATH) return false;  // failed, or the buffer is too small
  out.assign(dir, n);
  return true;
}

bool Win32ModulePort::ChangeDirectory(const std::string& path) { return SetCurrentDirectoryA(path.c_str()) != FALSE; }
