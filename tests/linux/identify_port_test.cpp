// The real Linux identify port where it runs without hardware: plain files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fakes/FakeIdentifyPorts.h"
#include "identify/CDriveIdentifier.h"
#include "identify/linux/IdentifyLinux.h"

namespace {
std::array<std::string, 4> Entries(std::string a, std::string b, std::string c, std::string d) { return {a, b, c, d}; }
}  // namespace

namespace {
// The access mode a descriptor of this process holds on `path`, or -1.
int OpenAccessMode(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(fd.path(), ec) != fs::absolute(path)) continue;
    std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
    std::string key, value;
    while (info >> key >> value)
      if (key == "flags:") return static_cast<int>(std::stoul(value, nullptr, 8) & 3);
  }
  return -1;
}
}  // namespace

TEST(IdentifyLinuxPort, PlainFilesOpenReadOnlyAndIdentifyNothing) {
  namespace fs = std::filesystem;
  const fs::path file = fs::absolute("identify-plain-drive.bin");
  std::ofstream(file) << std::string(4096, 'A');
  auto port = MakeLinuxIdentifyPort({file.string(), "/nonexistent/identify-drive"});
  {
    auto drive = port->OpenDrive(0);
    ASSERT_TRUE(drive);
    EXPECT_EQ(OpenAccessMode(file), 0);  // O_RDONLY
    EXPECT_EQ(drive->QueryIdeDeviceMap(), 0x01);
    IdentifyBlock block;
    block.fill(0x55);
    IdentifyRequest request;
    request.irDriveRegs.bCommandReg = 0xEC;
    EXPECT_FALSE(drive->Identify(request, block));
  }
  EXPECT_EQ(OpenAccessMode(file), -1);  // closed with the drive
  EXPECT_FALSE(port->OpenDrive(1));
  EXPECT_FALSE(port->OpenDrive(2));
  EXPECT_FALSE(port->OpenDrive(-1));

  FakeIdentifySystem system(kVerPlatformNt);
  CDriveIdentifier id(system, port.get(), nullptr);
  EXPECT_EQ(id.strModol, Entries("", "", "", ""));
  EXPECT_EQ(fs::file_size(file), 4096u);
  fs::remove(file);
}
