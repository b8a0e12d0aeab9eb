#pragma once
// The scan run: reads the selected disk from sector 0 to its end, 128
// sectors a pass, turns the outcome into map cells and live labels, and
// writes the report at the end. It runs on a worker thread of its own, which
// the presenter of the scan window starts and stops through this object.
//
// One ScanRun serves the runs of one window one after another. Between runs
// it keeps what a later report may show: the last elapsed text and the last
// scan position.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "chart/CDrawPicModel.h"
#include "disk/CDisk.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "scan/ScanReadings.h"
#include "scan/ScanReport.h"

// What a run shows while it goes. Called on the worker's thread: an
// implementation must neither block on a window nor touch one directly.
class IRunDisplay {
 public:
  virtual ~IRunDisplay() = default;
  virtual void ShowPercent(const std::string& text) = 0;
  virtual void ShowElapsed(const std::string& text) = 0;
  virtual void ShowSpeed(const std::string& text) = 0;
  virtual void ShowRemaining(const std::string& text) = 0;
  virtual void ShowBadCount(const std::string& text) = 0;
  // The read of up to 128 sectors starting there failed.
  virtual void ReadFailed(uint64_t /*startSector*/) {}
  // The map's picture is out of date.
  virtual void InvalidateMap() = 0;
};

// Where a run stood when it ended: what a later run needs to go on as if
// the two were one.
struct RunState {
  uint64_t firstSector = 0;  // where the range began
  uint64_t endSector = 0;    // where it ends (exclusive)
  uint64_t nextSector = 0;   // the first block not consumed
  int32_t cell = 0;          // the next map cell
  uint64_t boundary = 0;     // the next cell boundary
  uint32_t badCount = 0;
  // The map cells so far, in order, one letter each: G green, R red, and U
  // for a cell before the range (left empty). At most the map's 2484.
  std::string cells;
  uint64_t scanPosition = 0;  // what the report's scanned area names
  uint64_t elapsedMs = 0;     // all runs' time together
};

constexpr char kCellGood = 'G';
constexpr char kCellBad = 'R';
constexpr char kCellUnscanned = 'U';

// How a run ended.
struct RunResult {
  bool clean = true;          // no read failed
  uint32_t badCount = 0;      // failed reads (64 KB, or less at the device's end)
  uint64_t scanPosition = 0;  // the block of the main loop's last pass
  bool stopped = false;       // ended by a stop request (or because the disk went)
  // The disk stopped answering: reads kept failing and one that had read
  // well before failed too (or the device said it was gone). The run then
  // ends as if stopped, at the sector where the failures began.
  bool diskGone = false;
  uint64_t goneAtSector = 0;
  // Where the run began and the first block it did not consume (the
  // device's end after a whole run), for a later run to go on from.
  uint64_t firstSector = 0;
  uint64_t nextSector = 0;
  // The wall clock at Start and at the end, and the time between.
  int64_t startedUtc = 0;
  int64_t endedUtc = 0;
  uint64_t elapsedMs = 0;
  bool reportWritten = false;
  std::string reportProblem;  // why not, when it was not
  // Everything a later run needs to go on (--resume).
  RunState state;
};

// What Start hands a run: the disk as it was selected then. A selection
// changed during the run changes neither what is read nor what the report
// names.
struct RunSetup {
  CDisk& disk;  // the selected disk, already made active
  int slot = 0;
  std::string model;
  // The window's whole-cylinder total (the map, the labels and the percent
  // follow it) and the device's true end (the tail past the whole cylinders
  // is read too).
  uint64_t totalSectors = 0;
  uint64_t deviceSectors = 0;
  CDrawPicModel* chart = nullptr;  // the map; null paints nothing
  // The range of the run, [firstSector, endSector), in whole blocks of 128
  // sectors (firstSector rounded down, endSector up): the whole disk by
  // default. A run inside the disk paints the cells it covers where a
  // whole run would, with the cell and boundary a whole run has at
  // firstSector.
  uint64_t firstSector = 0;
  uint64_t endSector = UINT64_MAX;
  // A run that goes on from where an earlier one stopped; its range is then
  // the earlier one's.
  const RunState* resume = nullptr;
  // Told every block as the run consumes it (read times, for the
  // readings); none by default.
  IRunReadings* readings = nullptr;
  // Called on the worker's thread once the report is written and the percent
  // field reads 100: the window's own end of the run.
  std::function<void(const RunResult&)> onEnded;
};

class ScanRun {
 public:
  ScanRun(IClock& clock, IFileSystem& files, IRunDisplay& display, std::string reportPath = kReportFile);
  ~ScanRun();  // stops a running worker and waits for it
  ScanRun(const ScanRun&) = delete;
  ScanRun& operator=(const ScanRun&) = delete;

  // Clears the stop request, takes the start tick and starts the worker. A
  // worker still finishing a stopped run is waited for first.
  void Start(RunSetup setup);
  // The worker ends at its next pass (the read in progress completes).
  void RequestStop() { m_bStop.store(1); }
  bool StopRequested() const { return m_bStop.load() != 0; }
  // Blocks until the worker, if any, has ended.
  void Wait();
  // RequestStop, then Wait: what closing the window needs.
  void StopAndWait();
  // A worker has been started and has not yet ended.
  bool Active() const { return m_bActive.load(); }

  // The run itself, on the worker thread.
  uint32_t ScanDisk();
  // Writes the report; false when the file could not be written.
  bool WriteReport(bool noBadSectors);

  // The outcome of the last run that ended.
  RunResult LastResult() const;
  // The elapsed text last shown (what the next report's scan-time line holds).
  std::string ElapsedText() const;
  uint64_t ScanPosition() const { return m_nScanPos.load(); }
  const std::string& ReportPath() const { return m_reportPath; }
  uint32_t BadCount() const { return m_nBadCount.load(); }
  std::string PercentText() const;

  // For tests: the position a report names when no read happens (a disk of
  // 0 sectors reports what the run before it left).
  void SetScanPosition(uint64_t sector) { m_nScanPos.store(sector); }

 private:
  friend int ScanThreadProc(ScanRun* run);
  void PaintCell(uint32_t color);
  // The map's cells before the run's first one: a resumed run's, or empty
  // places for the cells before a range.
  void PaintCellsBefore(const std::string& cells);
  void PushPercent(uint64_t percent);
  void BadBlock(uint64_t sector);
  // After a failed read: whether the disk still answers. A run of failures
  // (or a device saying it is gone) is checked by reading again a block
  // that read well; a disk that fails that too has gone.
  bool StillAnswers(uint64_t failedAt, unsigned char* buffer);
  void ReadWell(uint64_t sector, uint16_t count);
  // Tells the readings about a block just consumed.
  void Consumed(uint64_t sector, uint16_t count, bool ok);
  // Reads the device past the whole cylinders, from `from` to its end.
  void ReadTail(uint64_t from, unsigned char* buffer);
  void EndOfRun();

  IClock& m_clock;
  IFileSystem& m_files;
  IRunDisplay& m_display;
  const std::string m_reportPath;

  std::unique_ptr<RunSetup> m_setup;  // the current run's, set before its worker starts
  std::thread m_worker;
  std::atomic<bool> m_bActive{false};

  std::atomic<int32_t> m_bStop{0};
  std::atomic<int32_t> m_nWorkerBusy{0};
  std::atomic<uint32_t> m_dwStartTick{0};
  std::atomic<uint32_t> m_nBadCount{0};
  std::atomic<uint64_t> m_nScanPos{0};
  int32_t m_nLastRead = 1;
  int32_t m_nCell = 0;
  uint64_t m_cellSectors = 0;  // C
  uint64_t m_boundary = 0;     // B

  mutable std::mutex m_lock;  // the texts and the result, read from other threads
  std::string m_strElapsed;
  std::string m_strPercent;
  static constexpr uint64_t kNoPercent = ~uint64_t{0};
  uint64_t m_percentShown = kNoPercent;  // what the percent field shows now (worker only)
  bool m_stopped = false;                // worker only
  // The vanishing-disk check (worker only).
  uint32_t m_failuresInARow = 0;
  uint64_t m_failuresFrom = 0;  // where the current run of failures began
  bool m_haveGood = false;
  uint64_t m_goodSector = 0;  // a block that read well, and its length
  uint16_t m_goodCount = 0;
  bool m_gone = false;
  uint64_t m_goneAt = 0;
  // Per-block timing (worker only): when the previous block's result came.
  uint64_t m_lastReadyNs = 0;
  uint64_t m_nextSector = 0;
  int64_t m_startedUtc = 0;
  uint64_t m_rangeFirst = 0;
  uint64_t m_rangeEnd = 0;
  uint64_t m_elapsedBeforeMs = 0;  // of the runs a resumed one goes on from
  std::string m_cells;             // G, R, U as in RunState
  RunResult m_result;
};

// The worker thread's entry: runs the scan of one Start. A second worker
// while one runs does nothing.
int ScanThreadProc(ScanRun* run);

constexpr uint32_t kGoodCellColor = 3256873;  // 0x31B229, green
constexpr uint32_t kBadCellColor = 4351487;   // 0x4265FF, orange-red
