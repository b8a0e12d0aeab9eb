#include "platform/ScanLog.h"

#include <cstdarg>

ScanLog::ScanLog(IFileSystem& files, std::string path, bool held)
    : m_files(files), m_path(std::move(path)), m_held(held) {}

void ScanLog::Write(std::string_view text) {
  std::string entry;
  entry.reserve(text.size() + 2);
  entry.append(text);
  entry.append("\r\n");
  std::lock_guard<std::mutex> hold(m_lock);
  WriteLocked(entry);
}

void ScanLog::WriteLocked(std::string_view entry) {
  if (m_held) {
    m_pending.append(entry);
    return;
  }
  if (!m_opened) {
    m_opened = true;
    m_file = m_files.CreateOutputFile(m_path, &m_problem);
  }
  // A directory that cannot be written (or a refused path): entries are
  // dropped and the program runs on.
  if (m_file) m_file->Write(entry);
}

void ScanLog::WriteF(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string text = StrFormatV(fmt, args);
  va_end(args);
  Write(text);
}

void ScanLog::Release() {
  std::lock_guard<std::mutex> hold(m_lock);
  if (!m_held) return;
  m_held = false;
  if (m_pending.empty()) return;
  std::string pending;
  pending.swap(m_pending);
  WriteLocked(pending);
}

bool ScanLog::OpenLocked(bool* busy) {
  std::lock_guard<std::mutex> hold(m_lock);
  *busy = false;
  if (!m_opened) {
    m_file = m_files.CreateOutputFile(m_path, &m_problem, busy);
    // A log another run holds is left to it: not marked as tried, so that
    // nothing of this process ever writes it.
    if (*busy) return false;
    m_opened = true;
  }
  m_held = false;
  if (!m_pending.empty() && m_file) m_file->Write(m_pending);
  m_pending.clear();
  return m_file != nullptr;
}

std::string ScanLog::Problem() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_problem;
}
