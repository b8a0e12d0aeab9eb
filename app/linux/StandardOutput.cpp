#include "app/linux/StandardOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

DataOnStandardOutput::~DataOnStandardOutput() {
  if (m_data >= 0) close(m_data);
}

bool DataOnStandardOutput::Claim(std::string* why) {
  if (m_data >= 0) return true;
  std::fflush(stdout);
  const int data = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (data < 0) {
    *why = std::string("standard output: ") + std::strerror(errno);
    return false;
  }
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    *why = std::string("standard error: ") + std::strerror(errno);
    close(data);
    return false;
  }
  m_data = data;
  // Lines the program writes to stdout now mix with those it writes to
  // stderr: each line goes out whole and in order.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return true;
}

bool DataOnStandardOutput::Write(const std::string& data, std::string* why) {
  if (m_data < 0) {
    *why = "standard output was not kept for the data";
    return false;
  }
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(m_data, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *why = std::string("standard output: ") + std::strerror(n < 0 ? errno : EIO);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}
