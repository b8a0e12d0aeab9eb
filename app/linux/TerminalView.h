#pragma once
// The scan window as the terminal shows it. The scan worker calls the view
// from its own thread; a terminal may block (a paused pager, a slow ssh
// link), so the view only stores what it is told, under a lock, and the
// main thread draws from those copies at its own pace (TerminalPainter).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/ScanView.h"
#include "app/linux/LiveRate.h"
#include "app/linux/MapPalette.h"
#include "chart/CDrawPicModel.h"
#include "chart/PixelSurface.h"
#include "platform/Clock.h"
#include "scan/ScanReadings.h"

// The live labels of the scan window, as texts.
struct ScanLabels {
  std::string percent;    // edit 1027
  std::string elapsed;    // label 1018
  std::string speed;      // label 1020
  std::string remaining;  // label 1023
  std::string bad;        // label 1024
  std::string diskSize;   // label 1005
  std::string cellSize;   // label 1009
};

class TerminalView : public IScanView {
 public:
  void ShowPercent(const std::string& text) override;
  void ShowElapsed(const std::string& text) override { SetLabel(&ScanLabels::elapsed, text); }
  void ShowSpeed(const std::string& text) override { SetLabel(&ScanLabels::speed, text); }
  void ShowRemaining(const std::string& text) override { SetLabel(&ScanLabels::remaining, text); }
  void ShowBadCount(const std::string& text) override { SetLabel(&ScanLabels::bad, text); }
  void ShowDiskSize(const std::string& text) override { SetLabel(&ScanLabels::diskSize, text); }
  void ShowCellSize(const std::string& text) override { SetLabel(&ScanLabels::cellSize, text); }
  void InvalidateMap() override { m_dirty = true; }
  // The terminal has no buttons: Start and Stop are the command line and
  // the interrupt key.
  void ShowRunning(bool) override {}
  void AddDiskEntry(const std::string& text) override;
  int SelectDiskEntry(int index) override;
  std::unique_ptr<CDrawPicModel> CreateChart() override;
  // No viewer is launched from a terminal: the front end prints the
  // report's path when the run has ended. Opening the report is the last
  // thing a run does, so this also wakes the main thread at once.
  void OpenReport(const std::string&) override;

  ScanLabels Labels() const;
  // The labels as they stood at each change of the percent field since the
  // last call, oldest first (the plain progress lines).
  std::vector<ScanLabels> TakePercentChanges();
  // Whether anything shown changed since the last call.
  bool TakeDirty() { return m_dirty.exchange(false); }
  std::vector<std::string> DiskEntries() const;
  // Waits up to TIMEOUT for the end of the run (the report's open); true
  // once it has come.
  bool WaitForRunEnd(std::chrono::milliseconds timeout);

 private:
  void SetLabel(std::string ScanLabels::*label, const std::string& text);

  mutable std::mutex m_lock;
  ScanLabels m_labels;
  std::vector<ScanLabels> m_percentChanges;
  std::vector<std::string> m_entries;
  std::atomic<bool> m_dirty{false};
  bool m_runEnded = false;
  std::condition_variable m_runEnd;
};

// "12% 0:1:5 85 M/s remaining 0:7:40 bad 0": one plain progress line; a
// label the window has not filled yet shows as "-".
std::string ProgressLine(const ScanLabels& labels);

// The status line above the map: the same texts with short captions.
std::string StatusLine(const ScanLabels& labels);

// The terminal's own figures beside the window's labels: the throughput of
// the last few seconds and the time left at that pace (LiveRate); empty
// where not known yet.
struct LiveFigures {
  std::string rate;  // "92.3 MiB/s"
  std::string eta;   // "0:06:12"
};

// The status line for a terminal WIDTH columns wide: never wider than
// WIDTH - 1, so that it never wraps. The window's labels keep their texts;
// where the whole line does not fit, the captions get shorter, then fields
// go in a fixed order: the window's speed, its remaining time, the scan
// time, the live throughput, the live time left. The percent, the bad
// blocks and a stop in progress stay to the last. `live` may be null.
std::string FittedStatusLine(const ScanLabels& labels, const LiveFigures* live, bool stopping, int width);

// TEXT cut to at most WIDTH columns (a character outside ASCII counted as
// two, which no terminal exceeds); control characters read '?'.
std::string FitToWidth(const std::string& text, int width);

// A cell no curve has painted yet: light grey, so that it stands apart from
// both the terminal's background and the read and failed cells.
constexpr Rgb kUnscannedCell{224, 224, 224};

// The colours of a palette's read and failed cells, and of read cells
// whose slowest block took 200 ms or more, and 600 ms or more.
struct CellColours {
  Rgb read;
  Rgb failed;
  Rgb slow;
  Rgb verySlow;
};
CellColours PaletteColours(MapPalette palette);

// The slowest read of each map cell (nanoseconds, cell i at i; 0 or missing
// for none), to show slow cells apart; empty: no read times known.
using CellReadTimes = std::vector<uint64_t>;

// The map as text: 23 lines of 54 upper-half-block characters, each
// character two cells on top of each other (foreground above, background
// below) in 24-bit colour, the window's colours. Every line ends with a
// colour reset and "\n".
std::string MapText(const CDrawPicModel* model);

// The map's 23 lines (without line ends) in a palette: 24-bit colour as
// above, or for kText characters without any escape, each for two cells on
// top of each other: '#' both read, 'X' either failed, '.' neither read yet,
// '+' one read and one not yet (the line the scan is in); with read times,
// 's' a slow cell (200 ms or more), 'S' a very slow one (600 ms or more).
std::vector<std::string> MapLines(const CDrawPicModel* model, MapPalette palette, const CellReadTimes& times = {});

// The line under the map that says what its colours or characters mean
// (the slow cells' too, `withTimes`), and how much of the disk one cell is
// (`cellSize`, the window's label); at most WIDTH - 1 columns.
std::string LegendLine(MapPalette palette, const std::string& cellSize, int width, bool withTimes = false);

// How a run is shown, from what the output is and what the user asked.
struct PaintMode {
  bool live = false;  // a terminal: status line and map redrawn in place
  MapPalette palette = MapPalette::kWindow;
};
// `terminal`: the output is a terminal; `term` and `noColor`: TERM and
// NO_COLOR (null when not set). Plain lines unless a terminal that moves its
// cursor (any but TERM=dumb); NO_COLOR (set and not empty) makes the map
// characters whatever the palette.
PaintMode ChoosePaintMode(bool terminal, const char* term, const char* noColor, MapPalette asked);

// Draws a run on `out`. On a terminal: a frame of the title, the status
// line, the map and its legend, on the terminal's alternate screen, each
// line written in its place and only when it changed, fitted to the
// terminal's size (and to a new size after SIGWINCH), so that nothing wraps
// and nothing scrolls; when the run ends, the alternate screen goes and the
// final status line, map and legend are printed once. Otherwise one plain
// progress line per percent.
class TerminalPainter {
 public:
  struct Setup {
    std::FILE* out = nullptr;
    PaintMode mode;
    // The terminal's size, 0 where not known (then taken as 24 x 80); and
    // the descriptor to ask it again after a resize, -1 for never.
    int rows = 0;
    int columns = 0;
    int sizeFd = -1;
    std::string title;  // the frame's first line: what is being scanned
  };
  explicit TerminalPainter(Setup setup);
  ~TerminalPainter() { Finish(); }
  TerminalPainter(const TerminalPainter&) = delete;
  TerminalPainter& operator=(const TerminalPainter&) = delete;

  // The live figures: the run's position (a sector) read from `position`
  // with the tick of `clock`, from `firstSector` towards `endSector`.
  void Follow(IClock& clock, std::function<uint64_t()> position, uint64_t firstSector, uint64_t endSector);
  // The read times: slow cells on the map, and a line of the class counts
  // under the legend (where the terminal has room for it).
  void ShowReadTimes(const ScanReadings* readings) { m_readings = readings; }

  // Draws what changed (every line when `force`); `stopping` notes that a
  // stop is on its way.
  void Update(TerminalView& view, const CDrawPicModel* chart, bool stopping, bool force);
  // The terminal now has ROWS x COLUMNS (after SIGWINCH): the next Update
  // draws the whole frame anew for that size.
  void Resize(int rows, int columns);
  // Ends the live frame (the final picture printed, the cursor at the start
  // of a fresh line below it).
  void Finish();

  // Whether the run is drawn live (a terminal), rather than as plain lines.
  bool Live() const { return m_setup.mode.live; }

  // The frame's lines at the current size: title, status line, and where
  // the map fits, its 23 lines and the legend.
  int FrameLines() const;
  bool MapShown() const;
  bool ReadTimesShown() const;

  static constexpr int kMapLines = CDrawPicModel::kRows / 2;
  static constexpr int kFrameLinesWithMap = 2 + kMapLines + 1;  // title, status, map, legend (and read times)

 private:
  std::vector<std::string> Compose(const ScanLabels& labels, const LiveFigures* live, bool stopping,
                                   const std::vector<std::string>& map) const;
  void Write(const std::string& text);

  Setup m_setup;
  int m_rows;
  int m_columns;
  bool m_started = false;  // the alternate screen is up
  bool m_finished = false;
  bool m_clear = true;               // the next frame starts from a clear screen
  std::vector<std::string> m_shown;  // the lines on the screen now
  ScanLabels m_lastLabels;
  std::vector<std::string> m_lastMap;
  // The live figures' sources.
  IClock* m_clock = nullptr;
  std::function<uint64_t()> m_position;
  std::unique_ptr<LiveRate> m_rate;
  const ScanReadings* m_readings = nullptr;
};
