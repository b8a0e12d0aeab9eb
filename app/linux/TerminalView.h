#pragma once
// The scan window as the terminal shows it. The scan worker calls the view
// from its own thread; a terminal may block (a paused pager, a slow ssh
// link), so the view only stores what it is told, under a lock, and the
// main thread draws from those copies at its own pace.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
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
  void SetControlText(int id, const std::string& text) override;
  // The terminal has no buttons: Start and Stop are the command line and
  // the interrupt key.
  void EnableControl(int, bool) override {}
  void ShowControl(int, bool) override {}
  void AddDiskEntry(const std::string& text) override;
  int SelectDiskEntry(int index) override;
  std::unique_ptr<CDrawPicModel> CreateChart() override;
  void InvalidateChart() override { m_dirty = true; }
  // No viewer is launched from a terminal: the front end prints the
  // report's path when the run has ended. Opening the report is the last
  // thing a run does, so this also wakes the main thread at once.
  void ShellOpen(const std::string&) override;
  void ReadFailed(uint32_t startSector) override;

  ScanLabels Labels() const;
  // The labels as they stood at each change of the percent field since the
  // last call, oldest first (the plain progress lines).
  std::vector<ScanLabels> TakePercentChanges();
  // Whether anything shown changed since the last call.
  bool TakeDirty() { return m_dirty.exchange(false); }
  // Start sectors of the failed 64 KB reads, in the order they failed.
  std::vector<uint32_t> FailedReads() const;
  std::vector<std::string> DiskEntries() const;
  // Waits up to TIMEOUT for the end of the run (the report's ShellOpen);
  // true once it has come.
  bool WaitForRunEnd(std::chrono::milliseconds timeout);

 private:
  mutable std::mutex m_lock;
  ScanLabels m_labels;
  std::vector<ScanLabels> m_percentChanges;
  std::vector<uint32_t> m_failedReads;
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
