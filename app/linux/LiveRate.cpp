#include "app/linux/LiveRate.h"

#include "platform/Format.h"

LiveRate::LiveRate(uint64_t firstSector, uint64_t endSector, uint32_t windowMs)
    : m_end(endSector), m_windowMs(windowMs), m_lastPosition(firstSector) {}

void LiveRate::Sample(uint32_t tickMs, uint64_t position) {
  if (!m_points.empty()) {
    const uint32_t step = tickMs - m_points.back().tick;  // wraps with the tick
    // A tick that went back (never, from a clock that does not jump) or a
    // position that went back (never, within one run) starts afresh.
    if (step > 0x80000000u || position < m_points.back().position) {
      m_points.clear();
      m_sinceFirstMs = 0;
    } else {
      m_sinceFirstMs += step;
    }
  }
  m_points.push_back({tickMs, position});
  m_lastPosition = position;
  // Keep one point at or before the window's start, so that the pace always
  // spans the whole window once the run is that old.
  while (m_points.size() > 2 && tickMs - m_points[1].tick >= m_windowMs) m_points.pop_front();
}

std::optional<double> LiveRate::SectorsPerSecond() const {
  if (m_points.size() < 2 || m_sinceFirstMs < kFirstFigureMs) return std::nullopt;
  const Point& from = m_points.front();
  const Point& to = m_points.back();
  const uint32_t ms = to.tick - from.tick;
  if (ms == 0) return std::nullopt;
  return static_cast<double>(to.position - from.position) * 1000.0 / ms;
}

std::optional<uint64_t> LiveRate::SecondsLeft() const {
  const std::optional<double> rate = SectorsPerSecond();
  if (!rate || *rate <= 0) return std::nullopt;
  const uint64_t left = m_end > m_lastPosition ? m_end - m_lastPosition : 0;
  const double seconds = static_cast<double>(left) / *rate;
  const auto whole = static_cast<uint64_t>(seconds);
  return static_cast<double>(whole) < seconds ? whole + 1 : whole;
}

std::string RateText(double sectorsPerSecond) {
  // Cut, never rounded: 1023.9 KiB/s does not read "1024 KiB/s", nor 99.96
  // MiB/s "100.0 MiB/s".
  const double kib = sectorsPerSecond > 0 ? sectorsPerSecond / 2 : 0;
  if (kib < 1024) return StrFormat("%llu KiB/s", static_cast<unsigned long long>(kib));
  const double mib = kib / 1024;
  if (mib < 100) {
    const auto tenths = static_cast<unsigned long long>(mib * 10);
    return StrFormat("%llu.%llu MiB/s", tenths / 10, tenths % 10);
  }
  return StrFormat("%llu MiB/s", static_cast<unsigned long long>(mib));
}

std::string ClockText(uint64_t seconds) {
  return StrFormat("%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                   static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
}
