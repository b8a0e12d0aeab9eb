#pragma once
// The scan's pace as it is now: the throughput over the last few seconds
// and the time left at that pace. The window's own speed label is the
// average over the whole run in whole seconds, first shown when the first
// cell is done (on a slow disk, minutes in); these figures are there from
// the first second and follow changes of pace within seconds.
//
// Fed with the run's position at the painter's pace (some ten times a
// second) and the millisecond tick of a clock that never jumps.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

class LiveRate {
 public:
  // A run reading from `firstSector` up to `endSector`; the pace is taken
  // over the last `windowMs` milliseconds.
  LiveRate(uint64_t firstSector, uint64_t endSector, uint32_t windowMs = kWindowMs);

  // The run had read up to `position` (a sector) at `tickMs`. The tick may
  // wrap at 2^32.
  void Sample(uint32_t tickMs, uint64_t position);

  // Sectors per second over the window; none until a second has passed
  // since the first sample.
  std::optional<double> SectorsPerSecond() const;
  // Whole seconds left at that pace (rounded up); none without a pace or
  // while nothing moves.
  std::optional<uint64_t> SecondsLeft() const;

  static constexpr uint32_t kWindowMs = 5000;
  static constexpr uint32_t kFirstFigureMs = 1000;

 private:
  struct Point {
    uint32_t tick;
    uint64_t position;
  };
  uint64_t m_end;
  uint32_t m_windowMs;
  uint64_t m_lastPosition;
  std::deque<Point> m_points;  // oldest first; the first is at or before the window's start
  uint32_t m_sinceFirstMs = 0;
};

// "92.3 MiB/s" (one decimal below 100), "1234 MiB/s", below 1 MiB/s
// "512 KiB/s": the unit of the window's "M/s" label.
std::string RateText(double sectorsPerSecond);

// "0:06:12", "12:00:05": hours, minutes and seconds, the last two always of
// two digits.
std::string ClockText(uint64_t seconds);
