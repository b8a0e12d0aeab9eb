// Skin buttons without a window (hover tracking, the hover-reset flag, press
// and release, image choice and caption rule), the skin layout, and the
// committed bitmap files. The GDI owners and the real subclassed button are
// tested in tests/win32/unit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "skin/SkinButtonState.h"
#include "skin/SkinLayout.h"

namespace {

// ---------------------------------------------------------------- fakes
struct Posted {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// Records what the state class asks of the window, and models the mouse
// capture as one holder: this button, another window, or none.
class RecordingPort : public ISkinButtonPort {
 public:
  enum class Capture { kNone, kThisButton, kOther };

  explicit RecordingPort(uint16_t id = IDC_START, SkinRect client = {0, 0, 94, 28}) : m_id(id), m_client(client) {}

  void PassToDefault() override {
    m_log.push_back("default");
    if (onDefault) onDefault();
  }
  SkinRect ClientRect() override { return m_client; }
  bool HoldsCapture() override { return capture == Capture::kThisButton; }
  void TakeCapture() override {
    m_log.push_back("capture");
    capture = Capture::kThisButton;
  }
  void ReleaseCapture() override {
    m_log.push_back("release");
    if (capture == Capture::kThisButton) capture = Capture::kNone;
  }
  void RepaintNow() override { m_log.push_back("repaint"); }
  void PostToMainWindow(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    m_log.push_back(message == WM_SKIN_HOVER ? "post hover" : message == WM_SKIN_LEAVE ? "post leave" : "post ?");
    posted.push_back({message, wParam, lParam});
  }
  uint16_t ControlId() override { return m_id; }

  std::vector<std::string> TakeLog() { return std::exchange(m_log, {}); }

  Capture capture = Capture::kNone;
  std::vector<Posted> posted;
  std::function<void()> onDefault;  // what the push button's own handling does

 private:
  uint16_t m_id;
  SkinRect m_client;
  std::vector<std::string> m_log;
};

class FakeImageStore : public ISkinImageStore {
 public:
  void ReleaseAll() override {
    log.push_back("release");
    for (bool& l : loaded) l = false;
  }
  bool Load(SkinImage which, uint16_t id) override {
    log.push_back("load " + std::to_string(id));
    const bool ok = id != 0 && id != failingId;
    if (ok) loaded[static_cast<int>(which)] = true;
    return ok;
  }
  bool IsLoaded(SkinImage which) const override { return loaded[static_cast<int>(which)]; }

  bool loaded[3] = {false, false, false};
  uint16_t failingId = 0xFFFF;
  std::vector<std::string> log;
};

class FakeCanvas : public ISkinItemCanvas {
 public:
  bool CopyImage(SkinImage which) override {
    copied.push_back(which);
    return copySucceeds;
  }
  void DrawCaption() override { ++captions; }

  bool copySucceeds = true;
  std::vector<SkinImage> copied;
  int captions = 0;
};

// The button belongs to a set (a window's buttons) whose hover-reset flag
// starts clear.
class SkinButtonTest : public ::testing::Test {
 protected:
  void SetUp() override { button.JoinSet(&set); }

  // Hover entered by a first move over the button; the log is cleared.
  void EnterHover() {
    button.OnMouseMove(port, 10, 10);
    ASSERT_EQ(button.State(), CSkinButtonState::kHover);
    port.TakeLog();
    port.posted.clear();
  }

  CSkinButtonSet set;
  RecordingPort port;
  CSkinButtonState button;
};

using Log = std::vector<std::string>;

// ---------------------------------------------------------------- hover
TEST_F(SkinButtonTest, FirstMoveEntersHoverAfterDefaultHandling) {
  EXPECT_EQ(button.State(), CSkinButtonState::kNormal);
  EXPECT_EQ(button.Tracking(), 0);

  button.OnMouseMove(port, 5, 5);

  EXPECT_EQ(button.State(), CSkinButtonState::kHover);
  EXPECT_EQ(button.Tracking(), 1);
  EXPECT_EQ(port.capture, RecordingPort::Capture::kThisButton);
  EXPECT_EQ(port.TakeLog(), (Log{"default", "capture", "repaint", "post hover"}));
  ASSERT_EQ(port.posted.size(), 1u);
  EXPECT_EQ(port.posted[0].message, 1525u);
  EXPECT_EQ(port.posted[0].wParam, static_cast<uintptr_t>(IDC_START));
  EXPECT_EQ(port.posted[0].lParam, 0);
}

TEST_F(SkinButtonTest, MovesInsideWhileHoveringChangeNothing) {
  EnterHover();
  for (auto [x, y] : {std::pair{0, 0}, {93, 27}, {0, 27}, {93, 0}, {47, 14}}) {
    button.OnMouseMove(port, x, y);
    EXPECT_EQ(button.State(), CSkinButtonState::kHover) << x << "," << y;
  }
  EXPECT_EQ(port.TakeLog(), Log(5, "default"));
  EXPECT_TRUE(port.posted.empty());
}

TEST_F(SkinButtonTest, RightAndBottomEdgesCountAsOutside) {
  for (auto [x, y] : {std::pair{94, 10}, {10, 28}, {94, 28}, {-1, 10}, {10, -1}, {500, 300}}) {
    CSkinButtonState b;
    RecordingPort p;
    b.OnMouseMove(p, 10, 10);
    p.TakeLog();
    p.posted.clear();

    b.OnMouseMove(p, x, y);

    EXPECT_EQ(b.State(), CSkinButtonState::kNormal) << x << "," << y;
    EXPECT_EQ(b.Tracking(), 0);
    EXPECT_EQ(p.capture, RecordingPort::Capture::kNone);
    EXPECT_EQ(p.TakeLog(), (Log{"default", "repaint", "release", "post leave"})) << x << "," << y;
    ASSERT_EQ(p.posted.size(), 1u);
    EXPECT_EQ(p.posted[0].message, 1526u);
    EXPECT_EQ(p.posted[0].wParam, static_cast<uintptr_t>(IDC_START));
    EXPECT_EQ(p.posted[0].lParam, 0);
  }
}

TEST_F(SkinButtonTest, ClientRectOffsetIsHonoured) {
  RecordingPort offset(IDC_EXIT, SkinRect{10, 20, 30, 40});
  button.OnMouseMove(offset, 15, 25);
  ASSERT_EQ(button.State(), CSkinButtonState::kHover);
  button.OnMouseMove(offset, 10, 20);  // top-left corner: inside
  EXPECT_EQ(button.State(), CSkinButtonState::kHover);
  button.OnMouseMove(offset, 29, 40);  // bottom edge: outside
  EXPECT_EQ(button.State(), CSkinButtonState::kNormal);
}

TEST_F(SkinButtonTest, BannerPostsItsOwnIdOnHoverAndLeave) {
  RecordingPort banner(IDC_WEBSITE, SkinRect{0, 0, 800, 100});
  button.OnMouseMove(banner, 400, 50);
  button.OnMouseMove(banner, 400, 100);
  ASSERT_EQ(banner.posted.size(), 2u);
  EXPECT_EQ(banner.posted[0].message, WM_SKIN_HOVER);
  EXPECT_EQ(banner.posted[1].message, WM_SKIN_LEAVE);
  EXPECT_EQ(banner.posted[0].wParam, 1025u);
  EXPECT_EQ(banner.posted[1].wParam, 1025u);
}

TEST_F(SkinButtonTest, LostCaptureWhileNormalEntersHoverAgain) {
  EnterHover();
  button.OnMouseMove(port, 94, 0);  // leave
  port.capture = RecordingPort::Capture::kOther;
  port.TakeLog();
  button.OnMouseMove(port, 3, 3);
  EXPECT_EQ(button.State(), CSkinButtonState::kHover);
  EXPECT_EQ(port.TakeLog(), (Log{"default", "capture", "repaint", "post hover"}));
}

// ---------------------------------------------------------------- hover reset
TEST_F(SkinButtonTest, HoverResetLeavesOnEveryMoveWithoutDefaultHandling) {
  set.ResetHover();
  button.OnMouseMove(port, 10, 10);
  button.OnMouseMove(port, 11, 10);

  EXPECT_EQ(button.State(), CSkinButtonState::kNormal);
  EXPECT_EQ(button.Tracking(), 0);
  EXPECT_EQ(port.TakeLog(), (Log{"repaint", "release", "post leave", "repaint", "release", "post leave"}));
  ASSERT_EQ(port.posted.size(), 2u);
  EXPECT_EQ(port.posted[1].message, WM_SKIN_LEAVE);
  EXPECT_TRUE(set.HoverResetPending()) << "a button only reads the flag";
}

TEST_F(SkinButtonTest, HoverResetEndsHoverAndPress) {
  EnterHover();
  set.ResetHover();
  button.OnMouseMove(port, 10, 10);
  EXPECT_EQ(button.State(), CSkinButtonState::kNormal);
  EXPECT_EQ(port.capture, RecordingPort::Capture::kNone);

  button.OnLButtonDown(port);
  ASSERT_EQ(button.State(), CSkinButtonState::kPressed);
  button.OnMouseMove(port, 10, 10);
  EXPECT_EQ(button.State(), CSkinButtonState::kNormal);
}

TEST_F(SkinButtonTest, HoverComesBackOnlyAfterTheFlagIsCleared) {
  set.ResetHover();
  button.OnMouseMove(port, 10, 10);
  EXPECT_EQ(button.State(), CSkinButtonState::kNormal);
  set.PointerOverBackground();  // the pointer crossed the window's background
  EXPECT_FALSE(set.HoverResetPending());
  button.OnMouseMove(port, 10, 10);
  EXPECT_EQ(button.State(), CSkinButtonState::kHover);
}

TEST_F(SkinButtonTest, AnotherWindowsResetLeavesThisButtonAlone) {
  CSkinButtonSet otherWindow;
  otherWindow.ResetHover();
  button.OnMouseMove(port, 10, 10);
  EXPECT_EQ(button.State(), CSkinButtonState::kHover);

  CSkinButtonState loose;  // in no set: never reset
  set.ResetHover();
  loose.OnMouseMove(port, 10, 10);
  EXPECT_EQ(loose.State(), CSkinButtonState::kHover);
}

// ---------------------------------------------------------------- press and release
TEST_F(SkinButtonTest, PressAndReleaseSetTheStateBeforeDefaultHandling) {
  EnterHover();
  int stateSeenByDefault = -1;
  port.onDefault = [&] { stateSeenByDefault = button.State(); };

  button.OnLButtonDown(port);
  EXPECT_EQ(stateSeenByDefault, CSkinButtonState::kPressed);
  button.OnLButtonUp(port);
  EXPECT_EQ(stateSeenByDefault, CSkinButtonState::kNormal);
  EXPECT_EQ(port.TakeLog(), (Log{"default", "default"}));
  EXPECT_TRUE(port.posted.empty());
}

TEST_F(SkinButtonTest, MovingOffAPressedButtonKeepsItPressed) {
  EnterHover();
  button.OnLButtonDown(port);  // the default press keeps (takes) the capture
  for (auto [x, y] : {std::pair{10, 10}, {94, 28}, {-40, 200}, {10, 10}}) {
    button.OnMouseMove(port, x, y);
    EXPECT_EQ(button.State(), CSkinButtonState::kPressed) << x << "," << y;
  }
  EXPECT_TRUE(port.posted.empty());
}

TEST_F(SkinButtonTest, PressedWithoutTrackingDoesNotEnterHover) {
  button.OnLButtonDown(port);  // e.g. pressed right after a hover reset
  ASSERT_EQ(button.Tracking(), 0);
  button.OnMouseMove(port, 10, 10);
  EXPECT_EQ(button.State(), CSkinButtonState::kPressed);
  EXPECT_TRUE(port.posted.empty());
}

TEST_F(SkinButtonTest, ReleaseOutsideSetsNormalAndLeavesTheClickToDefault) {
  EnterHover();
  // The push button's own handling: release the capture; a click is reported
  // only when the pointer is over the button, which the default decides.
  port.onDefault = [&] { port.capture = RecordingPort::Capture::kNone; };
  button.OnLButtonDown(port);
  button.OnMouseMove(port, 200, 10);
  button.OnLButtonUp(port);
  EXPECT_EQ(button.State(), CSkinButtonState::kNormal);
  EXPECT_TRUE(port.posted.empty());
}

TEST_F(SkinButtonTest, AfterAClickTheNextMoveEntersHoverAgain) {
  EnterHover();
  port.onDefault = [&] { port.capture = RecordingPort::Capture::kNone; };
  button.OnLButtonDown(port);
  button.OnLButtonUp(port);
  ASSERT_EQ(button.Tracking(), 1) << "tracking survives the click";
  ASSERT_EQ(port.capture, RecordingPort::Capture::kNone);
  port.onDefault = nullptr;
  port.TakeLog();

  button.OnMouseMove(port, 10, 10);
  EXPECT_EQ(button.State(), CSkinButtonState::kHover);
  EXPECT_EQ(port.capture, RecordingPort::Capture::kThisButton);
  EXPECT_EQ(port.TakeLog(), (Log{"default", "capture", "repaint", "post hover"}));
}

// ---------------------------------------------------------------- images and drawing
TEST_F(SkinButtonTest, ImageFollowsState) {
  EXPECT_EQ(button.ImageForState(), SkinImage::kNormal);
  button.OnMouseMove(port, 1, 1);
  EXPECT_EQ(button.ImageForState(), SkinImage::kHover);
  button.OnLButtonDown(port);
  EXPECT_EQ(button.ImageForState(), SkinImage::kPressed);
  button.OnLButtonUp(port);
  EXPECT_EQ(button.ImageForState(), SkinImage::kNormal);
}

TEST_F(SkinButtonTest, DrawCopiesTheStateImageThenTheCaption) {
  FakeImageStore store;
  ASSERT_TRUE(CSkinButtonState::LoadImages(store, IDB_START, 0, IDB_START_HOVER));
  FakeCanvas canvas;
  button.Draw(store, canvas);
  EnterHover();
  button.Draw(store, canvas);
  EXPECT_EQ(canvas.copied, (std::vector<SkinImage>{SkinImage::kNormal, SkinImage::kHover}));
  EXPECT_EQ(canvas.captions, 2);
}

TEST_F(SkinButtonTest, PressedWithoutPressedImageDrawsOnlyTheCaption) {
  FakeImageStore store;
  ASSERT_TRUE(CSkinButtonState::LoadImages(store, IDB_START, 0, IDB_START_HOVER));
  button.OnLButtonDown(port);
  FakeCanvas canvas;
  button.Draw(store, canvas);
  EXPECT_TRUE(canvas.copied.empty());
  EXPECT_EQ(canvas.captions, 1);
}

TEST_F(SkinButtonTest, FailedCopyDrawsNoCaption) {
  FakeImageStore store;
  ASSERT_TRUE(CSkinButtonState::LoadImages(store, IDB_EXIT, 0, IDB_EXIT_HOVER));
  FakeCanvas canvas;
  canvas.copySucceeds = false;
  button.Draw(store, canvas);
  EXPECT_EQ(canvas.copied.size(), 1u);
  EXPECT_EQ(canvas.captions, 0);
}

TEST(SkinButtonImages, LoadImagesReleasesFirstAndSkipsZeroIds) {
  FakeImageStore store;
  EXPECT_TRUE(CSkinButtonState::LoadImages(store, IDB_STOP, 0, IDB_STOP_HOVER));
  EXPECT_EQ(store.log, (std::vector<std::string>{"release", "load 143", "load 144"}));
  EXPECT_TRUE(store.IsLoaded(SkinImage::kNormal));
  EXPECT_FALSE(store.IsLoaded(SkinImage::kPressed));
  EXPECT_TRUE(store.IsLoaded(SkinImage::kHover));

  store.log.clear();
  EXPECT_TRUE(CSkinButtonState::LoadImages(store, IDB_START, IDB_START_DOWN, IDB_START_HOVER));
  EXPECT_EQ(store.log, (std::vector<std::string>{"release", "load 132", "load 134", "load 133"}));
}

TEST(SkinButtonImages, LoadImagesStopsAtTheFirstFailure) {
  FakeImageStore store;
  ASSERT_TRUE(CSkinButtonState::LoadImages(store, IDB_START, 0, IDB_START_HOVER));

  store.log.clear();
  store.failingId = IDB_EXIT;  // normal image missing: nothing else is tried
  EXPECT_FALSE(CSkinButtonState::LoadImages(store, IDB_EXIT, IDB_EXIT_DOWN, IDB_EXIT_HOVER));
  EXPECT_EQ(store.log, (std::vector<std::string>{"release", "load 136"}));
  EXPECT_FALSE(store.IsLoaded(SkinImage::kNormal));
  EXPECT_FALSE(store.IsLoaded(SkinImage::kHover)) << "old images are gone";

  store.log.clear();
  store.failingId = IDB_EXIT_DOWN;  // pressed missing: hover stays empty
  EXPECT_FALSE(CSkinButtonState::LoadImages(store, IDB_EXIT, IDB_EXIT_DOWN, IDB_EXIT_HOVER));
  EXPECT_EQ(store.log, (std::vector<std::string>{"release", "load 136", "load 138"}));
  EXPECT_TRUE(store.IsLoaded(SkinImage::kNormal));
  EXPECT_FALSE(store.IsLoaded(SkinImage::kHover));

  store.log.clear();  // the normal image is required: 0 is no image
  EXPECT_FALSE(CSkinButtonState::LoadImages(store, 0, 0, 0));
}

TEST(SkinButtonImages, ButtonWithoutImagesDrawsItsCaption) {
  FakeImageStore store;
  CSkinButtonState button;
  FakeCanvas canvas;
  button.Draw(store, canvas);
  EXPECT_TRUE(canvas.copied.empty());
  EXPECT_EQ(canvas.captions, 1);
}

// ---------------------------------------------------------------- layout
TEST(SkinLayout, ButtonPlacesAndImages) {
  EXPECT_EQ(SkinButtonRect(SkinButtonRole::kStart), (SkinRect{578, 530, 672, 558}));
  EXPECT_EQ(SkinButtonRect(SkinButtonRole::kStop), SkinButtonRect(SkinButtonRole::kStart));
  EXPECT_EQ(SkinButtonRect(SkinButtonRole::kExit), (SkinRect{686, 530, 780, 558}));
  EXPECT_EQ(SkinButtonRect(SkinButtonRole::kBanner), (SkinRect{0, 0, 800, 100}));

  struct Want {
    SkinButtonRole role;
    uint16_t control, normal, pressed, hover;
  };
  const Want order[] = {{SkinButtonRole::kStart, 1000, 132, 0, 133},
                        {SkinButtonRole::kExit, 1001, 136, 0, 137},
                        {SkinButtonRole::kStop, 1014, 143, 0, 144},
                        {SkinButtonRole::kBanner, 1025, 157, 0, 157}};
  ASSERT_EQ(kSkinButtonLayout.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    const SkinButtonPlace& p = kSkinButtonLayout[i];
    EXPECT_EQ(p.role, order[i].role) << i;
    EXPECT_EQ(p.controlId, order[i].control) << i;
    EXPECT_EQ(p.normalId, order[i].normal) << i;
    EXPECT_EQ(p.pressedId, order[i].pressed) << i;
    EXPECT_EQ(p.hoverId, order[i].hover) << i;
    EXPECT_EQ(&SkinButtonLayoutFor(p.role), &p);
  }
}

TEST(SkinLayout, EveryButtonIsExactlyAsLargeAsItsImages) {
  for (const SkinButtonPlace& p : kSkinButtonLayout) {
    for (uint16_t id : {p.normalId, p.hoverId}) {
      const SkinBitmapInfo* info = FindSkinBitmap(id);
      ASSERT_NE(info, nullptr) << id;
      EXPECT_EQ(info->width, p.width) << id;
      EXPECT_EQ(info->height, p.height) << id;
    }
  }
  EXPECT_EQ(FindSkinBitmap(999), nullptr);
}

TEST(SkinLayout, ButtonsLieInsideTheBackground) {
  const SkinBitmapInfo* bg = FindSkinBitmap(kSkinBackgroundId);
  ASSERT_NE(bg, nullptr);
  EXPECT_EQ(bg->width, 800);
  EXPECT_EQ(bg->height, 583);
  for (const SkinButtonPlace& p : kSkinButtonLayout) {
    EXPECT_GE(p.x, 0);
    EXPECT_GE(p.y, 0);
    EXPECT_LE(p.x + p.width, bg->width);
    EXPECT_LE(p.y + p.height, bg->height);
  }
}

TEST(SkinLayout, BackgroundIsCopiedUnscaledOverTheClientArea) {
  const SkinBlit blit = SkinBackgroundBlit(SkinRect{0, 0, 798, 581});
  EXPECT_EQ(blit.destX, 0);
  EXPECT_EQ(blit.destY, 0);
  EXPECT_EQ(blit.width, 798);
  EXPECT_EQ(blit.height, 581);
  EXPECT_EQ(blit.srcX, 0);
  EXPECT_EQ(blit.srcY, 0);
}

// ---------------------------------------------------------------- bitmap files
// The committed images, found from this source file's place in the tree.
std::filesystem::path ResDir() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "res";
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<uint8_t> data(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return data;
}

uint32_t U32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& d, size_t at) { return static_cast<uint16_t>(d[at] | (d[at + 1] << 8)); }

const char* FileOf(uint16_t id) {
  switch (id) {
    case IDB_BACKGROUND:
      return "background.bmp";
    case IDB_START:
      return "start.bmp";
    case IDB_START_HOVER:
      return "start_hover.bmp";
    case IDB_START_DOWN:
      return "start_down.bmp";
    case IDB_EXIT:
      return "exit.bmp";
    case IDB_EXIT_HOVER:
      return "exit_hover.bmp";
    case IDB_EXIT_DOWN:
      return "exit_down.bmp";
    case IDB_STOP:
      return "stop.bmp";
    case IDB_STOP_HOVER:
      return "stop_hover.bmp";
    case IDB_STOP_DOWN:
      return "stop_down.bmp";
    case IDB_BANNER:
      return "banner.bmp";
    default:
      return "";
  }
}

void ExpectBitmapFormat(uint16_t id, int32_t width, int32_t height) {
  const std::vector<uint8_t> d = ReadFile(ResDir() / "bitmaps" / FileOf(id));
  ASSERT_GE(d.size(), 54u) << FileOf(id) << " missing or truncated";
  const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  EXPECT_EQ(d[0], 'B');
  EXPECT_EQ(d[1], 'M');
  EXPECT_EQ(U32(d, 2), d.size()) << id;
  EXPECT_EQ(U32(d, 10), 54u) << id << ": no colour table between header and pixels";
  EXPECT_EQ(U32(d, 14), 40u) << id << ": BITMAPINFOHEADER";
  EXPECT_EQ(static_cast<int32_t>(U32(d, 18)), width) << id;
  EXPECT_EQ(static_cast<int32_t>(U32(d, 22)), height) << id << ": positive height = bottom-up";
  EXPECT_EQ(U16(d, 26), 1u) << id;
  EXPECT_EQ(U16(d, 28), 24u) << id;
  EXPECT_EQ(U32(d, 30), 0u) << id << ": BI_RGB";
  EXPECT_EQ(U32(d, 46), 0u) << id << ": colours used";
  EXPECT_EQ(d.size(), 54u + stride * static_cast<uint32_t>(height)) << id;
}

TEST(SkinBitmapFiles, SizesAndPixelFormat) {
  for (const SkinBitmapInfo& info : kSkinBitmaps) ExpectBitmapFormat(info.resourceId, info.width, info.height);
  for (uint16_t id : {IDB_START_DOWN, IDB_EXIT_DOWN, IDB_STOP_DOWN}) ExpectBitmapFormat(id, 94, 28);
}

// The labels paint their own rectangles with the light blue label brush, so
// the background behind every label must be exactly that colour, or each
// label would show as a box. Template rectangles in dialog units, which are
// 1.5 pixels each with the window's 9 pt SimSun.
TEST(SkinBitmapFiles, LabelsSitOnTheLabelBrushColour) {
  const std::vector<uint8_t> d = ReadFile(ResDir() / "bitmaps" / "background.bmp");
  ASSERT_EQ(d.size(), 54u + 2400u * 583u);
  auto pixel = [&](int x, int y) {  // -> 0x00BBGGRR like a COLORREF
    const size_t at = 54 + static_cast<size_t>(582 - y) * 2400 + static_cast<size_t>(x) * 3;
    return static_cast<uint32_t>(d[at + 2] | (d[at + 1] << 8) | (d[at] << 16));
  };
  const int labels[][4] = {
      {455, 216, 31, 8}, {455, 200, 44, 8}, {401, 200, 40, 8}, {401, 230, 41, 8}, {401, 216, 43, 8}, {455, 246, 51, 8},
      {401, 246, 41, 8}, {455, 260, 45, 8}, {401, 260, 41, 8}, {401, 276, 41, 8}, {455, 276, 42, 8}, {455, 290, 49, 8},
      {401, 290, 33, 8}, {474, 230, 8, 8},  {390, 327, 25, 8}, {455, 230, 14, 8},  // the percent edit
  };
  for (const auto& r : labels) {
    const int x0 = r[0] * 3 / 2, y0 = r[1] * 3 / 2;
    const int x1 = ((r[0] + r[2]) * 3 + 1) / 2, y1 = ((r[1] + r[3]) * 3 + 1) / 2;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        ASSERT_EQ(pixel(x, y), 0xFEE9E1u) << "label at " << r[0] << "," << r[1] << " pixel " << x << "," << y;
      }
    }
  }
}

TEST(SkinBitmapFiles, IconHasTrueColourAnd256ColourImages) {
  const std::vector<uint8_t> d = ReadFile(ResDir() / "MorvekScan.ico");
  ASSERT_GE(d.size(), 6u);
  EXPECT_EQ(U16(d, 0), 0u);
  EXPECT_EQ(U16(d, 2), 1u) << "icon, not cursor";
  const uint16_t count = U16(d, 4);
  bool have[2][2] = {};  // [32 px?][true colour?]
  for (uint16_t i = 0; i < count; ++i) {
    const size_t e = 6 + 16u * i;
    ASSERT_LE(e + 16, d.size());
    const int size = d[e] == 0 ? 256 : d[e];
    const uint16_t bpp = U16(d, e + 6);
    const uint32_t bytes = U32(d, e + 8), offset = U32(d, e + 12);
    ASSERT_LE(static_cast<size_t>(offset) + bytes, d.size());
    EXPECT_EQ(U32(d, offset), 40u);
    EXPECT_EQ(static_cast<int32_t>(U32(d, offset + 4)), size);
    EXPECT_EQ(static_cast<int32_t>(U32(d, offset + 8)), 2 * size) << "image and mask";
    if (size == 32 || size == 16) have[size == 32][bpp == 32] = true;
  }
  EXPECT_TRUE(have[0][0] && have[0][1] && have[1][0] && have[1][1]);
}

}  // namespace
