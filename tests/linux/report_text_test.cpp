// The scan report's bytes, checked against the texts as a person reads them:
// the expected lines are written in UTF-8 here and the report is converted
// from code page 936 by iconv, so a wrong byte in a fixed text shows.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "scan/ScanReport.h"

namespace {

std::string FromGbk(const std::string& gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
  std::string in = gbk, out(gbk.size() * 2 + 16, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  const size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1)) return "<not GBK>";
  out.resize(out.size() - outLeft);
  return out;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

TEST(ScanReportText, EveryLineAsTheReportHasAlwaysBeen) {
  ReportFacts f;
  f.date = {2007, 12, 1};
  f.diskDescription = DiskDescription(2, "MORVEK MV-80GB");
  f.totalSectors = 78156225;
  f.scanPosition = 2999936;
  f.elapsed = "0:41:7";
  f.clean = true;
  const std::string report = FormatReport(f);
  const std::vector<std::string> lines = SplitCrLf(FromGbk(report));
  const std::vector<std::string> expected = {
      "Morvek磁盘扫描V1.1.20071201",
      "硬盘扫描报告 2007年12月1日",
      "",
      "硬盘型号 : Disk 2: MORVEK MV-80GB",
      "硬盘大小 : 37 G",
      "扫描单位 : 15 M",
      "已扫描区域 : 1 G",
      "扫描时间 : 0:41:7",
      "",
      "扫描结果: 没有坏扇区",
      "",
      "",
      std::string(85, '-'),
      lines.size() > 13 ? lines[13] : "",  // the two promotional paragraphs: any one-line text
      "",
      lines.size() > 15 ? lines[15] : "",
      std::string(85, '-')};
  EXPECT_EQ(lines, expected);
  EXPECT_NE(lines.at(13).find("http://"), std::string::npos) << "the first paragraph ends with an address";
  EXPECT_FALSE(lines.at(15).empty());
  // No byte-order mark, no line end but CR LF.
  EXPECT_NE(report.substr(0, 3), "\xEF\xBB\xBF");
  size_t lf = 0;
  for (size_t i = 0; i < report.size(); ++i)
    if (report[i] == '\n') {
      ++lf;
      EXPECT_EQ(report[i - 1], '\r') << "at byte " << i;
    }
  EXPECT_EQ(lf, 17u);

  f.clean = false;
  EXPECT_EQ(SplitCrLf(FromGbk(FormatReport(f))).at(9), "扫描结果: 有坏扇区");
}

TEST(ScanReportText, SizesAndAreasAreWholeUnitsRoundedDown) {
  ReportFacts f;
  f.date = {2026, 3, 9};
  f.totalSectors = 1000000;
  f.scanPosition = 999936;
  std::vector<std::string> lines = SplitCrLf(FromGbk(FormatReport(f)));
  EXPECT_EQ(lines.at(1), "硬盘扫描报告 2026年3月9日");
  EXPECT_EQ(lines.at(3), "硬盘型号 : ");  // an empty description
  EXPECT_EQ(lines.at(4), "硬盘大小 : 0 G");
  EXPECT_EQ(lines.at(5), "扫描单位 : 0 M");
  EXPECT_EQ(lines.at(6), "已扫描区域 : 488 M");
  EXPECT_EQ(lines.at(7), "扫描时间 : ");

  EXPECT_EQ(ScannedAreaText(999936), "488 M");
  EXPECT_EQ(ScannedAreaText(2999936), "1 G");
  EXPECT_EQ(ScannedAreaText(2097152), "1 G");
  EXPECT_EQ(ScannedAreaText(2097024), "1023 M");
  EXPECT_EQ(ScannedAreaText(0), "0 M");
  EXPECT_EQ(ScannedAreaText(4194176), "1 G");  // a whole run of a 2 GB disk ends on its last block
}

}  // namespace
