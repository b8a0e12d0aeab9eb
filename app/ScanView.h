#pragma once
// What the scan window's logic needs of a window: the Windows dialog and the
// terminal front end each provide one. The scan worker calls the run's part
// (IRunDisplay) and the end of a run from its own thread, so an
// implementation must neither block on nor touch a window from there
// directly (the Win32 one posts to the window thread).
#include <memory>
#include <string>

#include "chart/CDrawPicModel.h"
#include "scan/ScanRun.h"

class IScanView : public IRunDisplay {
 public:
  // The selected disk's size and the size of one 2500th of it.
  virtual void ShowDiskSize(const std::string& text) = 0;
  virtual void ShowCellSize(const std::string& text) = 0;
  // Running: Start hidden and disabled, Stop shown. Idle: the other way
  // round.
  virtual void ShowRunning(bool running) = 0;
  // The disk list: appends an entry; selects one and returns the selection,
  // -1 when there is no such entry.
  virtual void AddDiskEntry(const std::string& text) = 0;
  virtual int SelectDiskEntry(int index) = 0;
  // Makes the chart control in the placeholder's place (first Start only).
  virtual std::unique_ptr<CDrawPicModel> CreateChart() = 0;
  // Does pending paints now (Start, before the worker begins).
  virtual void UpdateWindow() {}
  // The shell's open action on the report; failures are ignored.
  virtual void OpenReport(const std::string& file) = 0;
  // The disk stopped answering during the run (it ended there): the user is
  // told, with `text` (code page 936) naming the sector.
  virtual void ShowDiskStoppedAnswering(const std::string& /*text*/) {}
};
