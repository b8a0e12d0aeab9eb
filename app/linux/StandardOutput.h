#pragma once
// An output named "-" (--bad-list -) goes to standard output, which then
// carries that output alone, so that it can be piped on: everything the
// program says besides (the progress, the run's summary) goes to standard
// error.
#include <string>

class DataOnStandardOutput {
 public:
  DataOnStandardOutput() = default;
  ~DataOnStandardOutput();
  DataOnStandardOutput(const DataOnStandardOutput&) = delete;
  DataOnStandardOutput& operator=(const DataOnStandardOutput&) = delete;

  // Keeps standard output aside for the data and sends what the program
  // prints to standard output (descriptor 1, stdout) to standard error from
  // now on. False, with the reason in *why, when the descriptors cannot be
  // arranged; nothing is changed then.
  bool Claim(std::string* why);
  bool Claimed() const { return m_data >= 0; }
  // Writes DATA, whole, to the standard output kept aside.
  bool Write(const std::string& data, std::string* why);

 private:
  int m_data = -1;
};
