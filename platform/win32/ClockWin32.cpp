#include "platform/win32/ClockWin32.h"

#include <windows.h>
#include <mmsystem.h>

uint32_t Win32Clock::TimeGetTime() { return ::timeGetTime(); }

LocalDate Win32Clock::Today() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalDate{now.wYear, now.wMonth, now.wDay};
}

uint64_t Win32Clock::NowNs() {
  LARGE_INTEGER frequency{}, now{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  // Whole seconds and the rest apart: the product would overflow in days.
  const uint64_t f = static_cast<uint64_t>(frequency.QuadPart);
  const uint64_t n = static_cast<uint64_t>(now.QuadPart);
  return n / f * 1000000000 + n % f * 1000000000 / f;
}

int64_t Win32Clock::UtcSeconds() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000) - 11644473600;  // 100 ns since 1601
}
