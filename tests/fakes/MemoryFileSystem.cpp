#include "fakes/MemoryFileSystem.h"

class MemoryFileSystem::Output : public IOutputFile {
 public:
  Output(MemoryFileSystem& files, std::string path) : m_files(files), m_path(std::move(path)) {}
  bool Write(std::string_view bytes) override {
    m_files.Append(m_path, bytes);
    return true;
  }

 private:
  MemoryFileSystem& m_files;
  std::string m_path;
};

std::unique_ptr<IOutputFile> MemoryFileSystem::CreateOutputFile(const std::string& path, std::string* error,
                                                                bool* busy) {
  std::lock_guard<std::mutex> hold(m_lock);
  if (busy != nullptr) *busy = false;
  const auto refused = m_refused.find(path);
  if (refused != m_refused.end()) {
    if (error) *error = refused->second;
    return nullptr;
  }
  m_files[path].clear();
  m_writes.push_back(path);
  return std::make_unique<Output>(*this, path);
}

bool MemoryFileSystem::WriteWholeFile(const std::string& path, std::string_view bytes, std::string* error) {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto refused = m_refused.find(path);
  if (refused != m_refused.end()) {
    if (error) *error = refused->second;
    return false;
  }
  m_files[path] = std::string(bytes);
  m_writes.push_back(path);
  return true;
}

void MemoryFileSystem::Append(const std::string& path, std::string_view bytes) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_files[path].append(bytes);
}

std::string MemoryFileSystem::Text(const std::string& path) const {
  std::lock_guard<std::mutex> hold(m_lock);
  const auto it = m_files.find(path);
  return it == m_files.end() ? std::string() : it->second;
}

bool MemoryFileSystem::Exists(const std::string& path) const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_files.count(path) != 0;
}

std::vector<std::string> MemoryFileSystem::Writes() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_writes;
}

void MemoryFileSystem::Refuse(const std::string& path, const std::string& why) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_refused[path] = why;
}

std::string LogCapture::Text() const { return m_files.Text(m_path).substr(m_start); }

std::vector<std::string> LogCapture::Lines() const {
  std::vector<std::string> out;
  const std::string t = Text();
  size_t at = 0;
  while (at < t.size()) {
    size_t end = t.find("\r\n", at);
    if (end == std::string::npos) end = t.size();
    out.push_back(t.substr(at, end - at));
    at = end + 2;
  }
  return out;
}
