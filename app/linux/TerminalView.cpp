#include "app/linux/TerminalView.h"

#include <algorithm>

#include "platform/Format.h"

void TerminalView::SetLabel(std::string ScanLabels::*label, const std::string& text) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_labels.*label = text;
  m_dirty = true;
}

void TerminalView::ShowPercent(const std::string& text) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_labels.percent = text;
  // The worker pushes the percent only when it changes, so this list holds
  // at most about 101 entries per run.
  m_percentChanges.push_back(m_labels);
  m_dirty = true;
}

void TerminalView::AddDiskEntry(const std::string& text) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_entries.push_back(text);
}

int TerminalView::SelectDiskEntry(int index) {
  std::lock_guard<std::mutex> hold(m_lock);
  return index >= 0 && static_cast<size_t>(index) < m_entries.size() ? index : -1;
}

std::unique_ptr<CDrawPicModel> TerminalView::CreateChart() { return std::make_unique<CDrawPicModel>(); }

void TerminalView::OpenReport(const std::string&) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_runEnded = true;
  }
  m_runEnd.notify_all();
}

bool TerminalView::WaitForRunEnd(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(m_lock);
  return m_runEnd.wait_for(hold, timeout, [this] { return m_runEnded; });
}

void TerminalView::ReadFailed(uint64_t startSector) {
  std::lock_guard<std::mutex> hold(m_lock);
  m_failedReads.push_back(startSector);
}

ScanLabels TerminalView::Labels() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_labels;
}

std::vector<ScanLabels> TerminalView::TakePercentChanges() {
  std::lock_guard<std::mutex> hold(m_lock);
  std::vector<ScanLabels> changes;
  changes.swap(m_percentChanges);
  return changes;
}

std::vector<uint64_t> TerminalView::FailedReads() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_failedReads;
}

std::vector<std::string> TerminalView::DiskEntries() const {
  std::lock_guard<std::mutex> hold(m_lock);
  return m_entries;
}

namespace {
const std::string& OrDash(const std::string& text) {
  static const std::string dash = "-";
  return text.empty() ? dash : text;
}
std::string PercentText(const std::string& percent) { return percent.empty() ? "-" : percent + "%"; }
}  // namespace

std::string ProgressLine(const ScanLabels& l) {
  return PercentText(l.percent) + " " + OrDash(l.elapsed) + " " + OrDash(l.speed) + " remaining " +
         OrDash(l.remaining) + " bad " + OrDash(l.bad);
}

std::string StatusLine(const ScanLabels& l) {
  return "progress " + PercentText(l.percent) + "  time " + OrDash(l.elapsed) + "  speed " + OrDash(l.speed) +
         "  remaining " + OrDash(l.remaining) + "  bad blocks " + OrDash(l.bad);
}

std::string MapText(const CDrawPicModel* model) {
  constexpr int kColumns = CDrawPicModel::kColumns;
  constexpr int kRows = CDrawPicModel::kRows;
  std::vector<Rgb> cells(CDrawPicModel::kCellCount, kUnscannedCell);
  if (model != nullptr) {
    // Cell i is curve i, as the chart control lays them out; a curve not yet
    // shown or without points leaves its cell as it was.
    const std::vector<CDrawPicCurveState> curves = model->SnapshotCurves();
    const size_t count = std::min(curves.size(), cells.size());
    for (size_t i = 0; i < count; ++i) {
      if (curves[i].shown != 0 && curves[i].pointCount > 0) cells[i] = RgbFromColorRef(curves[i].color);
    }
  }

  std::string text;
  text.reserve(static_cast<size_t>(kRows / 2) * (kColumns * 8 + 16));
  for (int row = 0; row + 1 < kRows; row += 2) {
    // Colours are sent only where they change: a full map is otherwise some
    // 50 KB per frame.
    bool first = true;
    Rgb fg{}, bg{};
    for (int col = 0; col < kColumns; ++col) {
      const Rgb top = cells[static_cast<size_t>(row * kColumns + col)];
      const Rgb bottom = cells[static_cast<size_t>((row + 1) * kColumns + col)];
      if (first || !(top == fg)) text += StrFormat("\x1b[38;2;%d;%d;%dm", top.r, top.g, top.b);
      if (first || !(bottom == bg)) text += StrFormat("\x1b[48;2;%d;%d;%dm", bottom.r, bottom.g, bottom.b);
      fg = top;
      bg = bottom;
      first = false;
      text += "\xE2\x96\x80";  // U+2580 UPPER HALF BLOCK
    }
    text += "\x1b[0m\n";
  }
  return text;
}

TerminalPainter::TerminalPainter(std::FILE* out, bool terminal, int rows, int columns)
    : m_out(out), m_terminal(terminal) {
  if (!terminal) return;
  if (rows > 0 && (rows < kFrameLines + 2 || columns < CDrawPicModel::kColumns)) m_withMap = false;
  std::fputs("\x1b[?25l", m_out);  // no blinking cursor over the map
}

void TerminalPainter::Update(TerminalView& view, const CDrawPicModel* chart, bool stopping, bool force) {
  if (!m_terminal) {
    for (const ScanLabels& labels : view.TakePercentChanges())
      std::fprintf(m_out, "%s\n", ProgressLine(labels).c_str());
    std::fflush(m_out);
    return;
  }
  const bool dirty = view.TakeDirty();
  if (!dirty && !force && stopping == m_stoppingShown) return;
  m_stoppingShown = stopping;
  std::string frame;
  if (m_withMap && m_drawn) frame += StrFormat("\x1b[%dA", kFrameLines);
  frame += "\r" + StatusLine(view.Labels());
  if (stopping) frame += "  (stopping after the current read)";
  frame += "\x1b[K";
  if (m_withMap) frame += "\n" + MapText(chart);
  std::fwrite(frame.data(), 1, frame.size(), m_out);
  std::fflush(m_out);
  m_drawn = true;
}

void TerminalPainter::Finish() {
  if (!m_terminal || m_finished) return;
  m_finished = true;
  std::fputs(m_withMap ? "\r\x1b[K\x1b[?25h" : "\n\x1b[?25h", m_out);
  std::fflush(m_out);
}
