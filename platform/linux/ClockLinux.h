#pragma once
#include "platform/Clock.h"

// CLOCK_MONOTONIC in milliseconds and the local date.
class LinuxClock : public IClock {
 public:
  uint32_t TimeGetTime() override;
  LocalDate Today() override;
  uint64_t NowNs() override;
  int64_t UtcSeconds() override;
};
