// The program's own files on a real Linux file system: the log, whole-file
// replacement, and outputs that must never go through a link or onto
// anything but a regular file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ScanLog.h"
#include "platform/linux/FileSystemLinux.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class LinuxFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("morvek-files-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string Path(const std::string& name) const { return (m_dir / name).string(); }
  // Names in the directory other than the ones given.
  std::vector<std::string> Others(std::initializer_list<std::string> known) const {
    std::vector<std::string> others;
    for (const auto& e : fs::directory_iterator(m_dir)) {
      const std::string name = e.path().filename().string();
      if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
    }
    return others;
  }

  fs::path m_dir;
  LinuxFileSystem files;
};

TEST_F(LinuxFilesTest, TheLogEndsEveryEntryInOneCrLfAndEmptiesAnOldFileAtTheFirstEntry) {
  WriteFile(Path("old.log"), "left over from an earlier run\n");
  {
    ScanLog log(files, Path("old.log"));
    EXPECT_EQ(ReadFile(Path("old.log")), "left over from an earlier run\n");  // nothing written yet
    log.Write("first");
    // Each entry reaches the file at once, not when the log goes.
    EXPECT_EQ(ReadFile(Path("old.log")), "first\r\n");
    log.WriteF("cyln=%d, head=%d, sector=%d\r\n", 62, 255, 63);
    log.Write("");
  }
  EXPECT_EQ(ReadFile(Path("old.log")), "first\r\ncyln=62, head=255, sector=63\r\n\r\n\r\n");
}

TEST_F(LinuxFilesTest, ALogInAMissingDirectoryDropsEntriesAndTellsWhy) {
  ScanLog log(files, Path("missing/Scan.log"));
  log.Write("nowhere to go");
  EXPECT_FALSE(fs::exists(Path("missing")));
  EXPECT_NE(log.Problem().find("No such file"), std::string::npos) << log.Problem();
}

TEST_F(LinuxFilesTest, OutputsNeverGoThroughALinkOrOntoANonRegularFile) {
  WriteFile(Path("victim"), "a disk's first sector");
  fs::create_symlink(Path("victim"), Path("kestrune.log"));
  fs::create_symlink(Path("victim"), Path("Scan.log"));
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  fs::create_directory(Path("dir"));

  std::string why;
  EXPECT_FALSE(files.WriteWholeFile(Path("kestrune.log"), "report", &why));
  EXPECT_EQ(why, "it is a symbolic link");
  EXPECT_EQ(files.CreateOutputFile(Path("Scan.log"), &why), nullptr);
  EXPECT_EQ(why, "it is a symbolic link");
  // A FIFO must not hang the open, a directory not be written into.
  EXPECT_EQ(files.CreateOutputFile(Path("fifo"), &why), nullptr);
  EXPECT_FALSE(files.WriteWholeFile(Path("fifo"), "x", &why));
  EXPECT_FALSE(files.WriteWholeFile(Path("dir"), "x", &why));

  EXPECT_EQ(ReadFile(Path("victim")), "a disk's first sector");
  EXPECT_TRUE(fs::is_symlink(Path("kestrune.log")));
  EXPECT_EQ(Others({"victim", "kestrune.log", "Scan.log", "fifo", "dir"}), std::vector<std::string>{});
}

TEST_F(LinuxFilesTest, OneRunPerLogAnotherRunFindsItLockedAndLeavesItAlone) {
  ScanLog first(files, Path("Scan.log"), /*held=*/true);
  first.Write("first run");
  bool busy = true;
  ASSERT_TRUE(first.OpenLocked(&busy));
  EXPECT_FALSE(busy);
  EXPECT_EQ(ReadFile(Path("Scan.log")), "first run\r\n");

  ScanLog second(files, Path("Scan.log"), /*held=*/true);
  second.Write("second run");
  EXPECT_FALSE(second.OpenLocked(&busy));
  EXPECT_TRUE(busy);
  second.Write("still held");
  first.Write("goes on");
  EXPECT_EQ(ReadFile(Path("Scan.log")), "first run\r\ngoes on\r\n");  // not emptied, nothing mixed in
}

TEST_F(LinuxFilesTest, AWholeFileReplacesTheOldOneOnlyOnceComplete) {
  WriteFile(Path("list.txt"), "old contents that are longer\n");
  std::string why;
  ASSERT_TRUE(files.WriteWholeFile(Path("list.txt"), "4294967168\n", &why)) << why;
  EXPECT_EQ(ReadFile(Path("list.txt")), "4294967168\n");
  // No temporary is left beside it, and a new file gets ordinary permissions.
  EXPECT_EQ(Others({"list.txt"}), std::vector<std::string>{});
  struct stat st {};
  ASSERT_EQ(::stat(Path("list.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));

  // A directory that cannot take the temporary leaves the old file alone.
  ASSERT_EQ(::chmod(m_dir.c_str(), 0500), 0);
  const bool root = ::geteuid() == 0;  // root writes anyway
  if (!root) {
    EXPECT_FALSE(files.WriteWholeFile(Path("list.txt"), "new", &why));
    EXPECT_NE(why.find("Permission denied"), std::string::npos) << why;
    EXPECT_EQ(ReadFile(Path("list.txt")), "4294967168\n");
  }
  ::chmod(m_dir.c_str(), 0700);
}

TEST_F(LinuxFilesTest, AnOutputFileEmptiesARegularFileAndWritesAtOnce) {
  WriteFile(Path("Scan.log"), "older and longer text");
  std::string why;
  auto out = files.CreateOutputFile(Path("Scan.log"), &why);
  ASSERT_NE(out, nullptr) << why;
  EXPECT_EQ(ReadFile(Path("Scan.log")), "");
  EXPECT_TRUE(out->Write("line\r\n"));
  EXPECT_EQ(ReadFile(Path("Scan.log")), "line\r\n");
}

}  // namespace
