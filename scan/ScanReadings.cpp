#include "scan/ScanReadings.h"

#include <algorithm>

#include "platform/Format.h"

size_t LatencyClass(uint64_t ns) {
  size_t k = 0;
  while (k < kLatencyLimitsMs.size() && ns >= uint64_t{kLatencyLimitsMs[k]} * 1000000) ++k;
  return k;
}

Verdict JudgeDisk(uint64_t unreadable, uint64_t slow) {
  Verdict v;
  if (unreadable > 0) {
    v.level = Verdict::Level::kBad;
    v.text =
        StrFormat("%llu unreadable block%s", static_cast<unsigned long long>(unreadable), unreadable == 1 ? "" : "s");
  } else if (slow > 0) {
    v.level = Verdict::Level::kWatch;
    v.text = StrFormat("clean, but %llu slow block%s (200 ms or more) - watch this disk",
                       static_cast<unsigned long long>(slow), slow == 1 ? "" : "s");
  } else {
    v.text = "clean";
  }
  return v;
}

ScanReadings::ScanReadings(uint64_t firstSector, uint64_t endSector, size_t points)
    : m_first(firstSector),
      m_end(endSector > firstSector ? endSector : firstSector + 1),
      m_stretches(points ? points : 1) {}

void ScanReadings::Block(uint64_t sector, uint32_t sectors, bool ok, uint64_t ns, int32_t cell) {
  std::lock_guard<std::mutex> hold(m_lock);
  ++m_data.blocks;
  m_data.readNs += ns;
  if (cell >= 0) {
    if (static_cast<size_t>(cell) >= m_worstPerCell.size()) m_worstPerCell.resize(static_cast<size_t>(cell) + 1, 0);
    m_worstPerCell[static_cast<size_t>(cell)] = std::max(m_worstPerCell[static_cast<size_t>(cell)], ns);
  }
  const size_t at = sector <= m_first ? 0
                    : sector >= m_end
                        ? m_stretches.size() - 1
                        : static_cast<size_t>((sector - m_first) * m_stretches.size() / (m_end - m_first));
  m_stretches[at].ns += ns;
  if (!ok) {
    ++m_data.errors;
    m_data.badBlocks.push_back({sector, sectors});
    return;
  }
  const uint64_t bytes = uint64_t{sectors} * 512;
  m_data.bytesRead += bytes;
  m_stretches[at].bytes += bytes;
  const size_t k = LatencyClass(ns);
  ++m_data.counts[k];
  if (ns >= uint64_t{kSlowMs} * 1000000) ++m_data.slow;
  // The slowest, slowest first; ties keep the earlier block first.
  const SlowBlock block{sector, static_cast<double>(ns) / 1e6};
  std::vector<SlowBlock>& slowest = m_data.slowest;
  if (slowest.size() < kSlowestKept || block.ms > slowest.back().ms) {
    const auto pos = std::upper_bound(slowest.begin(), slowest.end(), block,
                                      [](const SlowBlock& a, const SlowBlock& b) { return a.ms > b.ms; });
    slowest.insert(pos, block);
    if (slowest.size() > kSlowestKept) slowest.pop_back();
  }
}

void ScanReadings::Restore(const ReadingsSnapshot& totals, const std::vector<SpeedStretch>& stretches) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_data = totals;
  m_data.speed.clear();  // made from the stretches
  if (stretches.size() == m_stretches.size()) m_stretches = stretches;
}

std::vector<SpeedStretch> ScanReadings::Stretches() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_stretches;
}

ReadingsSnapshot ScanReadings::Snapshot() const {
  std::lock_guard<std::mutex> hold(m_lock);
  ReadingsSnapshot copy = m_data;
  const uint64_t span = m_end - m_first;
  const size_t n = m_stretches.size();
  for (size_t i = 0; i < n; ++i) {
    const Stretch& s = m_stretches[i];
    if (s.ns == 0 || s.bytes == 0) continue;  // not read yet, or nothing good in it
    copy.speed.push_back(
        {m_first + span * i / n, static_cast<double>(s.bytes) / 1048576.0 / (static_cast<double>(s.ns) / 1e9)});
  }
  return copy;
}

std::vector<uint64_t> ScanReadings::WorstPerCell() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_worstPerCell;
}

std::string ScanReadings::ClassCountsLine() const {
  std::lock_guard<std::mutex> hold(m_lock);
  static const char* const kNames[kLatencyClasses] = {"<5ms", "5-20", "20-50", "50-200", "200-600", ">=600"};
  std::string line;
  for (size_t k = 0; k < kLatencyClasses; ++k)
    line += StrFormat("%s%s %llu", k ? "  " : "", kNames[k], static_cast<unsigned long long>(m_data.counts[k]));
  line += StrFormat("  err %llu", static_cast<unsigned long long>(m_data.errors));
  return line;
}
