#pragma once
// The scan window's logic, free of drawing: the disk list and its size
// labels, Start, Stop and closing, and the scan run the worker thread does
// (its read loop and its report live in scan/). A window (the Windows dialog,
// the terminal front end) shows what it is told through IScanView and calls
// the handlers below on its own thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "app/ScanView.h"
#include "chart/CDrawPicModel.h"
#include "disk/CDisk.h"
#include "identify/CDriveIdentifier.h"
#include "scan/Clock.h"

struct ScanPorts {
  DiskPorts disk;
  ISystemPort& system;
  IIdentifyNtPort* identifyNt;  // null where the platform has none
  IIdentify9xPort* identify9x;
  IClock& clock;
  IScanView& view;
};

// The scan report's file name, in the current directory.
constexpr char kReportFile[] = "kestrune.log";

// Process-wide values of the scan run. Only the worker writes them during a
// run; the window reads them only when no worker runs.
extern std::atomic<uint32_t> g_nBadCount;
extern std::atomic<uint32_t> g_nScanPos;
extern std::atomic<uint32_t> g_dwStartTick;
extern std::string g_strElapsed;
extern std::atomic<int32_t> g_nWorkerBusy;

// "%d:%d:%d" of a duration in seconds: hours (not limited to 24), minutes
// and seconds, without leading zeros.
std::string DurationText(uint32_t seconds);

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
  void OnStart();
  void OnStop();
  // Escape, the close box, Exit: ends a run (waiting for the worker) and
  // opens the report once more. The window then goes away.
  void OnCancel();

  void FindAllDisks();
  void ShowDiskSizes(int slot);

  State GetState() const;
  // Blocks until the current worker, if any, has ended.
  void WaitForWorker();

  // The run itself, on the worker thread.
  uint32_t ScanDisk();
  // Writes "kestrune.log"; false when the file could not be written.
  bool WriteReport(bool noBadSectors);

  const CDisk& Disk() const { return m_disk; }
  const CDriveIdentifier& Identifier() const { return m_ident; }
  CDrawPicModel* Chart() const { return m_pChart.get(); }
  int SelectedDisk() const { return m_nSelDisk; }
  // Whether the last run's report reached the file.
  bool LastReportWritten() const { return m_bReportWritten; }

  // Members as the window has always had them.
  std::unique_ptr<CDrawPicModel> m_pChart;
  std::atomic<int32_t> m_bStop{0};
  int32_t m_nRunCount = 0;
  std::string m_strPercent;
  std::string m_strDiskDesc;
  std::atomic<int32_t> m_nSelDisk{-1};
  std::string m_strModelCopy;
  int32_t m_nLastRead = 1;
  int32_t m_nCell = 0;

 private:
  void PaintCell(uint32_t color);
  void PushPercent(const std::string& text);
  uint32_t SelectedTotalSectors() const;
  void EndOfRun();

  ScanPorts m_ports;
  IScanView& m_view;
  IClock& m_clock;
  CDisk m_disk;
  CDriveIdentifier m_ident;
  std::thread m_worker;
  std::atomic<bool> m_bWorkerActive{false};
  std::atomic<bool> m_bReportWritten{false};
  std::string m_strPercentShown;  // what the percent field shows now (worker only)

  friend int ScanThreadProc(CScan* scan);
};

// The worker thread's entry: runs the scan of one Start. A second worker
// while one runs does nothing.
int ScanThreadProc(CScan* scan);

constexpr uint32_t kGoodCellColor = 3256873;  // 0x31B229, green
constexpr uint32_t kBadCellColor = 4351487;   // 0x4265FF, orange-red
