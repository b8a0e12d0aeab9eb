#include "platform/win32/FileSystemWin32.h"

#include <windows.h>

#include <cstdio>

namespace {

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::string ErrorText(DWORD code) {
  char text[64];
  std::snprintf(text, sizeof text, "Windows error %lu", static_cast<unsigned long>(code));
  return text;
}

// Why an existing `path` may not take an output, or "" when it may.
std::string ExistingPathProblem(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return "";
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "it is a link";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a directory";
  return "";
}

class UniqueFileHandle {
 public:
  explicit UniqueFileHandle(HANDLE h = INVALID_HANDLE_VALUE) : m_h(h) {}
  ~UniqueFileHandle() { Reset(); }
  UniqueFileHandle(const UniqueFileHandle&) = delete;
  UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
  HANDLE Get() const { return m_h; }
  bool Close() {
    const bool ok = m_h == INVALID_HANDLE_VALUE || ::CloseHandle(m_h) != FALSE;
    m_h = INVALID_HANDLE_VALUE;
    return ok;
  }
  void Reset() { Close(); }
  HANDLE Release() {
    const HANDLE h = m_h;
    m_h = INVALID_HANDLE_VALUE;
    return h;
  }

 private:
  HANDLE m_h;
};

bool WriteAll(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = bytes.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes.size());
    if (!::WriteFile(h, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

class Win32OutputFile : public IOutputFile {
 public:
  explicit Win32OutputFile(HANDLE h) : m_h(h) {}
  bool Write(std::string_view bytes) override { return WriteAll(m_h.Get(), bytes); }

 private:
  UniqueFileHandle m_h;
};

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash + 1);
}

}  // namespace

std::unique_ptr<IOutputFile> Win32FileSystem::CreateOutputFile(const std::string& path, std::string* error,
                                                               bool* busy) {
  // Opened for writing with read sharing only: while it is open no other
  // process can open it to write, which is the lock.
  if (busy != nullptr) *busy = false;
  const std::string problem = ExistingPathProblem(path);
  if (!problem.empty()) {
    SetError(error, problem);
    return nullptr;
  }
  // Opened as it is (a link not followed, nothing emptied yet), and emptied
  // only once it is known to be a plain file: a link or device planted after
  // the check above is refused with its bytes untouched.
  UniqueFileHandle h(::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (h.Get() == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (busy != nullptr) *busy = code == ERROR_SHARING_VIOLATION;
    SetError(error, code == ERROR_SHARING_VIOLATION ? "it is in use by another run" : ErrorText(code));
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(h.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    SetError(error, "it is not a regular file");
    return nullptr;
  }
  if (!::SetEndOfFile(h.Get())) {
    SetError(error, ErrorText(::GetLastError()));
    return nullptr;
  }
  return std::make_unique<Win32OutputFile>(h.Release());
}

bool Win32FileSystem::WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string problem = ExistingPathProblem(path);
  if (!problem.empty()) {
    SetError(error, problem);
    return false;
  }
  char temp[MAX_PATH] = {};
  if (::GetTempFileNameA(DirectoryOf(path).c_str(), "mvk", 0, temp) == 0) {
    SetError(error, ErrorText(::GetLastError()));
    return false;
  }
  // GetTempFileNameA made the file (uniquely); it is opened again to write.
  UniqueFileHandle file(
      ::CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  bool ok = file.Get() != INVALID_HANDLE_VALUE && WriteAll(file.Get(), bytes) && ::FlushFileBuffers(file.Get());
  if (!ok) SetError(error, ErrorText(::GetLastError()));
  ok = file.Close() && ok;
  if (ok && !::MoveFileExA(temp, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    SetError(error, ErrorText(::GetLastError()));
    ok = false;
  }
  if (!ok) ::DeleteFileA(temp);
  return ok;
}
