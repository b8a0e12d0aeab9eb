#include "scan/ScanRun.h"

#include <cstring>
#include <new>

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

ScanRun::ScanRun(IClock& clock, IFileSystem& files, IRunDisplay& display, std::string reportPath)
    : m_clock(clock), m_files(files), m_display(display), m_reportPath(std::move(reportPath)) {}

ScanRun::~ScanRun() { StopAndWait(); }

void ScanRun::Start(RunSetup setup) {
  // A run that was stopped may still be finishing its last read and its
  // report; it must end before the next one takes its place.
  Wait();
  m_setup = std::make_unique<RunSetup>(std::move(setup));
  m_bStop = 0;
  m_dwStartTick = m_clock.TimeGetTime();
  m_bActive = true;
  m_worker = std::thread(ScanThreadProc, this);
}

void ScanRun::Wait() {
  if (m_worker.joinable()) m_worker.join();
}

void ScanRun::StopAndWait() {
  RequestStop();
  Wait();
}

RunResult ScanRun::LastResult() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_result;
}

std::string ScanRun::ElapsedText() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_strElapsed;
}

std::string ScanRun::PercentText() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_strPercent;
}

uint32_t ScanRun::SelectedTotalSectors() const {
  const DiskRecord* record = m_setup->disk.RecordOfSlot(m_setup->selectedSlot.load());
  return record ? record->totalSectors : 0;
}

void ScanRun::PushPercent(const std::string& text) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_strPercent = text;
  }
  if (text == m_strPercentShown) return;  // the field already shows it
  m_strPercentShown = text;
  m_display.ShowPercent(text);
}

void ScanRun::PaintCell(uint32_t color) {
  CDrawPicModel* chart = m_setup->chart;
  if (chart == nullptr) return;
  // Beyond the map's last cell there is no room: the run goes on without it.
  if (!chart->PaintCell(m_nCell, color)) return;
  m_display.InvalidateMap();
}

uint32_t ScanRun::ScanDisk() {
  BlockBuffer buffer = NewBlockBuffer();
  const uint32_t total = SelectedTotalSectors();
  m_nCell = 0;
  uint32_t cell = total / kCells;
  uint32_t boundary = cell;
  const uint32_t diskMb = total >> 11;
  m_nBadCount = 0;
  m_strPercentShown.clear();
  bool stopped = false;

  // 64-bit so that the last block of a disk near 2^32 sectors cannot wrap
  // the offset back to 0 and start the disk over.
  for (uint64_t next = 0; next < total; next += kBlockSectors) {
    const auto off = static_cast<uint32_t>(next);
    m_nScanPos = off;
    const uint32_t elapsed = (m_clock.TimeGetTime() - m_dwStartTick) / 1000;
    const uint32_t divisor = elapsed + 1;
    if (m_bStop) {  // the block at off is not read
      stopped = true;
      break;
    }

    m_nLastRead = static_cast<int32_t>(m_setup->disk.ReadSectors(off, kBlockSectors, buffer.get()));
    PushPercent(StrFormat("%u", static_cast<unsigned>(uint64_t{off} * 100 / total)));

    if (m_nLastRead == 0) {
      m_display.ReadFailed(off);
      ++m_nBadCount;
      m_display.ShowBadCount(StrFormat("%u", static_cast<unsigned>(m_nBadCount.load())));
      PaintCell(kBadCellColor);
      ++m_nCell;
      cell = SelectedTotalSectors() / kCells;
      boundary += cell;
    } else if (off - boundary < kBlockSectors) {
      const std::string elapsedText = DurationText(elapsed);
      {
        std::lock_guard<std::mutex> hold(m_lock);
        m_strElapsed = elapsedText;
      }
      m_display.ShowElapsed(elapsedText);
      const uint32_t speed = (off >> 11) / divisor;
      m_display.ShowSpeed(StrFormat("%d M/s", static_cast<int>(speed)));
      m_display.ShowRemaining(RemainingText(diskMb, speed, elapsed));
      PaintCell(kGoodCellColor);
      ++m_nCell;
      cell = SelectedTotalSectors() / kCells;
      boundary += cell;
    }
  }
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_result.stopped = stopped;
  }
  EndOfRun();
  return 0;
}

bool ScanRun::WriteReport(bool noBadSectors) {
  ReportFacts facts;
  facts.date = m_clock.Today();
  const int slot = m_setup->selectedSlot.load();
  facts.diskDescription = DiskDescription(slot, m_setup->models.GetModel(slot));
  facts.totalSectors = SelectedTotalSectors();
  facts.scanPosition = m_nScanPos;
  facts.elapsed = ElapsedText();
  facts.clean = noBadSectors;
  // Replaced whole at every run. A directory that cannot be written leaves
  // no report; the run ends as usual and the front end can say so.
  std::string problem;
  const bool written = m_files.WriteWholeFile(m_reportPath, FormatReport(facts), &problem);
  std::lock_guard<std::mutex> hold(m_lock);
  m_result.reportWritten = written;
  m_result.reportProblem = written ? std::string() : problem;
  return written;
}

void ScanRun::EndOfRun() {
  const bool clean = m_nBadCount == 0;
  WriteReport(clean);
  m_strPercentShown.clear();  // "100" is always pushed, also after a stop
  PushPercent("100");
  RunResult result;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_result.clean = clean;
    m_result.badCount = m_nBadCount;
    m_result.scanPosition = m_nScanPos;
    result = m_result;
  }
  if (m_setup->onEnded) m_setup->onEnded(result);
}

int ScanThreadProc(ScanRun* run) {
  int32_t idle = 0;
  if (!run->m_nWorkerBusy.compare_exchange_strong(idle, 1)) return 0;
  run->ScanDisk();
  --run->m_nWorkerBusy;
  run->m_bActive = false;
  return 0;
}
