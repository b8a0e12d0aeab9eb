#include "scan/Clock.h"

#include <chrono>
#include <ctime>

uint32_t SystemClock::TimeGetTime() {
  // Milliseconds of a monotonic clock, wrapping at 2^32 like timeGetTime.
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

LocalDate SystemClock::Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}
