#include "app/CScan.h"

#include "app/DiskLabels.h"
#include "platform/Format.h"

std::string DiskStoppedAnsweringText(uint64_t sector) {
  // 硬盘在扇区 N 处停止响应，扫描已停止。(the disk stopped answering at sector N;
  // the scan was stopped)
  return StrFormat(
      "\xD3\xB2\xC5\xCC\xD4\xDA\xC9\xC8\xC7\xF8 %llu \xB4\xA6\xCD\xA3\xD6\xB9\xCF\xEC\xD3\xA6\xA3\xAC"
      "\xC9\xA8\xC3\xE8\xD2\xD1\xCD\xA3\xD6\xB9\xA1\xA3",
      static_cast<unsigned long long>(sector));
}

CScan::CScan(const ScanPorts& ports)
    : m_view(ports.view),
      m_log(ports.disk.log),
      m_disk(ports.disk),
      m_ident(ports.system, ports.identifyNt, ports.identify9x),
      m_run(ports.clock, ports.files, ports.view, ports.reportPath) {}

CScan::~CScan() { m_run.StopAndWait(); }

void CScan::OnInitDialog() {
  m_view.ShowRunning(false);
  FindAllDisks();
  m_nSelDisk = m_view.SelectDiskEntry(0);
  ShowDiskSizes(m_nSelDisk);
  m_view.ShowBadCount("0");
}

void CScan::FindAllDisks() {
  const DiskTable& table = m_disk.Table();
  for (uint32_t i = 0; i < table.count && i < kMaxDisks; ++i) {
    m_strModelCopy = m_ident.strModol[i];
    m_view.AddDiskEntry(DiskDescription(static_cast<int>(i), m_strModelCopy));
    const std::string size = DiskSizeText(m_disk.TotalSectors(static_cast<int>(i)));
    m_view.ShowDiskSize(size);
    m_log.WriteF("CScan::FindAllDisks i=%d, strModol[i]=%s, strTotalSectors=%s\r\n", static_cast<int>(i),
                 m_strModelCopy.c_str(), size.c_str());
  }
  m_view.SelectDiskEntry(0);
}

void CScan::ShowDiskSizes(int slot) {
  // With no disk in the table there is nothing to show: the labels keep
  // their template texts and no record outside the table is read.
  const DiskRecord* record = m_disk.RecordOfSlot(slot);
  if (record == nullptr) return;
  m_view.ShowDiskSize(DiskSizeText(m_disk.TotalSectors(slot)));
  m_view.ShowCellSize(CellSizeText(m_disk.TotalSectors(slot)));
}

void CScan::OnSelchangeDisk(int selection) {
  m_nSelDisk = selection;
  ShowDiskSizes(selection);
}

CScan::StartResult CScan::OnStart() {
  const int slot = m_nSelDisk;
  // No disk found (or nothing selected): there is nothing to scan.
  if (m_disk.RecordOfSlot(slot) == nullptr) return StartResult::kNoDisk;
  // A run that was stopped may still be finishing its last read and its
  // report; the disk must not be switched under it, so wait for it.
  m_run.Wait();

  const auto slotCode = static_cast<uint8_t>(0x80 + slot);
  const bool active = m_disk.SetActiveDisk(slotCode) != 0;
  m_log.WriteF("OnSelchngeComboDisks SetActiveDisk %lx", static_cast<unsigned long>(slotCode));
  // A disk that cannot be read is not scanned: a run over it would paint the
  // map red and report bad sectors of a disk that was never read.
  if (!active) {
    m_log.WriteF("CScan::OnStart disk %d could not be opened: no scan", slot);
    return StartResult::kNotOpened;
  }
  if (m_disk.DeviceSectors(slot) == 0) {
    m_log.WriteF("CScan::OnStart disk %d holds no sectors: no scan", slot);
    return StartResult::kEmpty;
  }

  if (!m_pChart) m_pChart = m_view.CreateChart();
  if (m_nRunCount >= 1 && m_pChart) m_pChart->RemoveAllCurves();
  ++m_nRunCount;
  m_view.UpdateWindow();

  RunSetup setup{m_disk};
  setup.slot = slot;
  setup.model = m_ident.GetModel(slot);
  setup.totalSectors = m_disk.TotalSectors(slot);
  setup.deviceSectors = m_disk.DeviceSectors(slot);
  setup.chart = m_pChart.get();
  setup.firstSector = m_extras.firstSector;
  setup.endSector = m_extras.endSector;
  setup.resume = m_extras.resume;
  setup.readings = m_extras.readings;
  setup.onEnded = [this](const RunResult& result) { OnRunEnded(result); };
  m_run.Start(std::move(setup));
  m_view.ShowRunning(true);
  return StartResult::kStarted;
}

void CScan::OnRunEnded(const RunResult& result) {
  // On the worker's thread, after the report and the final percent.
  m_view.ShowRunning(false);
  m_view.OpenReport(m_run.ReportPath());
  if (result.diskGone) m_view.ShowDiskStoppedAnswering(DiskStoppedAnsweringText(result.goneAtSector));
}

void CScan::OnStop() {
  m_run.RequestStop();
  m_view.ShowRunning(false);
}

void CScan::OnCancel() {
  // The worker uses this object and the disk: end the run and wait for its
  // report before the window goes. A run that was going has just opened its
  // report; otherwise the last one is shown once more.
  const bool running = m_run.Active();
  m_run.StopAndWait();
  if (!running) m_view.OpenReport(m_run.ReportPath());
}

CScan::State CScan::GetState() const {
  if (!m_run.Active()) return State::Idle;
  return m_run.StopRequested() ? State::Stopping : State::Running;
}
