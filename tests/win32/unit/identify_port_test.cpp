// The real Win32 identify ports where they run without hardware.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "identify/IdentifyTypes.h"
#include "identify/win32/IdentifyWin32.h"

TEST(IdentifyWin32Port, PlainFileHasNoSmartAndDriverIsMissing) {
  namespace fs = std::filesystem;
  std::ofstream("identify-win-drive0") << std::string(4096, 'A');
  auto port = MakeWin32IdentifyNtPort("identify-win-drive");
  {
    auto drive = port->OpenDrive(0);
    ASSERT_TRUE(drive);
    EXPECT_EQ(drive->QueryIdeDeviceMap(), 0);  // the failed query leaves the zeroed map
  }
  EXPECT_FALSE(port->OpenDrive(1));
  fs::remove("identify-win-drive0");

  IdeQueryRecord record;
  record.fill(0x5A);
  EXPECT_FALSE(MakeWin32Identify9xPort()->ReadIdeQueryRecord(record));
  EXPECT_EQ(record[0], 0x5A);
}
