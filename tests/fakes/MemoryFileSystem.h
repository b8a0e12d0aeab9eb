#pragma once
// The program's own files kept in memory: the log, the report and the
// terminal's outputs as the code under test wrote them, and paths that
// refuse to be written.
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

class MemoryFileSystem : public IFileSystem {
 public:
  std::unique_ptr<IOutputFile> CreateOutputFile(const std::string& path, std::string* error,
                                                bool* busy = nullptr) override;
  bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error) override;

  // The file's bytes; empty when it does not exist.
  std::string Text(const std::string& path) const;
  bool Exists(const std::string& path) const;
  // Every write of a whole file or creation of an output, in order.
  std::vector<std::string> Writes() const;

  // Paths that cannot be written (as a read-only directory would refuse).
  void Refuse(const std::string& path, const std::string& why = "Permission denied");

 private:
  class Output;
  void Append(const std::string& path, std::string_view bytes);

  mutable std::mutex m_lock;
  std::map<std::string, std::string> m_files;
  std::map<std::string, std::string> m_refused;
  std::vector<std::string> m_writes;
};

// What a file of a MemoryFileSystem gained since the capture began.
class LogCapture {
 public:
  explicit LogCapture(const MemoryFileSystem& files, std::string path = "Scan.log")
      : m_files(files), m_path(std::move(path)), m_start(files.Text(m_path).size()) {}
  // The raw bytes written since the capture began.
  std::string Text() const;
  // The lines written since, without their CR LF.
  std::vector<std::string> Lines() const;
  bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

 private:
  const MemoryFileSystem& m_files;
  std::string m_path;
  size_t m_start;
};
