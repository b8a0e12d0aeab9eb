// The Windows output files: what they open, what they empty, what they lock.
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/win32/FileSystemWin32.h"

namespace {

// A folder of its own under the temporary folder, removed with its files.
class Win32OutputFiles : public testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH] = {};
    ASSERT_NE(::GetTempPathA(MAX_PATH, base), 0u);
    m_dir = std::string(base) + "morvek-files-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(m_dir.c_str(), nullptr);
  }
  void TearDown() override {
    for (const char* name : {"\\Scan.log", "\\report.txt"}) ::DeleteFileA((m_dir + name).c_str());
    ::RemoveDirectoryA((m_dir + "\\sub").c_str());
    ::RemoveDirectoryA(m_dir.c_str());
  }
  static std::string Contents(const std::string& path) {
    std::string text;
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<cannot open>";
    char buffer[256];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    ::CloseHandle(h);
    return text;
  }
  static void Put(const std::string& path, const std::string& text) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(h);
  }
  std::string m_dir;
};

TEST_F(Win32OutputFiles, AnOlderFileIsEmptiedAndWrittenAnew) {
  const std::string log = m_dir + "\\Scan.log";
  Put(log, "an older run's lines, longer than the new ones");
  Win32FileSystem files;
  std::string error;
  {
    std::unique_ptr<IOutputFile> file = files.CreateOutputFile(log, &error);
    ASSERT_NE(file, nullptr) << error;
    EXPECT_TRUE(file->Write("new\r\n"));
    // While it is open, a second run cannot have it, and says why.
    bool busy = false;
    EXPECT_EQ(files.CreateOutputFile(log, &error, &busy), nullptr);
    EXPECT_TRUE(busy);
  }
  EXPECT_EQ(Contents(log), "new\r\n");
}

TEST_F(Win32OutputFiles, ADirectoryIsNoOutput) {
  const std::string sub = m_dir + "\\sub";
  ASSERT_TRUE(::CreateDirectoryA(sub.c_str(), nullptr));
  Win32FileSystem files;
  std::string error;
  EXPECT_EQ(files.CreateOutputFile(sub, &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(files.WriteWholeFile(sub, "x", &error));
  DWORD attributes = ::GetFileAttributesA(sub.c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << "still a directory";
}

}  // namespace
