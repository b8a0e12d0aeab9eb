// The terminal front end's outputs: the output directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/linux/OutputDir.h"

namespace {

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
