// The scan run: reads the selected disk from sector 0 to its end, 128
// sectors a pass, and turns the outcome into map cells and live labels.
#include <cstring>
#include <memory>
#include <new>

#include "app/CScan.h"
#include "platform/Format.h"

namespace {
constexpr uint16_t kBlockSectors = 128;
constexpr size_t kBlockBytes = kBlockSectors * kSectorSize;  // 64 KB
constexpr uint32_t kCells = 2484;
// Unbuffered device reads need a sector-aligned buffer; a page keeps every
// device's logical block size satisfied.
constexpr std::align_val_t kBufferAlignment{4096};

struct AlignedFree {
  void operator()(unsigned char* p) const { ::operator delete[](p, kBufferAlignment); }
};
using BlockBuffer = std::unique_ptr<unsigned char[], AlignedFree>;

BlockBuffer NewBlockBuffer() {
  BlockBuffer buffer(static_cast<unsigned char*>(::operator new[](kBlockBytes, kBufferAlignment)));
  std::memset(buffer.get(), 0, kBlockBytes);
  return buffer;
}

// What the remaining-time label shows. Below 1 MB/s the speed reads 0 and no
// estimate can be made; past the estimate (the last cells of a run) there is
// no time left to show.
std::string RemainingText(uint32_t diskMb, uint32_t speed, uint32_t elapsed) {
  if (speed == 0) return "--:--:--";
  const int64_t remaining = static_cast<int64_t>(diskMb / speed) - elapsed - 2;
  return DurationText(remaining > 0 ? static_cast<uint32_t>(remaining) : 0);
}
}  // namespace

uint32_t CScan::SelectedTotalSectors() const {
  const DiskRecord* record = DiskRecordOfSlot(m_nSelDisk);
  return record ? record->totalSectors : 0;
}

void CScan::PushPercent(const std::string& text) {
  m_strPercent = text;
  if (text == m_strPercentShown) return;  // the field already shows it
  m_strPercentShown = text;
  m_view.SetControlText(IDC_PERCENT, text);
}

void CScan::PaintCell(uint32_t color) {
  const int32_t c = m_nCell;
  const std::string name = StrFormat("TestOneCurve%d", c);
  CDrawPicModel* chart = m_pChart.get();
  if (chart == nullptr) return;
  const int32_t index = chart->AddCurve(name, color);
  if (index < 0) return;  // beyond the map's last cell: the run goes on without it
  chart->SetShown(index, 1);
  for (int j = 0; j <= 6; ++j)
    chart->AddPoint(name, static_cast<float>(j) * static_cast<float>(c), static_cast<float>(c));
  m_view.InvalidateChart();
}

uint32_t CScan::ScanDisk() {
  BlockBuffer buffer = NewBlockBuffer();
  const uint32_t total = SelectedTotalSectors();
  m_nCell = 0;
  uint32_t cell = total / kCells;
  uint32_t boundary = cell;
  const uint32_t diskMb = total >> 11;
  g_nBadCount = 0;
  m_strPercentShown.clear();

  // 64-bit so that the last block of a disk near 2^32 sectors cannot wrap
  // the offset back to 0 and start the disk over.
  for (uint64_t next = 0; next < total; next += kBlockSectors) {
    const auto off = static_cast<uint32_t>(next);
    g_nScanPos = off;
    const uint32_t elapsed = (m_clock.TimeGetTime() - g_dwStartTick) / 1000;
    const uint32_t divisor = elapsed + 1;
    if (m_bStop) break;  // the block at off is not read

    m_nLastRead = static_cast<int32_t>(m_disk.ReadSectors(off, kBlockSectors, buffer.get()));
    PushPercent(StrFormat("%u", static_cast<unsigned>(uint64_t{off} * 100 / total)));

    if (m_nLastRead == 0) {
      m_view.ReadFailed(off);
      ++g_nBadCount;
      m_view.SetControlText(IDC_BAD_COUNT, StrFormat("%u", static_cast<unsigned>(g_nBadCount.load())));
      PaintCell(kBadCellColor);
      ++m_nCell;
      cell = SelectedTotalSectors() / kCells;
      boundary += cell;
    } else if (off - boundary < kBlockSectors) {
      g_strElapsed = DurationText(elapsed);
      m_view.SetControlText(IDC_ELAPSED, g_strElapsed);
      const uint32_t speed = (off >> 11) / divisor;
      m_view.SetControlText(IDC_SPEED, StrFormat("%d M/s", static_cast<int>(speed)));
      m_view.SetControlText(IDC_REMAINING, RemainingText(diskMb, speed, elapsed));
      PaintCell(kGoodCellColor);
      ++m_nCell;
      cell = SelectedTotalSectors() / kCells;
      boundary += cell;
    }
  }
  EndOfRun();
  return 0;
}

void CScan::EndOfRun() {
  m_bReportWritten = WriteReport(g_nBadCount == 0);
  m_strPercentShown.clear();  // "100" is always pushed, also after a stop
  PushPercent("100");
  m_view.EnableControl(IDC_START, true);
  m_view.ShowControl(IDC_STOP, false);
  m_view.ShowControl(IDC_START, true);
  m_view.ShellOpen(kReportFile);
}
