#include "app/CScan.h"

#include "app/DiskLabels.h"
#include "disk/ScanLog.h"
#include "platform/Format.h"

std::atomic<uint32_t> g_nBadCount{0};
std::atomic<uint32_t> g_nScanPos{0};
std::atomic<uint32_t> g_dwStartTick{0};
std::string g_strElapsed;
std::atomic<int32_t> g_nWorkerBusy{0};

std::string DurationText(uint32_t seconds) {
  return StrFormat("%d:%d:%d", static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                   static_cast<int>(seconds % 60));
}

CScan::CScan(const ScanPorts& ports)
    : m_ports(ports),
      m_view(ports.view),
      m_clock(ports.clock),
      m_disk(ports.disk),
      m_ident(ports.system, ports.identifyNt, ports.identify9x) {}

CScan::~CScan() {
  m_bStop = 1;
  WaitForWorker();
}

void CScan::OnInitDialog() {
  m_view.ShowControl(IDC_STOP, false);
  FindAllDisks();
  m_nLastRead = 1;
  m_nCell = 0;
  m_nSelDisk = m_view.SelectDiskEntry(0);
  ShowDiskSizes(m_nSelDisk);
  m_view.SetControlText(IDC_BAD_COUNT, "0");
}

void CScan::FindAllDisks() {
  for (uint32_t i = 0; i < g_diskTable.count && i < kMaxDisks; ++i) {
    m_strModelCopy = m_ident.strModol[i];
    m_view.AddDiskEntry(DiskEntryText(static_cast<int>(i), m_strModelCopy));
    const std::string size = DiskSizeText(g_diskTable.records[i].totalSectors);
    m_view.SetControlText(IDC_DISK_SIZE, size);
    ScanLog::Instance().WriteF("CScan::FindAllDisks i=%d, strModol[i]=%s, strTotalSectors=%s\r\n", static_cast<int>(i),
                               m_strModelCopy.c_str(), size.c_str());
  }
  m_view.SelectDiskEntry(0);
}

void CScan::ShowDiskSizes(int slot) {
  // With no disk in the table there is nothing to show: the labels keep
  // their template texts and no record outside the table is read.
  const DiskRecord* record = DiskRecordOfSlot(slot);
  if (record == nullptr) return;
  m_view.SetControlText(IDC_DISK_SIZE, DiskSizeText(record->totalSectors));
  m_view.SetControlText(IDC_CELL_SIZE, CellSizeText(record->totalSectors));
}

void CScan::OnSelchangeDisk(int selection) {
  m_nSelDisk = selection;
  ShowDiskSizes(selection);
}

void CScan::OnStart() {
  // No disk found (or nothing selected): there is nothing to scan.
  if (DiskRecordOfSlot(m_nSelDisk) == nullptr) return;
  // A run that was stopped may still be finishing its last read and its
  // report; the disk must not be switched under it, so wait for it.
  WaitForWorker();

  const auto slotCode = static_cast<uint8_t>(0x80 + m_nSelDisk);
  m_disk.SetActiveDisk(slotCode);  // a failure shows as failed reads
  ScanLog::Instance().WriteF("OnSelchngeComboDisks SetActiveDisk %lx", static_cast<unsigned long>(slotCode));

  if (!m_pChart) m_pChart = m_view.CreateChart();
  if (m_nRunCount >= 1 && m_pChart) m_pChart->RemoveAllCurves();
  ++m_nRunCount;
  m_view.UpdateWindow();
  m_bStop = 0;
  g_dwStartTick = m_clock.TimeGetTime();

  m_bWorkerActive = true;
  m_worker = std::thread(ScanThreadProc, this);

  m_view.EnableControl(IDC_START, false);
  m_view.ShowControl(IDC_STOP, true);
  m_view.ShowControl(IDC_START, false);
}

void CScan::OnStop() {
  m_bStop = 1;
  m_view.EnableControl(IDC_START, true);
  m_view.ShowControl(IDC_START, true);
  m_view.ShowControl(IDC_STOP, false);
}

void CScan::OnCancel() {
  // The worker uses this object and the disk: end the run and wait for its
  // report before the window goes, then show the report once more.
  m_bStop = 1;
  WaitForWorker();
  m_view.ShellOpen(kReportFile);
}

CScan::State CScan::GetState() const {
  if (!m_bWorkerActive) return State::Idle;
  return m_bStop ? State::Stopping : State::Running;
}

void CScan::WaitForWorker() {
  if (m_worker.joinable()) m_worker.join();
}

int ScanThreadProc(CScan* scan) {
  int32_t idle = 0;
  if (g_nWorkerBusy.compare_exchange_strong(idle, 1)) {
    scan->ScanDisk();
    --g_nWorkerBusy;
  }
  scan->m_bWorkerActive = false;
  return 0;
}
