#pragma once
// What the process's "Scan.log" gained since the capture began. Tests run in
// a scratch directory, where the log is created on first use.
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk/ScanLog.h"

class LogCapture {
 public:
  LogCapture() {
    ScanLog::Instance();  // make sure the file exists before measuring it
    m_start = Read().size();
  }
  // The raw bytes written since the capture began.
  std::string Text() const { return Read().substr(m_start); }
  // The lines written since, without their CR LF.
  std::vector<std::string> Lines() const {
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
  bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

 private:
  static std::string Read() {
    std::ifstream in("Scan.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t m_start = 0;
};
