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
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/ScanView.h"
#include "chart/CDrawPicModel.h"
#include "chart/PixelSurface.h"

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
  void ReadFailed(uint64_t startSector) override;
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
  // Start sectors of the failed 64 KB reads, in the order they failed.
  std::vector<uint64_t> FailedReads() const;
  std::vector<std::string> DiskEntries() const;
  // Waits up to TIMEOUT for the end of the run (the report's open); true
  // once it has come.
  bool WaitForRunEnd(std::chrono::milliseconds timeout);

 private:
  void SetLabel(std::string ScanLabels::*label, const std::string& text);

  mutable std::mutex m_lock;
  ScanLabels m_labels;
  std::vector<ScanLabels> m_percentChanges;
  std::vector<uint64_t> m_failedReads;
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

// A cell no curve has painted yet: light grey, so that it stands apart from
// both the terminal's background and the green and red cells.
constexpr Rgb kUnscannedCell{224, 224, 224};

// The map as text: 23 lines of 54 upper-half-block characters, each
// character two cells on top of each other (foreground above, background
// below) in 24-bit colour. Every line ends with a colour reset and "\n".
std::string MapText(const CDrawPicModel* model);

// Draws a run on `out`: on a terminal the status line and the map, redrawn
// in place; otherwise one plain progress line per percent.
class TerminalPainter {
 public:
  // `rows` and `columns`: the terminal's size, 0 where unknown. A window too
  // small for the map gets the status line alone.
  TerminalPainter(std::FILE* out, bool terminal, int rows, int columns);
  ~TerminalPainter() { Finish(); }
  TerminalPainter(const TerminalPainter&) = delete;
  TerminalPainter& operator=(const TerminalPainter&) = delete;

  // Draws what changed (everything when `force`); `stopping` adds a note to
  // the status line.
  void Update(TerminalView& view, const CDrawPicModel* chart, bool stopping, bool force);
  // Leaves the cursor at the start of a fresh line below what was drawn.
  void Finish();

  static constexpr int kFrameLines = 1 + CDrawPicModel::kRows / 2;  // status line and 23 map lines

 private:
  std::FILE* m_out;
  bool m_terminal;
  bool m_withMap = true;
  bool m_drawn = false;
  bool m_finished = false;
  bool m_stoppingShown = false;
};
