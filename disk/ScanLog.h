#pragma once
// The diagnostic log "Scan.log". Entries come from the window thread and the
// scan worker; each one reaches the file whole and at once.
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/Format.h"

class ScanLog {
 public:
  // The process-wide log on "Scan.log" in the current directory, created (and
  // an older file emptied) on the first call.
  static ScanLog& Instance();

  // A log on any path; the product uses only Instance().
  explicit ScanLog(const std::string& path);

  // Appends the text and one CR LF. A text that already ends in CR LF is
  // therefore followed by an empty line, as the log has always looked.
  void Write(std::string_view text);

  // printf-style convenience for the fixed message formats.
  void WriteF(const char* fmt, ...) MORVEK_PRINTF(2, 3);

 private:
  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::mutex m_lock;
  std::unique_ptr<std::FILE, FileCloser> m_file;  // null where the file could not be opened
};
