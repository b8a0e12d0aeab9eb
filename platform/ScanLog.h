#pragma once
// The diagnostic log "Scan.log". Entries come from the window thread and the
// scan worker; each one reaches the file whole and at once.
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/FileSystem.h"
#include "platform/Format.h"

constexpr char kLogFile[] = "Scan.log";

class ScanLog {
 public:
  // A log on `path`. The file is made (an older one emptied) at the first
  // entry, so a run that logs nothing leaves an older log as it was. A held
  // log keeps its entries in memory until Release: a front end that may
  // still refuse its command line touches no file before it knows.
  ScanLog(IFileSystem& files, std::string path, bool held = false);
  ScanLog(const ScanLog&) = delete;
  ScanLog& operator=(const ScanLog&) = delete;

  // Appends the text and one CR LF. A text that already ends in CR LF is
  // therefore followed by an empty line, as the log has always looked.
  void Write(std::string_view text);

  // printf-style convenience for the fixed message formats.
  void WriteF(const char* fmt, ...) MORVEK_PRINTF(2, 3);

  // Writes what a held log kept and goes on writing directly.
  void Release();

  // Makes the file now, locked for this process as long as the log lives
  // (one run per log), and releases a held log into it. False, with *busy
  // set, when another process holds the log (nothing was changed); false
  // with *busy clear when the file cannot be made (entries are dropped, as
  // always: see Problem).
  bool OpenLocked(bool* busy);

  // Why the file could not be made; empty while nothing failed.
  std::string Problem() const;

 private:
  void WriteLocked(std::string_view text);

  IFileSystem& m_files;
  const std::string m_path;
  mutable std::mutex m_lock;
  bool m_held;
  bool m_opened = false;  // the file was tried (made or not)
  std::string m_pending;  // entries of a held log
  std::unique_ptr<IOutputFile> m_file;
  std::string m_problem;
};
