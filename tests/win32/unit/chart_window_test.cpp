// The chart control's Win32 side: its paint gives the renderer's pixels,
// whatever the clip box, and gives back every GDI object it makes.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "chart/ChartRenderer.h"
#include "chart/win32/CDrawPic.h"
#include "platform/win32/GdiHandles.h"
#include "tests/win32/GdiCount.h"

namespace {

constexpr int kW = CDrawPicModel::kMapWidth;
constexpr int kH = CDrawPicModel::kMapHeight;

// A 540 x 460 top-down 32-bit DIB section in a memory context, filled with a
// marker colour, whose pixels the test reads back.
class Canvas {
 public:
  Canvas() : m_dc(nullptr) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kW;
    info.bmiHeader.biHeight = -kH;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    m_bitmap.reset(
        ::CreateDIBSection(m_dc.get(), &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0));
    m_previous = ::SelectObject(m_dc.get(), m_bitmap.get());
    for (int i = 0; i < kW * kH; ++i) m_bits[i] = 56 | (34 << 8) | (12 << 16);  // marker: R 12, G 34, B 56
  }
  ~Canvas() { ::SelectObject(m_dc.get(), m_previous); }

  HDC dc() const { return m_dc.get(); }
  Rgb At(int x, int y) const {
    ::GdiFlush();
    const uint32_t p = m_bits[y * kW + x];
    return Rgb{static_cast<uint8_t>((p >> 16) & 0xFF), static_cast<uint8_t>((p >> 8) & 0xFF),
               static_cast<uint8_t>(p & 0xFF)};
  }

 private:
  MemoryDc m_dc;
  UniqueBitmap m_bitmap;
  uint32_t* m_bits = nullptr;
  HGDIOBJ m_previous = nullptr;
};

void AddCell(CDrawPicModel& chart, int i, uint32_t color) {
  std::string name = "TestOneCurve";
  name += std::to_string(i);  // (operator+ on a literal trips a false -Wrestrict in gcc 12 at -O3)
  chart.AddCurve(name, color);
  for (int j = 0; j <= 6; ++j) chart.AddPoint(name, static_cast<float>(j * i), static_cast<float>(i));
}

// Cells 0 to 99 green, a red one at 57, one curve without points at 100 and
// the last cell of the map.
void FillChart(CDrawPic& chart) {
  for (int i = 0; i < 100; ++i) AddCell(chart, i, i == 57 ? 0x4265FF : 0x31B229);
  chart.AddCurve("TestOneCurve100", 0x31B229);  // no points yet: not drawn
  for (int i = 101; i < CDrawPicModel::kCellCount - 1; ++i) {
    AddCell(chart, i, 0x31B229);
    chart.SetShown(i, 0);  // hidden: its cell stays blank
  }
  AddCell(chart, CDrawPicModel::kCellCount - 1, 0x4265FF);
}

TEST(ChartWindowPaint, GivesTheRenderersPixelsOverTheWholeClientArea) {
  EnsureOleForThread();
  CDrawPic chart;
  FillChart(chart);
  Canvas canvas;
  chart.Paint(canvas.dc(), RECT{0, 0, kW, kH}, kW, kH);

  CPixelSurface expected(kW, kH);
  PaintChart(chart, expected, kW, kH, nullptr);
  int differing = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      if (!(canvas.At(x, y) == expected.GetPixel(x, y))) ++differing;
  EXPECT_EQ(differing, 0);
  EXPECT_EQ(canvas.At(0, 0), (Rgb{41, 178, 49}));
  EXPECT_EQ(canvas.At(9, 0), (Rgb{76, 70, 48})) << "edge over the grid line";
  EXPECT_EQ(canvas.At(1 * 10 + 4, 1 * 10 + 4), (Rgb{41, 178, 49})) << "cell 55, second row";
  EXPECT_EQ(canvas.At(38 * 10 + 4, 3 * 10 + 4), (Rgb{255, 255, 255})) << "cell 200 is not shown";
  EXPECT_EQ(canvas.At(3 * 10 + 4, 1 * 10 + 4), (Rgb{255, 101, 66})) << "cell 57 is red";
  EXPECT_EQ(canvas.At(530 + 4, 450 + 4), (Rgb{255, 101, 66})) << "the last cell";
  EXPECT_EQ(canvas.At(46 * 10 + 4, 1 * 10 + 4), (Rgb{255, 255, 255})) << "cell 100 has no points yet";
}

TEST(ChartWindowPaint, APartialPaintChangesOnlyItsClipBox) {
  CDrawPic chart;
  FillChart(chart);
  Canvas canvas;
  const RECT clip{25, 5, 113, 37};
  chart.Paint(canvas.dc(), clip, kW, kH);

  CPixelSurface expected(kW, kH);
  PaintChart(chart, expected, kW, kH, nullptr);
  const Rgb marker{12, 34, 56};
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const bool inside = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
      const Rgb want = inside ? expected.GetPixel(x, y) : marker;
      ASSERT_EQ(canvas.At(x, y), want) << "at " << x << "," << y;
    }
  }
}

TEST(ChartWindowPaint, AnEmptyClipBoxPaintsNothing) {
  CDrawPic chart;
  Canvas canvas;
  chart.Paint(canvas.dc(), RECT{10, 10, 10, 40}, kW, kH);
  EXPECT_EQ(canvas.At(10, 10), (Rgb{12, 34, 56}));
}

TEST(ChartWindowPaint, AThousandPaintsLeaveTheGdiObjectCountAsItWas) {
  CDrawPic chart;
  for (int i = 0; i < CDrawPicModel::kCellCount; ++i) AddCell(chart, i, i % 7 == 0 ? 0x4265FF : 0x31B229);
  Canvas canvas;
  chart.Paint(canvas.dc(), RECT{0, 0, kW, kH}, kW, kH);
  const long before = CountGdiObjects(::GetCurrentProcess());
  if (before < 0) GTEST_SKIP() << "GDI objects cannot be counted on this system";
  for (int i = 0; i < 1000; ++i) chart.Paint(canvas.dc(), RECT{i % 50, 0, kW, kH - i % 30}, kW, kH);
  EXPECT_EQ(CountGdiObjects(::GetCurrentProcess()), before);
}

TEST(ChartWindowClass, IsRegisteredOnceWithTheControlsClassFields) {
  ASSERT_TRUE(CDrawPic::RegisterWindowClass());
  ASSERT_TRUE(CDrawPic::RegisterWindowClass()) << "a second registration finds the class";
  WNDCLASSA wc{};
  ASSERT_TRUE(::GetClassInfoA(::GetModuleHandleW(nullptr), CDrawPic::kClassName, &wc));
  EXPECT_EQ(wc.style, static_cast<UINT>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
  EXPECT_EQ(wc.cbClsExtra, 0);
  EXPECT_EQ(wc.cbWndExtra, 0);
}

// A parent window for the tests that need a real control; null where the
// system has no display (Wine without X).
struct Parent {
  explicit Parent(DWORD style = WS_POPUP) {
    hwnd = ::CreateWindowExW(0, L"STATIC", L"", style, 0, 0, 600, 600, nullptr, nullptr, ::GetModuleHandleW(nullptr),
                             nullptr);
  }
  ~Parent() {
    if (hwnd) ::DestroyWindow(hwnd);
  }
  HWND hwnd;
};

TEST(ChartWindowCreate, MakesAChildWithItsIdStyleTooltipAndAnUnerasedBackground) {
  Parent parent;
  if (!parent.hwnd) GTEST_SKIP() << "no display: windows cannot be created here";
  CDrawPic chart;
  ASSERT_TRUE(chart.Create(RECT{9, 111, 9 + 542, 111 + 462}, parent.hwnd, CDrawPic::kControlId, CDrawPic::kStyle));
  HWND hwnd = chart.GetSafeHwnd();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(::GetDlgCtrlID(hwnd), 39321);
  EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrW(hwnd, GWL_STYLE)) & 0xFFFF0000u, 0x50810000u);
  RECT client{};
  ::GetClientRect(hwnd, &client);
  EXPECT_EQ(client.right, 540) << "the border takes one pixel on each side";
  EXPECT_EQ(client.bottom, 460);
  EXPECT_NE(::SendMessageW(hwnd, WM_ERASEBKGND, 0, 0), 0);
  ASSERT_NE(chart.GetToolTip(), nullptr);
  EXPECT_EQ(::SendMessageW(chart.GetToolTip(), TTM_GETTOOLCOUNT, 0, 0), 1);
}

TEST(ChartWindowCreate, APointerPassingOverTheMapStartsNoMove) {
  Parent parent(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
  if (!parent.hwnd) GTEST_SKIP() << "no display: windows cannot be created here";
  CDrawPic chart;
  ASSERT_TRUE(chart.Create(RECT{9, 111, 551, 573}, parent.hwnd, CDrawPic::kControlId, CDrawPic::kStyle));
  // A caption press without the button held would start a move loop that
  // only a button release (or Escape) ends: the window would hang. A
  // watchdog presses Escape so that the test fails instead of hanging.
  const DWORD thread = ::GetCurrentThreadId();
  std::atomic<bool> done{false};
  std::thread watchdog([&] {
    for (int i = 0; i < 150 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!done) ::PostThreadMessageW(thread, WM_KEYDOWN, VK_ESCAPE, 0);
  });
  const auto start = std::chrono::steady_clock::now();
  ::SendMessageW(chart.GetSafeHwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
  const auto took = std::chrono::steady_clock::now() - start;
  done = true;
  watchdog.join();
  EXPECT_LT(took, std::chrono::milliseconds(1000)) << "the move handling waited for a button release";
}

TEST(ChartWindowCreate, TheObjectOutlivingItsWindowIsSafe) {
  CDrawPic chart;
  {
    Parent parent;
    if (!parent.hwnd) GTEST_SKIP() << "no display: windows cannot be created here";
    ASSERT_TRUE(chart.Create(RECT{0, 0, 100, 100}, parent.hwnd, CDrawPic::kControlId, CDrawPic::kStyle));
  }  // the parent takes the control's window with it
  EXPECT_EQ(chart.GetSafeHwnd(), nullptr);
  chart.Invalidate();  // no window: must not invalidate the whole desktop
  AddCell(chart, 0, 0x31B229);
  EXPECT_EQ(chart.GetCurveCount(), 1);
}

}  // namespace
