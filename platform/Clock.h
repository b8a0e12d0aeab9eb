#pragma once
// Time as the scan run sees it: the millisecond tick (timeGetTime) and the
// local date for the report.
#include <cstdint>

struct LocalDate {
  int year;   // full, e.g. 2007
  int month;  // 1 to 12
  int day;    // 1 to 31
};

class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds of a clock that never jumps, wrapping at 2^32.
  virtual uint32_t TimeGetTime() = 0;
  virtual LocalDate Today() = 0;
  // Nanoseconds of the same never-jumping clock, for timing single reads.
  virtual uint64_t NowNs() = 0;
  // The wall clock: seconds since 1970-01-01 00:00 UTC.
  virtual int64_t UtcSeconds() = 0;
};
