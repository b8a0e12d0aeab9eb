#pragma once
// What the scan window's logic needs of a window: the Windows dialog and the
// terminal front end each provide one. The scan worker calls it from its own
// thread, so an implementation must neither block on nor touch a window from
// there directly (the Win32 one posts to the window thread).
#include <cstdint>
#include <memory>
#include <string>

class CDrawPicModel;

// Control IDs of the scan window's template (IDC_START, IDC_PERCENT, ...).
#include "res/resource.h"

class IScanView {
 public:
  virtual ~IScanView() = default;
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual void EnableControl(int id, bool enable) = 0;
  virtual void ShowControl(int id, bool show) = 0;
  // The disk list: appends an entry; selects one and returns the selection,
  // -1 when there is no such entry.
  virtual void AddDiskEntry(const std::string& text) = 0;
  virtual int SelectDiskEntry(int index) = 0;
  // Makes the chart control in the placeholder's place (first Start only).
  virtual std::unique_ptr<CDrawPicModel> CreateChart() = 0;
  // The chart's picture is out of date.
  virtual void InvalidateChart() = 0;
  // Does pending paints now (Start, before the worker begins).
  virtual void UpdateWindow() {}
  // The shell's open action on a file; failures are ignored.
  virtual void ShellOpen(const std::string& file) = 0;
  // A read of 128 sectors starting there failed (for the bad-block list).
  virtual void ReadFailed(uint32_t /*startSector*/) {}
};
