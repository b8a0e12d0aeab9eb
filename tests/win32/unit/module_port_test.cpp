// The real module loader of the Windows 9x disk DLL's road, on modules every
// Windows process has.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "disk/win32/ModulePortWin32.h"

namespace {

// The real loader, on modules every Windows process has.
TEST(Win32ModulePort, FindsModulesAndTheirPaths) {
  Win32ModulePort modules;
  char own[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, own, MAX_PATH);
  EXPECT_EQ(modules.ModulePath(kNoModule), std::string(own));
  EXPECT_EQ(modules.FindLoadedModule("locate"), kNoModule);

  const ModuleHandle kernel = modules.FindLoadedModule("kernel32");
  ASSERT_NE(kernel, kNoModule);
  std::string path = modules.ModulePath(kernel);
  for (char& c : path) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(path.find("\\kernel32.dll"), std::string::npos) << path;
}

TEST(Win32ModulePort, LoadsResolvesAndUnloads) {
  Win32ModulePort modules;
  EXPECT_EQ(modules.Load("no-such-module-here.dll"), kNoModule);
  const ModuleHandle kernel = modules.Load("kernel32.dll");
  ASSERT_NE(kernel, kNoModule);
  EXPECT_FALSE(modules.ResolveGetDiskInfo(kernel, "GetDiskInfo"));
  EXPECT_FALSE(modules.ResolveReadWriteSector(kernel, "ReadWriteSector"));
  modules.Unload(kernel);
}

TEST(Win32ModulePort, SwitchesTheCurrentDirectoryAndBack) {
  Win32ModulePort modules;
  std::string before;
  ASSERT_TRUE(modules.CurrentDirectory(before));
  CreateDirectoryA("module-port-dir", nullptr);
  ASSERT_TRUE(modules.ChangeDirectory("module-port-dir"));
  std::string inside;
  ASSERT_TRUE(modules.CurrentDirectory(inside));
  EXPECT_EQ(inside, before + (before.back() == '\\' ? "" : "\\") + "module-port-dir");
  EXPECT_TRUE(modules.ChangeDirectory(before));
  std::string after;
  modules.CurrentDirectory(after);
  EXPECT_EQ(after, before);
  EXPECT_FALSE(modules.ChangeDirectory("no-such-directory-here"));
  RemoveDirectoryA("module-port-dir");
}

}  // namespace
