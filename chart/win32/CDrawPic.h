#pragma once
// The scan map's chart control as a Win32 child window: the model of
// CDrawPicModel with a window of class "MFCDrawPicCtrl" that paints it.
//
// The scan worker feeds the model and calls Invalidate from its own thread
// (InvalidateRect may be called from any thread); everything else, creation,
// painting and destruction, runs on the thread that owns the window.
#include <windows.h>

#include <atomic>

#include "chart/CDrawPicModel.h"
#include "platform/ScanLog.h"

class CDrawPic : public CDrawPicModel {
 public:
  static constexpr char kClassName[] = "MFCDrawPicCtrl";
  static constexpr char kToolTipText[] = "Control ToolTips";
  // What the scan window creates it with.
  static constexpr UINT kControlId = 39321;  // 0x9999
  static constexpr DWORD kStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;

  // Registers the window class (once per process) and initialises OLE for
  // the calling thread (once per thread). No window yet. Paints that find a
  // curve they cannot draw say so in `log` (when there is one).
  explicit CDrawPic(ScanLog* log = nullptr);
  ~CDrawPic() override;

  // Creates the control's window in `rect` (the parent's client
  // coordinates), then its tooltip. False when the window cannot be made
  // (then no tooltip is made either); tooltip failures are ignored.
  bool Create(const RECT& rect, HWND parent, UINT id, DWORD style);

  HWND GetSafeHwnd() const { return m_hWnd.load(); }
  HWND GetToolTip() const { return m_hToolTip; }

  // The whole client area is out of date; any thread.
  void Invalidate() const;

  // One paint of a client area of `clientWidth` x `clientHeight`: the map's
  // part inside `clip` (client coordinates) drawn off-screen and copied to
  // `dc` in one block transfer. Every GDI object made here is deleted
  // before it returns.
  void Paint(HDC dc, const RECT& clip, int clientWidth, int clientHeight) const;

  // "MFCDrawPicCtrl" exists for this module (registering it if needed).
  static bool RegisterWindowClass();

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void OnPaint(HWND hwnd) const;

  ScanLog* m_pLog;
  std::atomic<HWND> m_hWnd{nullptr};
  HWND m_hToolTip = nullptr;
};

// OLE for the calling thread, initialised at the first call on each thread
// and released when the thread ends. On failure shows the message box of the
// old framework ("OLE initialization failed. ...") once and goes on.
bool EnsureOleForThread();
