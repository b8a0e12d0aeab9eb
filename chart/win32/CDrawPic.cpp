#include "chart/win32/CDrawPic.h"

#include <commctrl.h>
#include <ole2.h>

#include "chart/ChartRenderer.h"
#include "chart/PixelSurface.h"
#include "platform/win32/GdiHandles.h"

namespace {

HINSTANCE ModuleInstance() { return ::GetModuleHandleW(nullptr); }

// OleInitialize for one thread, undone when the thread ends.
class OleThreadState {
 public:
  OleThreadState() {
    const HRESULT hr = ::OleInitialize(nullptr);
    m_bOk = SUCCEEDED(hr);  // S_FALSE: already initialised here, which also needs its OleUninitialize
    if (!m_bOk) {
      ::MessageBoxA(nullptr, "OLE initialization failed. Make sure that the OLE libraries are the correct version",
                    "MorvekScan", MB_OK);
    }
  }
  ~OleThreadState() {
    if (m_bOk) ::OleUninitialize();
  }
  OleThreadState(const OleThreadState&) = delete;
  OleThreadState& operator=(const OleThreadState&) = delete;
  bool Ok() const { return m_bOk; }

 private:
  bool m_bOk = false;
};

}  // namespace

bool EnsureOleForThread() {
  thread_local OleThreadState state;
  return state.Ok();
}

bool CDrawPic::RegisterWindowClass() {
  WNDCLASSA existing{};
  if (::GetClassInfoA(ModuleInstance(), kClassName, &existing)) return true;
  WNDCLASSA wc{};
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = &CDrawPic::WindowProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = ModuleInstance();
  wc.hIcon = nullptr;
  wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  // Never painted: the control suppresses background erasing.
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_3DFACE));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = kClassName;
  return ::RegisterClassA(&wc) != 0;
}

CDrawPic::CDrawPic(ScanLog* log) : m_pLog(log) {
  RegisterWindowClass();  // without the class Create fails and reports it
  EnsureOleForThread();
}

CDrawPic::~CDrawPic() {
  RemoveAllCurves();
  if (m_hToolTip && ::IsWindow(m_hToolTip)) ::DestroyWindow(m_hToolTip);
  m_hToolTip = nullptr;
  // Normally the window has gone with its parent already.
  HWND hwnd = m_hWnd.exchange(nullptr);
  if (hwnd && ::IsWindow(hwnd)) {
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    ::DestroyWindow(hwnd);
  }
}

bool CDrawPic::Create(const RECT& rect, HWND parent, UINT id, DWORD style) {
  HWND hwnd = ::CreateWindowExA(0, kClassName, nullptr, style, rect.left, rect.top, rect.right - rect.left,
                                rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                ModuleInstance(), this);
  if (!hwnd) return false;

  // The tooltip knows the whole control as one tool (no rectangle, the
  // window handle as its id). Mouse messages are not relayed to it, so it
  // never pops up; its failures do not matter to the control.
  m_hToolTip = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, hwnd, nullptr, ModuleInstance(), nullptr);
  if (m_hToolTip) {
    static wchar_t text[] = L"Control ToolTips";
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = hwnd;
    tool.uId = reinterpret_cast<UINT_PTR>(hwnd);
    tool.hinst = ModuleInstance();
    tool.lpszText = text;
    ::SendMessageW(m_hToolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    ::SendMessageW(m_hToolTip, TTM_ACTIVATE, TRUE, 0);
  }
  return true;
}

void CDrawPic::Invalidate() const {
  // A null handle would invalidate every window of the desktop.
  if (HWND hwnd = m_hWnd.load()) ::InvalidateRect(hwnd, nullptr, TRUE);
}

void CDrawPic::Paint(HDC dc, const RECT& clip, int clientWidth, int clientHeight) const {
  const int width = clip.right - clip.left;
  const int height = clip.bottom - clip.top;
  if (width <= 0 || height <= 0) return;

  CPixelSurface surface(width, height, clip.left, clip.top);
  PaintChart(*this, surface, clientWidth, clientHeight, m_pLog);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // positive: bottom-up rows, as CopyToDib writes them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;

  // Owners in the order context, bitmap, selection (they unwind backwards).
  MemoryDc memory(dc);
  void* bits = nullptr;
  UniqueBitmap dib(::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !dib || !bits) return;
  surface.CopyToDib(static_cast<uint8_t*>(bits));
  SelectedObject selected(memory.get(), dib.get());
  if (!selected) return;
  ::BitBlt(dc, clip.left, clip.top, width, height, memory.get(), 0, 0, SRCCOPY);
}

void CDrawPic::OnPaint(HWND hwnd) const {
  PaintDc paint(hwnd);
  if (!paint.get()) return;
  RECT clip{};
  if (::GetClipBox(paint.get(), &clip) == ERROR) return;
  RECT client{};
  ::GetClientRect(hwnd, &client);
  Paint(paint.get(), clip, client.right - client.left, client.bottom - client.top);
}

LRESULT CALLBACK CDrawPic::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    auto* self = static_cast<CDrawPic*>(create->lpCreateParams);
    if (self) {
      ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      self->m_hWnd = hwnd;
    }
  }
  auto* self = reinterpret_cast<CDrawPic*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  return self->OnMessage(hwnd, message, wParam, lParam);
}

LRESULT CDrawPic::OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      OnPaint(hwnd);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers everything; erasing would only flicker
    case WM_MOUSEMOVE:
      // Dragging the map moves the window as its caption would. Only with
      // the left button held: a caption press made while the button is up
      // waits for a release that never comes (under Wine the window then
      // hangs until a click), so a pointer merely passing over the map
      // would freeze the window.
      if (wParam & MK_LBUTTON) {
        ::ReleaseCapture();
        ::SendMessageA(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      }
      return ::DefWindowProcA(hwnd, message, wParam, lParam);
    case WM_DESTROY:
      // The tooltip's owner is the top-level window, so it would outlive the
      // control: it goes with the control that made it.
      if (m_hToolTip) ::DestroyWindow(m_hToolTip);
      m_hToolTip = nullptr;
      return ::DefWindowProcA(hwnd, message, wParam, lParam);
    case WM_NCDESTROY:
      ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      m_hWnd = nullptr;
      return ::DefWindowProcA(hwnd, message, wParam, lParam);
    default:
      return ::DefWindowProcA(hwnd, message, wParam, lParam);
  }
}
