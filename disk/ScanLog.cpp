#include "disk/ScanLog.h"

#include <cstdarg>

ScanLog& ScanLog::Instance() {
  static ScanLog log("Scan.log");
  return log;
}

// Binary mode: the line ends are written as the bytes CR LF on every platform.
ScanLog::ScanLog(const std::string& path) : m_file(std::fopen(path.c_str(), "wb")) {}

void ScanLog::Write(std::string_view text) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_file) return;  // e.g. a read-only directory: entries are dropped
  std::fwrite(text.data(), 1, text.size(), m_file.get());
  std::fflush(m_file.get());
  std::fwrite("\r\n", 1, 2, m_file.get());
  std::fflush(m_file.get());
}

void ScanLog::WriteF(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string text = StrFormatV(fmt, args);
  va_end(args);
  Write(text);
}
