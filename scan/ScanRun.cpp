#include "scan/ScanRun.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Format.h"

namespace {
// The scan's block is the disk object's largest transfer, the one it tells
// the disk to read ahead in: were they to differ, no read would be ready.
constexpr uint16_t kBlockSectors = kMaxTransferSectors;
static_assert(kBlockSectors == 128, "the map, the report and the lists count 64 KB blocks");
constexpr size_t kBlockBytes = kBlockSectors * kSectorSize;  // 64 KB
constexpr uint32_t kCells = 2484;
// Consecutive failed reads after which the run checks that the disk still
// answers at all: a long bad stretch is 64 failures of a disk that still
// reads elsewhere, a vanished disk fails every read in microseconds.
constexpr uint32_t kFailuresBeforeCheck = 64;
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
std::string RemainingText(uint64_t diskMb, uint64_t speed, uint32_t elapsed) {
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

void ScanRun::PushPercent(uint64_t percent) {
  // Called for every block, but the value changes a hundred times a run:
  // only a change is formatted, shared and shown.
  if (percent == m_percentShown) return;
  m_percentShown = percent;
  const std::string text = StrFormat("%llu", static_cast<unsigned long long>(percent));
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_strPercent = text;
  }
  m_display.ShowPercent(text);
}

void ScanRun::PaintCell(uint32_t color) {
  if (m_cells.size() < kCells) m_cells += color == kBadCellColor ? kCellBad : kCellGood;
  CDrawPicModel* chart = m_setup->chart;
  if (chart == nullptr) return;
  // Beyond the map's last cell there is no room: the run goes on without it.
  if (!chart->PaintCell(m_nCell, color)) return;
  m_display.InvalidateMap();
}

void ScanRun::PaintCellsBefore(const std::string& cells) {
  m_cells = cells.substr(0, kCells);
  CDrawPicModel* chart = m_setup->chart;
  if (chart == nullptr || m_cells.empty()) return;
  for (size_t i = 0; i < m_cells.size(); ++i) {
    const auto cell = static_cast<int32_t>(i);
    // The map draws its curves in order, curve i in cell i: a cell before
    // the range keeps its place with a curve that is never shown.
    if (m_cells[i] == kCellUnscanned) {
      const int32_t index = chart->AddCurve(StrFormat("Unscanned%d", cell), kGoodCellColor);
      chart->SetShown(index, 0);
    } else {
      chart->PaintCell(cell, m_cells[i] == kCellBad ? kBadCellColor : kGoodCellColor);
    }
  }
  m_display.InvalidateMap();
}

void ScanRun::BadBlock(uint64_t sector) {
  m_display.ReadFailed(sector);
  ++m_nBadCount;
  m_display.ShowBadCount(StrFormat("%u", static_cast<unsigned>(m_nBadCount.load())));
  PaintCell(kBadCellColor);
  ++m_nCell;
  m_boundary += m_cellSectors;
}

void ScanRun::Consumed(uint64_t sector, uint16_t count, bool ok) {
  // When the block's outcome was known: the disk tells where it can (read
  // ahead, that is before the block is taken here), else it is now.
  const uint64_t ready = m_setup->disk.LastReadReadyNs();
  const uint64_t now = ready != 0 ? ready : m_clock.NowNs();
  const uint64_t ns = now > m_lastReadyNs ? now - m_lastReadyNs : 0;
  m_lastReadyNs = now;
  m_nextSector = sector + count;
  if (m_setup->readings != nullptr) m_setup->readings->Block(sector, count, ok, ns, m_nCell);
}

void ScanRun::ReadWell(uint64_t sector, uint16_t count) {
  m_failuresInARow = 0;
  m_haveGood = true;
  m_goodSector = sector;
  m_goodCount = count;
}

bool ScanRun::StillAnswers(uint64_t failedAt, unsigned char* buffer) {
  if (m_failuresInARow++ == 0) m_failuresFrom = failedAt;
  const bool saysGone = m_setup->disk.LastReadError() == ReadError::kGone;
  if (!saysGone && m_failuresInARow < kFailuresBeforeCheck) return true;
  // A block that read well earlier in the run; with none yet, one in the
  // middle of what the run covers.
  uint64_t sector = m_goodSector;
  uint16_t count = m_goodCount;
  if (!m_haveGood) {
    const uint64_t end = m_rangeEnd;
    sector = (m_rangeFirst + (end - m_rangeFirst) / 2) / kBlockSectors * kBlockSectors;
    count = static_cast<uint16_t>(end - sector < kBlockSectors ? end - sector : kBlockSectors);
  }
  const bool answers = count != 0 && m_setup->disk.ReadSectors(sector, count, buffer) != 0;
  // The check's own read is no block's time: the next block's starts after it.
  const uint64_t ready = m_setup->disk.LastReadReadyNs();
  m_lastReadyNs = ready != 0 ? ready : m_clock.NowNs();
  if (answers) {
    ReadWell(sector, count);  // the disk answers: a bad stretch, the run goes on
    return true;
  }
  m_gone = true;
  m_goneAt = m_failuresFrom;
  m_setup->disk.Log().WriteF("disk stopped answering at sector %llu", static_cast<unsigned long long>(m_goneAt));
  return false;
}

uint32_t ScanRun::ScanDisk() {
  BlockBuffer buffer = NewBlockBuffer();
  const uint64_t total = m_setup->totalSectors;
  const uint64_t device = m_setup->deviceSectors;
  const RunState* resume = m_setup->resume;
  m_cellSectors = total / kCells;
  m_nBadCount = 0;
  m_elapsedBeforeMs = 0;
  if (resume != nullptr) {
    m_rangeFirst = resume->firstSector;
    m_rangeEnd = std::min(resume->endSector, device);
    m_nCell = resume->cell;
    m_boundary = resume->boundary;
    m_nBadCount = resume->badCount;
    m_nScanPos = resume->scanPosition;
    m_elapsedBeforeMs = resume->elapsedMs;
    PaintCellsBefore(resume->cells);
  } else {
    m_rangeFirst = m_setup->firstSector / kBlockSectors * kBlockSectors;
    const uint64_t end = m_setup->endSector >= device
                             ? device
                             : (m_setup->endSector + kBlockSectors - 1) / kBlockSectors * kBlockSectors;
    m_rangeEnd = std::min(end, device);
    // A run that starts inside the disk takes the cell and the boundary a
    // whole run has there: cell k is painted by the first block that starts
    // at or after (k + 1) C, so the blocks before `first` painted every cell
    // whose boundary lies at or before first - 128.
    const uint64_t first = m_rangeFirst;
    const uint64_t before = first >= kBlockSectors && m_cellSectors > 0 ? (first - kBlockSectors) / m_cellSectors : 0;
    m_nCell = m_cellSectors == 0 ? (first > 0 ? 1 : 0) : static_cast<int32_t>(before < kCells ? before : kCells);
    m_boundary = m_cellSectors * (static_cast<uint64_t>(m_nCell) + 1);
    PaintCellsBefore(std::string(static_cast<size_t>(m_nCell), kCellUnscanned));
  }
  // Where this run reads: its range's whole cylinders (the map, the labels
  // and the percent follow them), then the device's tail within the range.
  const uint64_t first = resume != nullptr ? resume->nextSector : m_rangeFirst;
  const uint64_t mainStop = std::min(total, m_rangeEnd);
  const uint64_t percentSpan = mainStop > m_rangeFirst ? mainStop - m_rangeFirst : 0;
  const uint64_t rangeMb = mainStop > first ? (mainStop - first) >> 11 : 0;
  m_percentShown = kNoPercent;
  m_stopped = false;
  m_failuresInARow = 0;
  m_haveGood = false;
  m_gone = false;
  m_nextSector = first;
  m_startedUtc = m_clock.UtcSeconds();
  m_lastReadyNs = m_clock.NowNs();
  // The main loop and then the tail read one stream of blocks, each where
  // the last one ended, from `first` to the range's end: the disk is told,
  // so that the next blocks can be on their way while one is taken. Their
  // data is never looked at.
  m_setup->disk.ExpectSequentialReads(first, m_rangeEnd, StreamData::kDiscarded);

  for (uint64_t off = first; off < mainStop; off += kBlockSectors) {
    m_nScanPos = off;
    const uint32_t elapsed = (m_clock.TimeGetTime() - m_dwStartTick) / 1000;
    const uint32_t divisor = elapsed + 1;
    if (m_bStop) {  // the block at off is not read
      m_stopped = true;
      break;
    }

    m_nLastRead = static_cast<int32_t>(m_setup->disk.ReadSectors(off, kBlockSectors, buffer.get()));
    Consumed(off, kBlockSectors, m_nLastRead != 0);
    PushPercent((off - m_rangeFirst) * 100 / percentSpan);

    if (m_nLastRead == 0) {
      BadBlock(off);
      if (!StillAnswers(off, buffer.get())) {
        // Ends as a stop would: the report covers what was read before the
        // failures began.
        m_nScanPos = m_goneAt;
        m_stopped = true;
        break;
      }
      continue;
    }
    ReadWell(off, kBlockSectors);
    // A good read paints the green cell of every boundary at or before its
    // start. With cells of 128 sectors or more that is at most one; smaller
    // cells can have several boundaries within one block. With no cell size
    // (a disk of fewer than 2484 sectors) only the first block paints.
    while (m_cellSectors == 0 ? off == 0 && m_boundary == 0 && m_nCell == 0 : m_boundary <= off) {
      const std::string elapsedText = DurationText(elapsed);
      {
        std::lock_guard<std::mutex> hold(m_lock);
        m_strElapsed = elapsedText;
      }
      m_display.ShowElapsed(elapsedText);
      const uint64_t speed = ((off - first) >> 11) / divisor;
      m_display.ShowSpeed(StrFormat("%d M/s", static_cast<int>(speed)));
      m_display.ShowRemaining(RemainingText(rangeMb, speed, elapsed));
      PaintCell(kGoodCellColor);
      ++m_nCell;
      m_boundary += m_cellSectors;
    }
  }
  // Past the whole cylinders: the sectors the last block did not reach, up
  // to the device's end.
  if (!m_stopped) {
    const uint64_t mainEnd = total == 0 ? 0 : ((total - 1) / kBlockSectors + 1) * kBlockSectors;
    ReadTail(std::max(mainEnd, first), buffer.get());
  }
  // Nothing read ahead is still in flight when the report is written.
  m_setup->disk.EndSequentialReads();
  EndOfRun();
  return 0;
}

void ScanRun::ReadTail(uint64_t from, unsigned char* buffer) {
  const uint64_t end = m_rangeEnd;
  for (uint64_t off = from; off < end; off += kBlockSectors) {
    if (m_bStop) {
      m_stopped = true;
      return;
    }
    const auto count = static_cast<uint16_t>(end - off < kBlockSectors ? end - off : kBlockSectors);
    // The map, the labels and the percent keep following the whole-cylinder
    // total; a failed read here counts like any other.
    const bool ok = m_setup->disk.ReadSectors(off, count, buffer) != 0;
    Consumed(off, count, ok);
    if (ok) {
      ReadWell(off, count);
      continue;
    }
    BadBlock(off);
    if (!StillAnswers(off, buffer)) {
      m_stopped = true;
      return;
    }
  }
}

bool ScanRun::WriteReport(bool noBadSectors) {
  ReportFacts facts;
  facts.date = m_clock.Today();
  facts.diskDescription = DiskDescription(m_setup->slot, m_setup->model);
  facts.totalSectors = m_setup->totalSectors;
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
  // The report's scan time is this run's own, taken now: not the text of the
  // last cell boundary, nor one left from an earlier run (a resumed run's
  // adds the time of the runs before it).
  const uint64_t runMs = m_clock.TimeGetTime() - m_dwStartTick;
  const std::string elapsedText = DurationText(static_cast<uint32_t>((m_elapsedBeforeMs + runMs) / 1000));
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_strElapsed = elapsedText;
  }
  m_display.ShowElapsed(elapsedText);
  const bool clean = m_nBadCount == 0;
  WriteReport(clean);
  m_percentShown = kNoPercent;  // "100" is always pushed, also after a stop
  PushPercent(100);
  RunResult result;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_result.clean = clean;
    m_result.badCount = m_nBadCount;
    m_result.scanPosition = m_nScanPos;
    m_result.stopped = m_stopped;
    m_result.diskGone = m_gone;
    m_result.goneAtSector = m_goneAt;
    m_result.firstSector = m_rangeFirst;
    // A run that stopped goes on at the block the loop did not read; after
    // a whole run, at the range's end.
    m_result.nextSector = m_gone ? m_goneAt : m_stopped ? m_nextSector : m_rangeEnd;
    m_result.startedUtc = m_startedUtc;
    m_result.endedUtc = m_clock.UtcSeconds();
    m_result.elapsedMs = runMs;
    RunState& state = m_result.state;
    state.firstSector = m_rangeFirst;
    state.endSector = m_rangeEnd;
    state.nextSector = m_result.nextSector;
    state.cell = m_nCell;
    state.boundary = m_boundary;
    state.badCount = m_nBadCount;
    state.cells = m_cells;
    state.scanPosition = m_nScanPos;
    state.elapsedMs = m_elapsedBeforeMs + runMs;
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
