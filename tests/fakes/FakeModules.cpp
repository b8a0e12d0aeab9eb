#include "fakes/FakeModules.h"

#include <algorithm>

ModuleHandle FakeModulePort::NewHandle(const std::string& path) {
  const auto h = reinterpret_cast<ModuleHandle>(m_next);
  m_next += 0x1000;
  m_paths[h] = path;
  return h;
}

ModuleHandle FakeModulePort::Load(const std::string& path) {
  loads.push_back(path);
  directoryAtLoad.push_back(currentDirectory);
  if (files.find(path) == files.end()) return kNoModule;
  const ModuleHandle h = NewHandle(path);
  m_live[h] = path;
  return h;
}

void FakeModulePort::Unload(ModuleHandle module) {
  unloads.push_back(module);
  m_live.erase(module);
}

GetDiskInfoEntry FakeModulePort::ResolveGetDiskInfo(ModuleHandle module, const char* name) {
  resolved.emplace_back(name);
  const auto it = m_live.find(module);
  if (it == m_live.end() || std::string(name) != "GetDiskInfo") return nullptr;
  return files.at(it->second).getDiskInfo;
}

ReadWriteSectorEntry FakeModulePort::ResolveReadWriteSector(ModuleHandle module, const char* name) {
  resolved.emplace_back(name);
  const auto it = m_live.find(module);
  if (it == m_live.end() || std::string(name) != "ReadWriteSector") return nullptr;
  return files.at(it->second).readWriteSector;
}

ModuleHandle FakeModulePort::FindLoadedModule(const char* name) {
  const auto it = loadedByName.find(name);
  if (it == loadedByName.end()) return kNoModule;
  for (const auto& [h, path] : m_paths)
    if (path == it->second) return h;
  return NewHandle(it->second);
}

std::string FakeModulePort::ModulePath(ModuleHandle module) {
  if (module == kNoModule) return executablePath;
  const auto it = m_paths.find(module);
  return it == m_paths.end() ? std::string() : it->second;
}

bool FakeModulePort::CurrentDirectory(std::string& out) {
  if (failCurrentDirectory) return false;
  out = currentDirectory;
  return true;
}

bool FakeModulePort::ChangeDirectory(const std::string& path) {
  directoryChanges.push_back(path);
  if (path.empty()) return false;
  currentDirectory = path;
  return true;
}

FakeDllExports ScriptedDiskDll::Exports(bool withGetDiskInfo, bool withReadWriteSector) {
  FakeDllExports e;
  if (withGetDiskInfo) {
    e.getDiskInfo = [this](DiskTable* table) {
      ++infoCalls;
      // A lying count is written as it is, but no record past the table's
      // four: the fake must not itself write out of bounds.
      table->count = count;
      for (uint32_t i = 0; i < std::min(count, kMaxDisks); ++i) {
        DiskRecord& r = table->records[i];
        r.sectorsPerTrack = 63;
        r.heads = 255;
        r.sectorsPerCylinder = 16065;
        r.cylinders = sectorsEach / 16065;
        r.totalSectors = r.cylinders * 16065;
      }
      return infoResult;
    };
  }
  if (withReadWriteSector) {
    e.readWriteSector = [this](uint32_t command, uint32_t driveCode, uint32_t startSector, uint32_t sectors,
                               void* buffer) {
      transfers.push_back({command, driveCode, startSector, sectors, buffer});
      const bool bad = startSector <= failTo && failFrom < startSector + sectors;
      return bad ? 0 : 1;
    };
  }
  return e;
}
