#pragma once
// The scan window's logic, free of drawing: the disk list and its size
// labels, Start, Stop and closing. The run itself (its read loop and its
// report) is scan/'s ScanRun, which this presenter starts and stops. A window
// (the Windows dialog, the terminal front end) shows what it is told through
// IScanView and calls the handlers below on its own thread.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/ScanView.h"
#include "chart/CDrawPicModel.h"
#include "disk/CDisk.h"
#include "identify/CDriveIdentifier.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ScanLog.h"
#include "scan/ScanRun.h"

struct ScanPorts {
  DiskPorts disk;
  // The drive identification's ports; a null system is one without Windows
  // versions (see CDriveIdentifier).
  ISystemPort* system;
  IIdentifyNtPort* identifyNt;
  IIdentify9xPort* identify9x;
  IClock& clock;
  IFileSystem& files;
  IScanView& view;
  std::string reportPath = kReportFile;
};

// What the window tells the user when the disk stopped answering at a
// sector (code page 936).
std::string DiskStoppedAnsweringText(uint64_t sector);

class CScan {
 public:
  enum class State { Idle, Running, Stopping };

  explicit CScan(const ScanPorts& ports);
  ~CScan();  // stops a running worker and waits for it
  CScan(const CScan&) = delete;
  CScan& operator=(const CScan&) = delete;

  // Handlers, called on the window's thread.
  void OnInitDialog();
  void OnSelchangeDisk(int selection);
  // What the terminal adds to the next Start: a range of the disk, a
  // stopped run to go on from, and the readings. The window sets none.
  struct RunExtras {
    uint64_t firstSector = 0;
    uint64_t endSector = UINT64_MAX;
    const RunState* resume = nullptr;
    IRunReadings* readings = nullptr;
  };
  void SetRunExtras(const RunExtras& extras) { m_extras = extras; }

  // What Start came to: a run started, or why none did.
  enum class StartResult { kStarted, kNoDisk, kNotOpened, kEmpty };
  StartResult OnStart();
  void OnStop();
  // Escape, the close box, Exit: ends a run (waiting for its report) and
  // shows the report once more; a run that was going opens it itself as it
  // ends, so it is not opened twice. The window then goes away.
  void OnCancel();

  void FindAllDisks();
  void ShowDiskSizes(int slot);

  State GetState() const;
  // Blocks until the current worker, if any, has ended.
  void WaitForWorker() { m_run.Wait(); }
  // Stops a run and waits for its end (the report written).
  void StopAndWait() { m_run.StopAndWait(); }

  const CDisk& Disk() const { return m_disk; }
  // The disk, for reads of the front end's own after a run (none while a
  // run goes on).
  CDisk& DiskForReads() { return m_disk; }
  const CDriveIdentifier& Identifier() const { return m_ident; }
  const ScanRun& Run() const { return m_run; }
  CDrawPicModel* Chart() const { return m_pChart.get(); }
  int SelectedDisk() const { return m_nSelDisk; }
  int RunCount() const { return m_nRunCount; }
  ScanLog& Log() const { return m_log; }

 private:
  void OnRunEnded(const RunResult& result);

  IScanView& m_view;
  ScanLog& m_log;
  std::unique_ptr<CDrawPicModel> m_pChart;
  int32_t m_nRunCount = 0;
  CDisk m_disk;
  CDriveIdentifier m_ident;
  std::atomic<int32_t> m_nSelDisk{-1};
  RunExtras m_extras;
  std::string m_strModelCopy;
  // Last: made after everything its worker uses, and gone first (it joins
  // the worker), so the worker never sees the rest of the window go.
  ScanRun m_run;
};
