// The terminal front end's outputs: the disk list's line and the output
// directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/linux/ListDisks.h"
#include "app/linux/OutputDir.h"

namespace {

// ---------------------------------------------------------------- disk list
TEST(TerminalDiskList, SizesReadAsDiskLabelsInDecimalUnitsNeverRoundedUp) {
  EXPECT_EQ(DecimalSizeText(0), "0 B");
  EXPECT_EQ(DecimalSizeText(999), "999 B");
  EXPECT_EQ(DecimalSizeText(1000), "1.0 kB");
  EXPECT_EQ(DecimalSizeText(512000000), "512 MB");
  EXPECT_EQ(DecimalSizeText(1073741824), "1.0 GB");       // 1 GiB
  EXPECT_EQ(DecimalSizeText(40015987200), "40.0 GB");     // 78,156,225 sectors
  EXPECT_EQ(DecimalSizeText(500107862016), "500 GB");     // a "500 GB" drive
  EXPECT_EQ(DecimalSizeText(1999999999999), "1.9 TB");    // not "2.0 TB"
  EXPECT_EQ(DecimalSizeText(3298534883328), "3.2 TB");    // 3 TiB
  EXPECT_EQ(DecimalSizeText(16000000000000), "16.0 TB");  // a "16 TB" drive
  EXPECT_EQ(DecimalSizeText(999999999999999), "999 TB");
  EXPECT_EQ(DecimalSizeText(UINT64_MAX), "18.4 EB");
}

TEST(TerminalDiskList, TheWindowsThreeFieldsStayFirstThenTheNewOnes) {
  DiskListEntry disk;
  disk.entry = "Disk 1: WDC WD5000AAKX-001CA0";
  disk.diskSize = "465 G";
  disk.cellSize = "190 M";
  disk.device = "/dev/sdb";
  disk.bytes = 500107862016;
  disk.serial = "WD-WCAYUJ123456";
  EXPECT_EQ(DiskListLine(disk),
            "Disk 1: WDC WD5000AAKX-001CA0\t465 G\t190 M\t/dev/sdb\t500107862016\t500 GB\tWD-WCAYUJ123456");
  // No serial: the field is there, empty, so that every line has seven.
  disk.serial.clear();
  disk.device = "/tmp/a\tb\nc.img";  // a file name may hold anything
  const std::string line = DiskListLine(disk);
  EXPECT_EQ(line, "Disk 1: WDC WD5000AAKX-001CA0\t465 G\t190 M\t/tmp/a?b?c.img\t500107862016\t500 GB\t");
}

// ---------------------------------------------------------------- output directory
TEST(TerminalOutputDir, NamesGoIntoTheDirectoryTheCurrentOneByDefault) {
  EXPECT_EQ(InOutputDir("", "kestrune.log"), "kestrune.log");
  EXPECT_EQ(InOutputDir("out", "Scan.log"), "out/Scan.log");
  EXPECT_EQ(InOutputDir("/var/tmp/", "Scan.log"), "/var/tmp/Scan.log");
  EXPECT_EQ(InOutputDir("/", "kestrune.log"), "/kestrune.log");
}

TEST(TerminalOutputDir, OnlyAnExistingDirectoryThatTakesFilesWillDo) {
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / ("morvek-outdir-" + std::to_string(getpid()));
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base / "good");
  std::ofstream(base / "file") << "x";
  EXPECT_EQ(OutputDirProblem(""), "");
  EXPECT_EQ(OutputDirProblem((base / "good").string()), "");
  EXPECT_EQ(OutputDirProblem((base / "missing").string()), "No such file or directory");
  EXPECT_EQ(OutputDirProblem((base / "file").string()), "not a directory");
  if (geteuid() != 0) {  // root may write anywhere
    std::filesystem::create_directories(base / "locked");
    chmod((base / "locked").c_str(), 0555);
    EXPECT_EQ(OutputDirProblem((base / "locked").string()), "Permission denied");
  }
  std::filesystem::remove_all(base);
}

}  // namespace
