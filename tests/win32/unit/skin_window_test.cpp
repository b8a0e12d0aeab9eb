// The skin on Windows: the GDI owners and the real subclassed button in a
// window of its own.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/win32/GdiHandles.h"
#include "res/resource.h"
#include "skin/SkinButtonState.h"
#include "skin/SkinLayout.h"
#include "skin/win32/SkinButton.h"
#include "skin/win32/SkinPainter.h"
// ---------------------------------------------------------------- Win32: GDI owners
TEST(SkinGdiHandles, ObjectsAreDeletedOnceAndMoveTransfersOwnership) {
  HBRUSH raw = ::CreateSolidBrush(RGB(1, 2, 3));
  ASSERT_NE(raw, nullptr);
  {
    UniqueBrush first(raw);
    UniqueBrush second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), raw);
    EXPECT_EQ(::GetObjectType(raw), static_cast<DWORD>(OBJ_BRUSH));
    UniqueBrush third;
    third = std::move(second);
    EXPECT_EQ(::GetObjectType(raw), static_cast<DWORD>(OBJ_BRUSH));
  }
  EXPECT_EQ(::GetObjectType(raw), 0u) << "deleted when the last owner went";
}

TEST(SkinGdiHandles, SelectionAndDcStateAreRestored) {
  MemoryDc dc(nullptr);
  ASSERT_TRUE(dc);
  const HGDIOBJ stock = ::GetCurrentObject(dc.get(), OBJ_BITMAP);
  UniqueBitmap bitmap(::CreateCompatibleBitmap(dc.get(), 8, 8));
  ASSERT_TRUE(bitmap);
  {
    SelectedObject selected(dc.get(), bitmap.get());
    ASSERT_TRUE(selected);
    EXPECT_EQ(::GetCurrentObject(dc.get(), OBJ_BITMAP), bitmap.get());
    SavedDcState saved(dc.get());
    ::SetBkMode(dc.get(), TRANSPARENT);
    ::SetTextColor(dc.get(), RGB(9, 8, 7));
  }
  EXPECT_EQ(::GetCurrentObject(dc.get(), OBJ_BITMAP), stock);
  EXPECT_EQ(::GetBkMode(dc.get()), OPAQUE);
  EXPECT_NE(::GetTextColor(dc.get()), RGB(9, 8, 7));

  SelectedObject none(dc.get(), nullptr);
  EXPECT_FALSE(none);
}

// ---------------------------------------------------------------- Win32: the real button
// A hidden top-level window with owner-drawn buttons, as in the scan window.
class SkinWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_top = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 800, 583, nullptr, nullptr, nullptr, nullptr);
    if (!m_top) GTEST_SKIP() << "no window station";
  }
  void TearDown() override {
    if (m_top) ::DestroyWindow(m_top);
    ::ReleaseCapture();
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND AddButton(int id, const char* text = "") {
    return ::CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 10, 10, 94, 28, m_top,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  }
  // The skin message posted to the top-level window, or 0.
  UINT TakePosted(WPARAM* wParam) {
    MSG msg;
    if (!::PeekMessageA(&msg, m_top, WM_SKIN_HOVER, WM_SKIN_LEAVE, PM_REMOVE)) return 0;
    *wParam = msg.wParam;
    return msg.message;
  }
  HWND m_top = nullptr;
};

TEST_F(SkinWindowTest, HoverTakesCaptureAndLeaveAtTheEdgeGivesItBack) {
  HWND hwnd = AddButton(IDC_EXIT);
  CSkinButton button;
  ASSERT_TRUE(button.Attach(hwnd));

  ::SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(button.State().State(), CSkinButtonState::kHover);
  EXPECT_EQ(::GetCapture(), hwnd);
  WPARAM id = 0;
  EXPECT_EQ(TakePosted(&id), static_cast<UINT>(WM_SKIN_HOVER));
  EXPECT_EQ(id, static_cast<WPARAM>(IDC_EXIT));

  ::SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(93, 27));
  EXPECT_EQ(button.State().State(), CSkinButtonState::kHover);
  EXPECT_EQ(TakePosted(&id), 0u);

  ::SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(94, 27));
  EXPECT_EQ(button.State().State(), CSkinButtonState::kNormal);
  EXPECT_EQ(::GetCapture(), nullptr);
  EXPECT_EQ(TakePosted(&id), static_cast<UINT>(WM_SKIN_LEAVE));
  EXPECT_EQ(id, static_cast<WPARAM>(IDC_EXIT));
}

TEST_F(SkinWindowTest, PointerLeftOfTheButtonIsOutside) {
  HWND hwnd = AddButton(IDC_START);
  CSkinButton button;
  ASSERT_TRUE(button.Attach(hwnd));
  ::SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  ::SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(-3), 5));  // seen through the capture
  EXPECT_EQ(button.State().State(), CSkinButtonState::kNormal);
}

TEST_F(SkinWindowTest, HoverResetPostsLeaveOnEveryMove) {
  HWND hwnd = AddButton(IDC_STOP);
  CSkinButton button;
  ASSERT_TRUE(button.Attach(hwnd));
  CSkinButtonSet set;
  button.JoinSet(&set);
  set.ResetHover();
  WPARAM id = 0;
  for (int i = 0; i < 2; ++i) {
    ::SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(button.State().State(), CSkinButtonState::kNormal);
    EXPECT_EQ(TakePosted(&id), static_cast<UINT>(WM_SKIN_LEAVE));
    EXPECT_EQ(id, static_cast<WPARAM>(IDC_STOP));
  }
}

TEST_F(SkinWindowTest, AttachIsExclusiveAndDetachRestoresTheControl) {
  HWND hwnd = AddButton(IDC_START);
  const LONG_PTR original = ::GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
  {
    CSkinButton first;
    CSkinButton second;
    ASSERT_TRUE(first.SubclassDlgItem(m_top, IDC_START));
    EXPECT_EQ(first.GetSafeHwnd(), hwnd);
    EXPECT_FALSE(second.Attach(hwnd));
    EXPECT_FALSE(second.SubclassDlgItem(m_top, 4242));
    EXPECT_NE(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC), original);
  }
  EXPECT_EQ(::GetWindowLongPtrA(hwnd, GWLP_WNDPROC), original);

  CSkinButton again;
  EXPECT_TRUE(again.Attach(hwnd));
  ::DestroyWindow(hwnd);  // the control may go before the object
  EXPECT_EQ(again.GetSafeHwnd(), nullptr);
}

TEST_F(SkinWindowTest, ButtonWithoutImagesDrawsItsCaptionAndRestoresTheContext) {
  HWND hwnd = AddButton(IDC_START, "WWW");
  CSkinButton button;
  ASSERT_TRUE(button.Attach(hwnd));
  EXPECT_FALSE(button.LoadImages(9999, 0, 9998)) << "no such bitmap";

  MemoryDc dc(nullptr);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = 94;
  info.bmiHeader.biHeight = -28;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  UniqueBitmap surface(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  ASSERT_TRUE(surface);
  SelectedObject selected(dc.get(), surface.get());
  std::memset(bits, 0xFF, 94 * 28 * 4);

  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_BUTTON;
  item.CtlID = IDC_START;
  item.hwndItem = hwnd;
  item.hDC = dc.get();
  item.rcItem = RECT{0, 0, 94, 28};
  EXPECT_TRUE(CSkinButton::ReflectDrawItem(&item));
  ::GdiFlush();

  int inked = 0;
  const uint32_t* px = static_cast<const uint32_t*>(bits);
  for (int i = 0; i < 94 * 28; ++i) inked += (px[i] & 0xFFFFFF) != 0xFFFFFF;
  EXPECT_GT(inked, 0) << "the caption is drawn when no image is loaded";
  EXPECT_EQ(::GetBkMode(dc.get()), OPAQUE);

  HWND other =
      ::CreateWindowExA(0, "BUTTON", "", WS_CHILD | BS_OWNERDRAW, 0, 0, 10, 10, m_top, nullptr, nullptr, nullptr);
  item.hwndItem = other;
  EXPECT_FALSE(CSkinButton::ReflectDrawItem(&item)) << "not a skin button";
  EXPECT_FALSE(CSkinButton::ReflectDrawItem(nullptr));
}

TEST_F(SkinWindowTest, PaintMovesEveryButtonToItsPlace) {
  CSkinButton start, exit, stop, banner;
  ASSERT_TRUE(start.Attach(AddButton(IDC_START)));
  ASSERT_TRUE(exit.Attach(AddButton(IDC_EXIT)));
  ASSERT_TRUE(stop.Attach(AddButton(IDC_STOP)));
  ASSERT_TRUE(banner.Attach(AddButton(IDC_WEBSITE)));
  const SkinPaintButtons set{start, exit, stop, banner};

  MemoryDc dc(nullptr);
  for (int paint = 0; paint < 3; ++paint) PaintSkin(m_top, dc.get(), set);

  for (const SkinButtonPlace& place : kSkinButtonLayout) {
    RECT rc{};
    HWND hwnd = set.For(place.role).GetSafeHwnd();
    ::GetWindowRect(hwnd, &rc);
    ::MapWindowPoints(nullptr, m_top, reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_EQ((SkinRect{rc.left, rc.top, rc.right, rc.bottom}), SkinButtonRect(place.role)) << place.controlId;
    EXPECT_EQ(::GetDlgCtrlID(hwnd), place.controlId);
  }
}
