// The scan report "kestrune.log", written at the end of every run.
#include <cstdio>
#include <memory>
#include <string>

#include "app/CScan.h"
#include "platform/Format.h"
#include "scan/ReportTexts.h"

namespace {
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
}  // namespace

bool CScan::WriteReport(bool noBadSectors) {
  const LocalDate today = m_clock.Today();
  const std::string date = StrFormat(kDateFormat, today.year, today.month, today.day);

  const uint32_t pos = g_nScanPos;
  const std::string area =
      pos < 2097152 ? StrFormat("%d M", static_cast<int>(pos >> 11)) : StrFormat("%d G", static_cast<int>(pos >> 21));
  const int slot = m_nSelDisk;
  m_strDiskDesc = StrFormat("Disk %d: %s", slot, m_ident.GetModel(slot).c_str());
  const uint32_t total = SelectedTotalSectors();
  const std::string size = StrFormat("%u G", static_cast<unsigned>(total >> 21));
  const std::string unit = StrFormat("%u M", static_cast<unsigned>(total / 5120000));
  const std::string separator(85, '-');

  const std::string crlf = "\r\n";
  std::string text;
  text += kTitle + crlf;
  text += kReportHeading + date + crlf;
  text += crlf;
  text += kModelLabel + m_strDiskDesc + crlf;
  text += kSizeLabel + size + crlf;
  text += kUnitLabel + unit + crlf;
  text += kAreaLabel + area + crlf;
  text += kTimeLabel + g_strElapsed + crlf;
  text += crlf;
  text += (noBadSectors ? kResultClean : kResultBad) + crlf;
  text += crlf;
  text += crlf;
  text += separator + crlf;
  text += kPromoDownload + crlf;
  text += crlf;
  text += kPromoFeatures + crlf;
  text += separator + crlf;

  // Replaced whole at every run. A directory that cannot be written leaves
  // no report; the run ends as usual and the front end can say so.
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(kReportFile, "wb"));
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  return std::fclose(file.release()) == 0 && written;
}
