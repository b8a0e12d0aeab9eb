#pragma once
// The behaviour of a skin button, free of any window system: the hover
// tracking with its mouse capture, the three drawing states, the messages
// posted on entering and leaving hover, the image choice and the rule for
// when the caption is drawn. The Win32 button (skin/win32/SkinButton.h) feeds
// its mouse messages in here and supplies the window operations through the
// small ports below; tests drive the same class with recording ports.
#include <atomic>
#include <cstdint>

// The skin buttons of one window, as far as they share state: the hover-reset
// flag. The window sets it whenever it swaps Start and Stop under the pointer
// and when it closes, and clears it when the pointer moves over its own
// background. While it is set no button of the set may stay in (or enter)
// hover. Written by the window's thread, read by the buttons.
class CSkinButtonSet {
 public:
  void ResetHover() { m_bHoverReset.store(1); }
  void PointerOverBackground() {
    int32_t set = 1;
    m_bHoverReset.compare_exchange_strong(set, 0);
  }
  bool HoverResetPending() const { return m_bHoverReset.load() == 1; }

 private:
  std::atomic<int32_t> m_bHoverReset{0};
};

// Posted to the main window when a button enters / leaves hover;
// wParam = the button's control ID, lParam = 0.
constexpr uint32_t WM_SKIN_HOVER = 0x0400 + 501;  // WM_USER + 501 = 1525
constexpr uint32_t WM_SKIN_LEAVE = 0x0400 + 502;  // WM_USER + 502 = 1526

// Client rectangle: left and top inside, right and bottom outside.
struct SkinRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  bool Contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool operator==(const SkinRect&) const = default;
};

// The button's three images, also the three drawing states' looks.
enum class SkinImage { kNormal, kPressed, kHover };

// Window operations the hover tracking needs from the button's window.
class ISkinButtonPort {
 public:
  virtual ~ISkinButtonPort() = default;
  // Hands the message being processed to the push button's own handling
  // (press, release, capture and click notification).
  virtual void PassToDefault() = 0;
  virtual SkinRect ClientRect() = 0;
  // True when the mouse capture is held by this button (not by another window, not by none).
  virtual bool HoldsCapture() = 0;
  virtual void TakeCapture() = 0;
  virtual void ReleaseCapture() = 0;
  // Invalidates the whole button with its background erased and repaints it at once.
  virtual void RepaintNow() = 0;
  // Posts (does not send) a message to the main window of the thread.
  virtual void PostToMainWindow(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  virtual uint16_t ControlId() = 0;
};

// The three bitmaps a button owns.
class ISkinImageStore {
 public:
  virtual ~ISkinImageStore() = default;
  // Deletes every image held.
  virtual void ReleaseAll() = 0;
  // Loads bitmap resource `resourceId` as image `which`; false when it cannot be loaded.
  virtual bool Load(SkinImage which, uint16_t resourceId) = 0;
  virtual bool IsLoaded(SkinImage which) const = 0;
};

// One draw request of the owner-drawn button.
class ISkinItemCanvas {
 public:
  virtual ~ISkinItemCanvas() = default;
  // Copies the loaded image unscaled to the item's top-left corner;
  // false when it cannot be queried, selected or copied.
  virtual bool CopyImage(SkinImage which) = 0;
  // Draws the button's window text centred horizontally from the top edge.
  virtual void DrawCaption() = 0;
};

class CSkinButtonState {
 public:
  static constexpr int32_t kNormal = 0;
  static constexpr int32_t kPressed = 1;
  static constexpr int32_t kHover = 2;

  // Deletes the images held, then loads normal (required), pressed and hover
  // (0 = none) in that order. False at the first image that fails to load; the
  // ones after it stay empty.
  static bool LoadImages(ISkinImageStore& store, uint16_t normalId, uint16_t pressedId, uint16_t hoverId);

  // WM_MOUSEMOVE with the pointer in client coordinates.
  void OnMouseMove(ISkinButtonPort& port, int32_t x, int32_t y);
  // WM_LBUTTONDOWN / WM_LBUTTONUP: the state changes before the default handling runs.
  void OnLButtonDown(ISkinButtonPort& port);
  void OnLButtonUp(ISkinButtonPort& port);

  // The image for the current state: pressed, hover, otherwise normal.
  SkinImage ImageForState() const;
  // Paints one draw request: the state's image if it is loaded, then the
  // caption; a failed copy of a loaded image ends the drawing without caption.
  void Draw(const ISkinImageStore& store, ISkinItemCanvas& canvas) const;

  int32_t State() const { return m_nState; }
  int32_t Tracking() const { return m_bTracking; }

  // The set whose hover-reset flag this button obeys; none: never reset.
  void JoinSet(const CSkinButtonSet* set) { m_pSet = set; }

 private:
  void Enter(ISkinButtonPort& port);
  void Leave(ISkinButtonPort& port);

  const CSkinButtonSet* m_pSet = nullptr;
  int32_t m_bTracking = 0;  // 1 from Enter (capture taken for hover tracking) to Leave
  int32_t m_nState = kNormal;
};
