// The window texts: code page 936 bytes in, UTF-16 to the window system.
#include <gtest/gtest.h>

#include "app/win32/WinText.h"

namespace {

TEST(WinText, GbkLabelsBecomeTheirChineseCharacters) {
  // "硬盘大小：" (disk size:) as the template stores it.
  const std::string gbk = "\xD3\xB2\xC5\xCC\xB4\xF3\xD0\xA1\xA3\xBA";
  EXPECT_EQ(WideFromGbk(gbk), L"\u786C\u76D8\u5927\u5C0F\uFF1A");
  EXPECT_EQ(GbkFromWide(WideFromGbk(gbk)), gbk);
}

TEST(WinText, AsciiAndEmptyTextsPassUnchanged) {
  EXPECT_EQ(WideFromGbk("Disk 0: ST380011A"), L"Disk 0: ST380011A");
  EXPECT_EQ(WideFromGbk(""), L"");
  EXPECT_EQ(GbkFromWide(L""), "");
}

}  // namespace
