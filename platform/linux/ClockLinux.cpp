#include "platform/linux/ClockLinux.h"

#include <time.h>

uint32_t LinuxClock::TimeGetTime() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Wraps at 2^32 like timeGetTime; the run subtracts in 32 bits.
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000);
}

LocalDate LinuxClock::Today() {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

uint64_t LinuxClock::NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000 + static_cast<uint64_t>(now.tv_nsec);
}

int64_t LinuxClock::UtcSeconds() { return static_cast<int64_t>(time(nullptr)); }
