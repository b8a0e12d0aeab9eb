#include "scan/ScanReport.h"

#include "platform/Format.h"
#include "scan/ReportTexts.h"

std::string DiskDescription(int slot, const std::string& model) {
  return StrFormat("Disk %d: %s", slot, model.c_str());
}

std::string DurationText(uint32_t seconds) {
  return StrFormat("%d:%d:%d", static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                   static_cast<int>(seconds % 60));
}

std::string ScannedAreaText(uint64_t pos) {
  return pos < 2097152 ? StrFormat("%llu M", static_cast<unsigned long long>(pos >> 11))
                       : StrFormat("%llu G", static_cast<unsigned long long>(pos >> 21));
}

const char* ReportResultLine(bool clean) { return clean ? kResultClean : kResultBad; }

std::string FormatReport(const ReportFacts& f) {
  const std::string date = StrFormat(kDateFormat, f.date.year, f.date.month, f.date.day);
  const std::string size = StrFormat("%llu G", static_cast<unsigned long long>(f.totalSectors >> 21));
  // One 2500th of the disk, not one 2484th: the scan unit has always been so.
  const std::string unit = StrFormat("%llu M", static_cast<unsigned long long>(f.totalSectors / 5120000));
  const std::string separator(85, '-');

  const std::string crlf = "\r\n";
  std::string text;
  text += kTitle + crlf;
  text += kReportHeading + date + crlf;
  text += crlf;
  text += kModelLabel + f.diskDescription + crlf;
  text += kSizeLabel + size + crlf;
  text += kUnitLabel + unit + crlf;
  text += kAreaLabel + ScannedAreaText(f.scanPosition) + crlf;
  text += kTimeLabel + f.elapsed + crlf;
  text += crlf;
  text += ReportResultLine(f.clean) + crlf;
  text += crlf;
  text += crlf;
  text += separator + crlf;
  text += kPromoDownload + crlf;
  text += crlf;
  text += kPromoFeatures + crlf;
  text += separator + crlf;
  return text;
}
