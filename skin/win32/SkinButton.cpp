#include "skin/win32/SkinButton.h"

namespace {

// The window property that leads from a subclassed control to its object.
constexpr char kSkinButtonProp[] = "MorvekSkinButton";

HMODULE g_hSkinModule = nullptr;

// The top-level window the button lives in: the thread's main window, the scan window.
HWND MainWindowOf(HWND hwnd) {
  HWND top = hwnd;
  while (top && (::GetWindowLongPtrA(top, GWL_STYLE) & WS_CHILD)) {
    HWND parent = ::GetParent(top);
    if (!parent) break;
    top = parent;
  }
  return top;
}

}  // namespace

void SetSkinResourceModule(HMODULE module) { g_hSkinModule = module; }

UniqueBitmap LoadSkinBitmap(uint16_t resourceId) {
  if (resourceId == 0) return UniqueBitmap();
  LPCSTR name = MAKEINTRESOURCEA(resourceId);
  HMODULE module = g_hSkinModule;
  if (!module || !::FindResourceA(module, name, MAKEINTRESOURCEA(2) /* RT_BITMAP */)) {
    module = ::GetModuleHandleA(nullptr);
  }
  return UniqueBitmap(::LoadBitmapA(module, name));
}

// The window operations the state class asks for, bound to the message being handled.
class CSkinButton::Port : public ISkinButtonPort {
 public:
  Port(CSkinButton& button, UINT message, WPARAM wParam, LPARAM lParam)
      : m_button(button), m_message(message), m_wParam(wParam), m_lParam(lParam) {}

  void PassToDefault() override { m_button.CallDefault(m_message, m_wParam, m_lParam); }
  SkinRect ClientRect() override {
    RECT rc{};
    ::GetClientRect(m_button.m_hWnd, &rc);
    return SkinRect{rc.left, rc.top, rc.right, rc.bottom};
  }
  bool HoldsCapture() override { return ::GetCapture() == m_button.m_hWnd; }
  void TakeCapture() override { ::SetCapture(m_button.m_hWnd); }
  void ReleaseCapture() override {
    // Only our own capture: a capture that another window of the thread holds is not ours to end.
    if (::GetCapture() == m_button.m_hWnd) ::ReleaseCapture();
  }
  void RepaintNow() override {
    ::InvalidateRect(m_button.m_hWnd, nullptr, TRUE);
    ::UpdateWindow(m_button.m_hWnd);
  }
  void PostToMainWindow(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    ::PostMessageA(MainWindowOf(m_button.m_hWnd), message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
  }
  uint16_t ControlId() override { return static_cast<uint16_t>(::GetDlgCtrlID(m_button.m_hWnd)); }

 private:
  CSkinButton& m_button;
  UINT m_message;
  WPARAM m_wParam;
  LPARAM m_lParam;
};

class CSkinButton::ImageStore : public ISkinImageStore {
 public:
  explicit ImageStore(CSkinButton& button) : m_button(button) {}

  void ReleaseAll() override {
    m_button.m_bmpPressed.reset();
    m_button.m_bmpHover.reset();
    m_button.m_bmpNormal.reset();
  }
  bool Load(SkinImage which, uint16_t resourceId) override {
    UniqueBitmap bitmap = LoadSkinBitmap(resourceId);
    if (!bitmap) return false;
    Slot(which) = std::move(bitmap);
    return true;
  }
  bool IsLoaded(SkinImage which) const override { return m_button.Image(which) != nullptr; }

 private:
  UniqueBitmap& Slot(SkinImage which) {
    switch (which) {
      case SkinImage::kPressed:
        return m_button.m_bmpPressed;
      case SkinImage::kHover:
        return m_button.m_bmpHover;
      default:
        return m_button.m_bmpNormal;
    }
  }
  CSkinButton& m_button;
};

namespace {

// One WM_DRAWITEM: the item's context, with our memory context beside it.
class ItemCanvas : public ISkinItemCanvas {
 public:
  ItemCanvas(const DRAWITEMSTRUCT& item, HDC memory, HWND button, HBITMAP pressed, HBITMAP hover, HBITMAP normal)
      : m_item(item), m_memory(memory), m_button(button), m_images{normal, pressed, hover} {}

  bool CopyImage(SkinImage which) override {
    HBITMAP image = m_images[static_cast<int>(which)];
    BITMAP info{};
    if (!image || ::GetObjectA(image, sizeof(info), &info) == 0) return false;
    SelectedObject selected(m_memory, image);
    if (!selected) return false;
    const RECT& rc = m_item.rcItem;
    return ::BitBlt(m_item.hDC, 0, 0, rc.right - rc.left, rc.bottom - rc.top, m_memory, 0, 0, SRCCOPY) != FALSE;
  }

  void DrawCaption() override {
    char text[256] = {};
    ::GetWindowTextA(m_button, text, sizeof(text));
    RECT rc = m_item.rcItem;
    ::DrawTextA(m_item.hDC, text, -1, &rc, DT_CENTER);
  }

 private:
  const DRAWITEMSTRUCT& m_item;
  HDC m_memory;
  HWND m_button;
  HBITMAP m_images[3];  // indexed by SkinImage: normal, pressed, hover
};

static_assert(static_cast<int>(SkinImage::kNormal) == 0 && static_cast<int>(SkinImage::kPressed) == 1 &&
              static_cast<int>(SkinImage::kHover) == 2);

}  // namespace

CSkinButton::CSkinButton() = default;

CSkinButton::~CSkinButton() { Detach(); }

bool CSkinButton::SubclassDlgItem(HWND dialog, int controlId) {
  HWND control = ::GetDlgItem(dialog, controlId);
  return control != nullptr && Attach(control);
}

bool CSkinButton::Attach(HWND button) {
  if (m_hWnd || !button || ::GetPropA(button, kSkinButtonProp)) return false;
  if (!::SetPropA(button, kSkinButtonProp, this)) return false;
  m_hWnd = button;
  m_pfnOldProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CSkinButton::SubclassProc)));
  if (!m_pfnOldProc) {
    ::RemovePropA(button, kSkinButtonProp);
    m_hWnd = nullptr;
    return false;
  }
  return true;
}

void CSkinButton::Detach() {
  if (!m_hWnd) return;
  if (::IsWindow(m_hWnd)) {
    ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnOldProc));
    ::RemovePropA(m_hWnd, kSkinButtonProp);
  }
  m_hWnd = nullptr;
  m_pfnOldProc = nullptr;
}

bool CSkinButton::LoadImages(uint16_t normalId, uint16_t pressedId, uint16_t hoverId) {
  ImageStore store(*this);
  return CSkinButtonState::LoadImages(store, normalId, pressedId, hoverId);
}

HBITMAP CSkinButton::Image(SkinImage which) const {
  switch (which) {
    case SkinImage::kPressed:
      return m_bmpPressed.get();
    case SkinImage::kHover:
      return m_bmpHover.get();
    default:
      return m_bmpNormal.get();
  }
}

void CSkinButton::DrawItem(const DRAWITEMSTRUCT& item) {
  MemoryDc memory(item.hDC);
  SavedDcState saved(item.hDC);
  ::SetBkMode(item.hDC, TRANSPARENT);
  ::SetTextColor(item.hDC, ::GetSysColor(COLOR_WINDOWFRAME));
  ItemCanvas canvas(item, memory.get(), m_hWnd, m_bmpPressed.get(), m_bmpHover.get(), m_bmpNormal.get());
  ImageStore store(*this);
  m_state.Draw(store, canvas);
}

bool CSkinButton::ReflectDrawItem(const DRAWITEMSTRUCT* item) {
  if (!item || item->CtlType != ODT_BUTTON || !item->hwndItem) return false;
  auto* button = static_cast<CSkinButton*>(::GetPropA(item->hwndItem, kSkinButtonProp));
  if (!button) return false;
  button->DrawItem(*item);
  return true;
}

LRESULT CALLBACK CSkinButton::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* button = static_cast<CSkinButton*>(::GetPropA(hwnd, kSkinButtonProp));
  if (!button) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  return button->HandleMessage(message, wParam, lParam);
}

LRESULT CSkinButton::CallDefault(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::CallWindowProcA(m_pfnOldProc, m_hWnd, message, wParam, lParam);
}

LRESULT CSkinButton::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_MOUSEMOVE: {
      Port port(*this, message, wParam, lParam);
      // Signed: with the capture held the pointer can be left of or above the button.
      const int32_t x = static_cast<int16_t>(LOWORD(lParam));
      const int32_t y = static_cast<int16_t>(HIWORD(lParam));
      m_state.OnMouseMove(port, x, y);
      return 0;
    }
    case WM_LBUTTONDOWN: {
      Port port(*this, message, wParam, lParam);
      m_state.OnLButtonDown(port);
      return 0;
    }
    case WM_LBUTTONUP: {
      Port port(*this, message, wParam, lParam);
      m_state.OnLButtonUp(port);
      return 0;
    }
    case WM_NCDESTROY: {
      // The control goes away before the object: hand the window back now.
      const LRESULT result = CallDefault(message, wParam, lParam);
      ::RemovePropA(m_hWnd, kSkinButtonProp);
      m_hWnd = nullptr;
      m_pfnOldProc = nullptr;
      return result;
    }
    default:
      return CallDefault(message, wParam, lParam);
  }
}
