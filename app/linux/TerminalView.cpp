#include "app/linux/TerminalView.h"

#include <algorithm>
#include <cstring>

#include "app/linux/TerminalIo.h"
#include "platform/Format.h"
#include "scan/ScanRun.h"

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

constexpr char kStoppingNote[] = "(stopping after the current read)";
constexpr char kEraseToEnd[] = "\x1b[K";

// Columns a text takes, its escape sequences left out; a character outside
// ASCII counted as `wide` columns.
int VisibleWidth(const std::string& text, int wide) {
  int width = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0x1b && i + 1 < text.size() && text[i + 1] == '[') {
      i += 2;
      while (i < text.size() && !(text[i] >= 0x40 && text[i] <= 0x7e)) ++i;
      continue;
    }
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte
    width += c < 0x80 ? 1 : wide;
  }
  return width;
}

std::string ColourEscape(bool foreground, Rgb c) {
  return StrFormat("\x1b[%d;2;%d;%d;%dm", foreground ? 38 : 48, c.r, c.g, c.b);
}

enum class CellState : uint8_t { kNotYet, kRead, kFailed, kOther, kSlow, kVerySlow };
struct MapCell {
  CellState state = CellState::kNotYet;
  Rgb rgb = kUnscannedCell;
};

// The map's cells as the chart control holds them: cell i is curve i; a
// curve not yet shown or without points leaves its cell as it was.
std::vector<MapCell> Cells(const CDrawPicModel* model, const CellReadTimes& times) {
  std::vector<MapCell> cells(CDrawPicModel::kCellCount);
  if (model == nullptr) return cells;
  const std::vector<CDrawPicCurveState> curves = model->SnapshotCurves();
  const size_t count = std::min(curves.size(), cells.size());
  for (size_t i = 0; i < count; ++i) {
    if (curves[i].shown == 0 || curves[i].pointCount <= 0) continue;
    const uint32_t color = curves[i].color;
    cells[i].rgb = RgbFromColorRef(color);
    cells[i].state = color == kGoodCellColor  ? CellState::kRead
                     : color == kBadCellColor ? CellState::kFailed
                                              : CellState::kOther;
    // A read cell whose slowest block took long: the drive needed retries.
    const uint64_t worst = i < times.size() ? times[i] : 0;
    if (cells[i].state == CellState::kRead && worst >= uint64_t{kVerySlowMs} * 1000000)
      cells[i].state = CellState::kVerySlow;
    else if (cells[i].state == CellState::kRead && worst >= uint64_t{kSlowMs} * 1000000)
      cells[i].state = CellState::kSlow;
  }
  return cells;
}

Rgb CellColour(const MapCell& cell, const CellColours& colours) {
  switch (cell.state) {
    case CellState::kNotYet:
      return kUnscannedCell;
    case CellState::kRead:
      return colours.read;
    case CellState::kFailed:
      return colours.failed;
    case CellState::kSlow:
      return colours.slow;
    case CellState::kVerySlow:
      return colours.verySlow;
    case CellState::kOther:
      break;
  }
  return cell.rgb;
}

char CellPairCharacter(const MapCell& top, const MapCell& bottom) {
  const auto read = [](const MapCell& c) {
    return c.state == CellState::kRead || c.state == CellState::kOther || c.state == CellState::kSlow ||
           c.state == CellState::kVerySlow;
  };
  const auto either = [&](CellState state) { return top.state == state || bottom.state == state; };
  if (either(CellState::kFailed)) return 'X';
  if (either(CellState::kVerySlow)) return 'S';
  if (either(CellState::kSlow)) return 's';
  if (read(top) && read(bottom)) return '#';
  if (read(top) || read(bottom)) return '+';
  return '.';
}

// One field of the status line: its text with a caption, a shorter one, and
// when it goes where the line is too long (0: never).
struct StatusField {
  std::string full;
  std::string brief;
  int dropOrder;
};

std::string JoinFields(const std::vector<StatusField>& fields, bool brief, int dropUpTo) {
  std::string line;
  for (const StatusField& f : fields) {
    if (f.dropOrder != 0 && f.dropOrder <= dropUpTo) continue;
    if (!line.empty()) line += "  ";
    line += brief ? f.brief : f.full;
  }
  return line;
}
}  // namespace

std::string ProgressLine(const ScanLabels& l) {
  return PercentText(l.percent) + " " + OrDash(l.elapsed) + " " + OrDash(l.speed) + " remaining " +
         OrDash(l.remaining) + " bad " + OrDash(l.bad);
}

std::string StatusLine(const ScanLabels& l) {
  return "progress " + PercentText(l.percent) + "  time " + OrDash(l.elapsed) + "  speed " + OrDash(l.speed) +
         "  remaining " + OrDash(l.remaining) + "  bad blocks " + OrDash(l.bad);
}

std::string FittedStatusLine(const ScanLabels& l, const LiveFigures* live, bool stopping, int width) {
  const std::string percent = PercentText(l.percent);
  std::vector<StatusField> fields = {
      {"progress " + percent, percent, 0},
      {"time " + OrDash(l.elapsed), OrDash(l.elapsed), 3},
      {"speed " + OrDash(l.speed), OrDash(l.speed), 1},
      {"remaining " + OrDash(l.remaining), "left " + OrDash(l.remaining), 2},
      {"bad blocks " + OrDash(l.bad), "bad " + OrDash(l.bad), 0},
  };
  if (live != nullptr) {
    fields.push_back({"now " + OrDash(live->rate), "now " + OrDash(live->rate), 4});
    fields.push_back({"eta " + OrDash(live->eta), "eta " + OrDash(live->eta), 5});
  }
  if (stopping) fields.push_back({kStoppingNote, "(stopping)", 0});
  const int room = width - 1;
  std::string line = JoinFields(fields, false, 0);
  if (VisibleWidth(line, 2) <= room) return line;
  for (int drop = 0; drop <= 5; ++drop) {
    line = JoinFields(fields, true, drop);
    if (VisibleWidth(line, 2) <= room) return line;
  }
  return FitToWidth(line, room);
}

std::string FitToWidth(const std::string& text, int width) {
  std::string out;
  int used = 0;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t length = 1;
    if (c >= 0xC0) length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    const int columns = c < 0x80 ? 1 : 2;
    if (used + columns > width) break;
    if (c < 0x20 || c == 0x7f || (c >= 0x80 && c < 0xC0) || i + length > text.size()) {
      out += '?';  // a control character, or a stray byte of a broken sequence
      length = 1;
    } else {
      out.append(text, i, length);
    }
    used += columns;
    i += length;
  }
  return out;
}

CellColours PaletteColours(MapPalette palette) {
  // Slow cells in yellow and purple, apart from read, failed and not yet in
  // either palette (the second one's colours keep apart for every kind of
  // colour vision).
  if (palette == MapPalette::kBlueOrange)
    return {Rgb{0, 114, 178}, Rgb{230, 159, 0}, Rgb{240, 228, 66}, Rgb{204, 121, 167}};
  return {RgbFromColorRef(kGoodCellColor), RgbFromColorRef(kBadCellColor), Rgb{250, 210, 0}, Rgb{150, 40, 200}};
}

std::vector<std::string> MapLines(const CDrawPicModel* model, MapPalette palette, const CellReadTimes& times) {
  constexpr int kColumns = CDrawPicModel::kColumns;
  constexpr int kRows = CDrawPicModel::kRows;
  const std::vector<MapCell> cells = Cells(model, times);
  const CellColours colours = PaletteColours(palette);
  std::vector<std::string> lines;
  for (int row = 0; row + 1 < kRows; row += 2) {
    std::string text;
    // Colours are sent only where they change: a full map is otherwise some
    // 50 KB per frame.
    bool first = true;
    Rgb fg{}, bg{};
    for (int col = 0; col < kColumns; ++col) {
      const MapCell& topCell = cells[static_cast<size_t>(row * kColumns + col)];
      const MapCell& bottomCell = cells[static_cast<size_t>((row + 1) * kColumns + col)];
      if (palette == MapPalette::kText) {
        text += CellPairCharacter(topCell, bottomCell);
        continue;
      }
      const Rgb top = CellColour(topCell, colours);
      const Rgb bottom = CellColour(bottomCell, colours);
      if (first || !(top == fg)) text += ColourEscape(true, top);
      if (first || !(bottom == bg)) text += ColourEscape(false, bottom);
      fg = top;
      bg = bottom;
      first = false;
      text += "\xE2\x96\x80";  // U+2580 UPPER HALF BLOCK
    }
    if (palette != MapPalette::kText) text += "\x1b[0m";
    lines.push_back(text);
  }
  return lines;
}

std::string MapText(const CDrawPicModel* model) {
  std::string text;
  for (const std::string& line : MapLines(model, MapPalette::kWindow)) text += line + "\n";
  return text;
}

std::string LegendLine(MapPalette palette, const std::string& cellSize, int width, bool withTimes) {
  std::string legend;
  if (palette == MapPalette::kText) {
    legend = withTimes ? "# read  s slow  S very slow  X failed  + partly read  . not yet"
                       : "# read  X failed  + partly read  . not yet";
  } else {
    const CellColours colours = PaletteColours(palette);
    const auto swatch = [](Rgb c) { return ColourEscape(true, c) + "\xE2\x96\x88\x1b[0m"; };  // U+2588 FULL BLOCK
    legend = swatch(colours.read) + " read  ";
    if (withTimes) legend += swatch(colours.slow) + " 200ms+  " + swatch(colours.verySlow) + " 600ms+  ";
    legend += swatch(colours.failed) + " failed  " + swatch(kUnscannedCell) + " not yet";
  }
  // The legend's blocks take one column each.
  if (VisibleWidth(legend, 1) > width - 1) return "";
  const std::string cell = "  each cell " + cellSize;
  if (!cellSize.empty() && VisibleWidth(legend + cell, 1) <= width - 1) legend += cell;
  return legend;
}

PaintMode ChoosePaintMode(bool terminal, const char* term, const char* noColor, MapPalette asked) {
  PaintMode mode;
  // Only TERM=dumb says the terminal cannot move its cursor; the few
  // movements used here are the VT100's, which every other terminal knows.
  mode.live = terminal && (term == nullptr || std::strcmp(term, "dumb") != 0);
  mode.palette = noColor != nullptr && *noColor != '\0' ? MapPalette::kText : asked;
  return mode;
}

TerminalPainter::TerminalPainter(Setup setup) : m_setup(std::move(setup)) {
  m_rows = m_setup.rows > 0 ? m_setup.rows : 24;
  m_columns = m_setup.columns > 0 ? m_setup.columns : 80;
}

void TerminalPainter::Follow(IClock& clock, std::function<uint64_t()> position, uint64_t firstSector,
                             uint64_t endSector) {
  m_clock = &clock;
  m_position = std::move(position);
  m_rate = std::make_unique<LiveRate>(firstSector, endSector);
  m_rate->Sample(m_clock->TimeGetTime(), m_position());
}

void TerminalPainter::Resize(int rows, int columns) {
  m_rows = rows > 0 ? rows : 24;
  m_columns = columns > 0 ? columns : 80;
  m_clear = true;
}

bool TerminalPainter::MapShown() const { return m_columns >= CDrawPicModel::kColumns && m_rows >= kFrameLinesWithMap; }

// The read times' line goes under the legend (or the status line) where
// the terminal has a row to spare for it.
bool TerminalPainter::ReadTimesShown() const {
  return m_readings != nullptr && m_rows >= (MapShown() ? kFrameLinesWithMap : 2) + 1;
}

int TerminalPainter::FrameLines() const {
  return (m_rows < 2 ? 1 : MapShown() ? kFrameLinesWithMap : 2) + (ReadTimesShown() ? 1 : 0);
}

std::vector<std::string> TerminalPainter::Compose(const ScanLabels& labels, const LiveFigures* live, bool stopping,
                                                  const std::vector<std::string>& map) const {
  std::vector<std::string> lines;
  const int room = m_columns - 1;
  const bool titleRow = m_rows >= 2;
  if (titleRow) {
    std::string title = FitToWidth(m_setup.title, room);
    if (stopping) {
      // The stop was asked for and the run has not ended yet: that matters
      // more than the title.
      const std::string both = m_setup.title + "  " + kStoppingNote;
      title = VisibleWidth(both, 2) <= room ? both : FitToWidth(kStoppingNote, room);
    }
    lines.push_back(title);
  }
  lines.push_back(FittedStatusLine(labels, live, stopping && !titleRow, m_columns));
  if (MapShown()) {
    lines.insert(lines.end(), map.begin(), map.end());
    lines.push_back(LegendLine(m_setup.mode.palette, labels.cellSize, m_columns, m_readings != nullptr));
  }
  if (ReadTimesShown()) lines.push_back(FitToWidth("read times  " + m_readings->ClassCountsLine(), room));
  return lines;
}

void TerminalPainter::Write(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), m_setup.out);
  std::fflush(m_setup.out);
}

void TerminalPainter::Update(TerminalView& view, const CDrawPicModel* chart, bool stopping, bool force) {
  if (!m_setup.mode.live) {
    for (const ScanLabels& labels : view.TakePercentChanges())
      std::fprintf(m_setup.out, "%s\n", ProgressLine(labels).c_str());
    std::fflush(m_setup.out);
    return;
  }
  if (m_finished) return;
  int rows = 0, columns = 0;
  if (m_setup.sizeFd >= 0 && TakeResize() && TerminalSizeOf(m_setup.sizeFd, rows, columns)) Resize(rows, columns);
  view.TakeDirty();
  const ScanLabels labels = view.Labels();
  LiveFigures figures;
  if (m_rate) {
    m_rate->Sample(m_clock->TimeGetTime(), m_position());
    if (const std::optional<double> rate = m_rate->SectorsPerSecond()) figures.rate = RateText(*rate);
    if (const std::optional<uint64_t> left = m_rate->SecondsLeft()) figures.eta = ClockText(*left);
  }
  m_lastLabels = labels;
  m_lastMap = MapLines(chart, m_setup.mode.palette, m_readings ? m_readings->WorstPerCell() : CellReadTimes{});
  const std::vector<std::string> lines = Compose(labels, m_rate ? &figures : nullptr, stopping, m_lastMap);

  std::string frame;
  if (!m_started) {
    // The alternate screen: what is drawn there never enters the scrollback,
    // and terminals do not rewrap it when resized.
    frame += "\x1b[?1049h\x1b[?25l";
    m_started = true;
    m_clear = true;
  }
  if (m_clear) {
    frame += "\x1b[H\x1b[2J";
    m_shown.clear();
    m_clear = false;
  }
  const int mapFirst = m_rows >= 2 ? 2 : 1;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!force && i < m_shown.size() && m_shown[i] == lines[i]) continue;
    frame += StrFormat("\x1b[%zu;1H", i + 1) + lines[i];
    // A line as wide as the terminal leaves the cursor in its last column,
    // where erasing to the end would take the last character.
    const bool mapLine = MapShown() && static_cast<int>(i) >= mapFirst && static_cast<int>(i) < mapFirst + kMapLines;
    if (!mapLine || m_columns > CDrawPicModel::kColumns) frame += kEraseToEnd;
  }
  m_shown = lines;
  if (!frame.empty()) Write(frame);
}

void TerminalPainter::Finish() {
  if (!m_setup.mode.live || m_finished) return;
  m_finished = true;
  if (!m_started) return;
  // Back on the normal screen, the run's last picture stays where the user
  // can scroll back to it.
  std::string text = "\x1b[?25h\x1b[?1049l";
  text += FittedStatusLine(m_lastLabels, nullptr, false, m_columns) + "\n";
  if (MapShown() && !m_lastMap.empty()) {
    for (const std::string& line : m_lastMap) text += line + "\n";
    text += LegendLine(m_setup.mode.palette, m_lastLabels.cellSize, m_columns, m_readings != nullptr) + "\n";
  }
  if (ReadTimesShown()) text += FitToWidth("read times  " + m_readings->ClassCountsLine(), m_columns - 1) + "\n";
  Write(text);
}
