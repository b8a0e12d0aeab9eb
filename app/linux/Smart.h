#pragma once
// The drive's own account of its health, as smartctl reports it. A surface
// scan reads every sector and so makes a drive notice its weak ones: its
// reallocated and pending sector counts can rise while we read. We take a
// snapshot before and after the scan, say what grew, and show it as terminal
// lines, as part of the JSON report and as Prometheus lines.
//
// Only what smartctl reported is kept: a reading it did not give stays empty
// and is shown nowhere (absent is not 0).
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

// smartctl's exit status is a bit mask. Bits 0 and 1 mean there is no data,
// bit 2 that the data may be partial; bits 3 to 7 describe the disk and come
// with complete data.
namespace SmartctlExit {
constexpr int kCommandLine = 1;       // did not parse; also: device type not detected
constexpr int kOpenFailed = 2;        // device did not open or identify itself
constexpr int kCommandFailed = 4;     // a SMART command or a checksum failed
constexpr int kDiskFailing = 8;       // SMART status: the disk is failing
constexpr int kPrefailBelow = 16;     // a prefail attribute is at or below threshold
constexpr int kPastThreshold = 32;    // an attribute was at or below threshold before
constexpr int kErrorLog = 64;         // the device error log has entries
constexpr int kSelfTestErrors = 128;  // the self-test log has errors
constexpr int kNoData = kCommandLine | kOpenFailed;
}  // namespace SmartctlExit

enum class SmartProtocol { Unknown, Ata, Nvme, Scsi };
enum class SmartHealth { Unknown, Passed, Failed };

// Why a snapshot holds no SMART data.
enum class SmartUnavailable {
  None,            // it does
  NotInstalled,    // smartctl not found
  CouldNotStart,   // smartctl found but not started
  NoSmart,         // the device has no SMART (loop device, image, unknown bridge)
  OpenFailed,      // smartctl could not open the device
  CommandFailed,   // smartctl ran but got no readings
  TimedOut,        // smartctl did not finish in time
  OutputTooLarge,  // smartctl printed more than we read
  Killed,          // smartctl ended by a signal
  Cancelled,       // the run was stopped while smartctl ran
  Unparsable,      // the output is not smartctl's JSON
};

struct SmartSnapshot {
  bool available = false;
  SmartUnavailable reason = SmartUnavailable::CommandFailed;
  std::string why;  // when not available: the reason in words

  int exitStatus = -1;   // smartctl's, -1 when it did not exit
  bool partial = false;  // exit bit 2: some SMART command failed
  SmartProtocol protocol = SmartProtocol::Unknown;
  std::string model;
  SmartHealth health = SmartHealth::Unknown;
  // ATA attributes whose normalised value is at or below threshold now.
  std::vector<std::string> failingNow;

  // ATA: attributes 5, 187, 188, 197, 198, 199 (raw values).
  std::optional<int64_t> reallocatedSectors;
  std::optional<int64_t> reportedUncorrectable;
  std::optional<int64_t> commandTimeouts;
  std::optional<int64_t> pendingSectors;
  std::optional<int64_t> offlineUncorrectable;
  std::optional<int64_t> udmaCrcErrors;
  // NVMe health log.
  std::optional<int64_t> criticalWarning;
  std::optional<int64_t> mediaErrors;
  std::optional<int64_t> errorLogEntries;
  std::optional<int64_t> availableSpare;           // percent
  std::optional<int64_t> availableSpareThreshold;  // percent
  std::optional<int64_t> percentageUsed;
  // SCSI.
  std::optional<int64_t> grownDefects;
  std::optional<int64_t> uncorrectedReadErrors;
  // Any protocol.
  std::optional<int64_t> powerOnHours;
  std::optional<int64_t> temperatureCelsius;

  // The drive says it is failing: overall health failed, an attribute
  // failing now, or an NVMe critical warning.
  bool Failing() const;
};

// A snapshot from smartctl's JSON output TEXT and its EXIT_STATUS. Without an
// exit status (a saved output) the one smartctl wrote into the JSON is used.
SmartSnapshot ParseSmartctlOutput(const std::string& text, std::optional<int> exitStatus = std::nullopt);

// A snapshot that is not available for REASON, WHY in words.
SmartSnapshot UnavailableSnapshot(SmartUnavailable reason, const std::string& why);

// One thing that got worse between the snapshot before a scan and the one
// after it: a counter that grew, or the overall health turning to failed.
struct SmartChange {
  std::string field;                        // a reading's key (e.g. "pending_sectors"), or "health"
  std::string label;                        // "pending sectors", "SMART health"
  std::string before, after;                // as shown: "0" and "3", "passed" and "FAILED"
  int64_t beforeValue = 0, afterValue = 0;  // counters only
  // "pending sectors 0 → 3 during this scan"
  std::string Text() const;
};

// What got worse from BEFORE to AFTER; nothing unless both are available.
std::vector<SmartChange> SmartChanges(const SmartSnapshot& before, const SmartSnapshot& after);

// The verdict's input: whether the drive's account alone makes the scan a
// warning, even when every read succeeded. True when the latest available
// snapshot says the drive is failing, or when anything got worse.
bool SmartCallsForWarning(const SmartSnapshot& before, const SmartSnapshot& after,
                          const std::vector<SmartChange>& changes);

// The short block the terminal shows, a few lines without newlines:
//   SMART: PASSED (ATA, WDC WD140EDFZ-11A0VA0)
//     reallocated sectors 0, reported uncorrectable 0, ...
// or the one line "SMART: not available (REASON)".
std::vector<std::string> SmartTextLines(const SmartSnapshot& snapshot);

// The block for the summary after the scan: AFTER's block (BEFORE's, marked
// as such, when there is no AFTER), then one line per change or a line
// saying that nothing changed.
std::vector<std::string> SmartSummaryLines(const SmartSnapshot& before, const SmartSnapshot& after,
                                           const std::vector<SmartChange>& changes);

// One snapshot as the JSON report holds it: availability (and reason),
// protocol, model, health, the readings present, and smartctl's exit status.
nlohmann::json SmartSnapshotJson(const SmartSnapshot& snapshot);

// The report's "smart" value: {"before": ..., "after": ..., "changes": [...]}.
nlohmann::json SmartReportJson(const SmartSnapshot& before, const SmartSnapshot& after,
                               const std::vector<SmartChange>& changes);

// Prometheus text-format lines (HELP, TYPE and one sample each) for SNAPSHOT
// (the latest one), all named morvek_scan_smart_*, labelled with DEVICE and
// MODEL; with the number of CHANGES during the scan.
std::string SmartPrometheusText(const SmartSnapshot& snapshot, const std::vector<SmartChange>& changes,
                                const std::string& device, const std::string& model);
