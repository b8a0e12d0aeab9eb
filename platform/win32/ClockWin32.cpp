#include "platform/win32/ClockWin32.h"

#include <windows.h>
#include <mmsystem.h>

uint32_t Win32Clock::TimeGetTime() { return ::timeGetTime(); }

LocalDate Win32Clock::Today() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalDate{now.wYear, now.wMonth, now.wDay};
}
