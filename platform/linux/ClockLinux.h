#pragma once
#include "platform/Clock.h"

// CLOCK_MONOTONIC in milliseconds and the local date.
class LinuxClock : public IClock {
 public:
  uint32_t TimeGetTime() override;
  LocalDate Today() override;
};
