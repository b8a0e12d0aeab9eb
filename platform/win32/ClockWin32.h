#pragma once
#include "platform/Clock.h"

// The multimedia millisecond tick (timeGetTime of winmm) and the local date.
class Win32Clock : public IClock {
 public:
  uint32_t TimeGetTime() override;
  LocalDate Today() override;
  uint64_t NowNs() override;
  int64_t UtcSeconds() override;
};
