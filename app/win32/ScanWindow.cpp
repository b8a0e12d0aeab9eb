#include "app/win32/ScanWindow.h"

#include <shellapi.h>

#include "app/win32/WinText.h"
#include "chart/win32/CDrawPic.h"
#include "skin/win32/SkinPainter.h"

HBRUSH g_hBkBrush = nullptr;

namespace {

bool IsLabel(int id) {
  switch (id) {
    case IDC_DISK_SIZE:
    case IDC_CELL_SIZE:
    case IDC_ELAPSED:
    case IDC_SPEED:
    case IDC_REMAINING:
    case IDC_BAD_COUNT:
    case IDC_PERCENT:
      return true;
    default:
      return false;
  }
}

}  // namespace

CScanWindow::CScanWindow(HINSTANCE instance)
    : CMappedDialog<CScanWindow>(kTemplateId),
      m_hInstance(instance),
      m_uiThreadId(::GetCurrentThreadId()),
      m_bkBrush(::CreateSolidBrush(kBackColor)),
      m_hIcon(::LoadIconW(instance, MAKEINTRESOURCEW(kIconId))),
      m_scan(m_platform.Ports(*this)) {
  g_hBkBrush = m_bkBrush.get();
  for (CSkinButton* button : {&m_btnStart, &m_btnExit, &m_btnStop, &m_btnWeb}) button->JoinSet(&m_skinButtons);
}

CScanWindow::~CScanWindow() {
  // The presenter (declared last) goes first: it ends a worker that still
  // runs before the brush and the queue go.
  g_hBkBrush = nullptr;
}

std::span<const CScanWindow::MessageEntry> CScanWindow::MessageMap() {
  static constexpr MessageEntry map[] = {
      {WM_PAINT, &CScanWindow::OnPaint},
      {WM_ERASEBKGND, &CScanWindow::OnEraseBkgnd},
      {WM_LBUTTONDOWN, &CScanWindow::OnLButtonDown},
      {WM_MOUSEMOVE, &CScanWindow::OnMouseMove},
      {WM_CTLCOLORSTATIC, &CScanWindow::OnCtlColorStatic},
      {WM_CTLCOLOREDIT, &CScanWindow::OnCtlColor},
      {WM_CTLCOLORBTN, &CScanWindow::OnCtlColor},
      {WM_CTLCOLORLISTBOX, &CScanWindow::OnCtlColor},
      {WM_CTLCOLORDLG, &CScanWindow::OnCtlColor},
      {WM_DRAWITEM, &CScanWindow::OnDrawItem},
      {WM_QUERYDRAGICON, &CScanWindow::OnQueryDragIcon},
      {WM_SCAN_VIEW_UPDATES, &CScanWindow::OnViewUpdates},
      {WM_DESTROY, &CScanWindow::OnDestroy},
  };
  return map;
}

std::span<const CScanWindow::CommandEntry> CScanWindow::CommandMap() {
  static constexpr CommandEntry map[] = {
      {IDC_START, BN_CLICKED, &CScanWindow::OnStart},
      {IDC_STOP, BN_CLICKED, &CScanWindow::OnStop},
      {IDC_EXIT, BN_CLICKED, &CScanWindow::OnExit},
      {IDC_WEBSITE, BN_CLICKED, &CScanWindow::OnWebSite},
      {IDC_DISKS, CBN_SELCHANGE, &CScanWindow::OnSelchangeDisk},
      {IDCANCEL, kAnyNotification, &CScanWindow::OnCancel},
      {IDOK, kAnyNotification, &CScanWindow::OnOK},
  };
  return map;
}

void CScanWindow::DoDataExchange() {
  m_btnStart.SubclassDlgItem(m_hWnd, IDC_START);
  m_btnExit.SubclassDlgItem(m_hWnd, IDC_EXIT);
  m_btnStop.SubclassDlgItem(m_hWnd, IDC_STOP);
  m_wndChartFrame.Bind(m_hWnd, IDC_CHART_FRAME);
  m_btnWeb.SubclassDlgItem(m_hWnd, IDC_WEBSITE);
  m_cbDisks.Bind(m_hWnd, IDC_DISKS);
  m_edPercent.Bind(m_hWnd, IDC_PERCENT);
  m_edPercent.SetText(m_scan.Run().PercentText());
}

BOOL CScanWindow::OnInitDialog() {
  m_hPostTarget = m_hWnd;
  // The skin paint covers the whole client area; without clipping it would
  // also paint over every label, button and the map, which then paint
  // themselves again a moment later: a visible blink of each label at every
  // update. Every child fills its own rectangle completely (labels with the
  // label brush, buttons with their images, the map off-screen).
  ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, ::GetWindowLongPtrW(m_hWnd, GWL_STYLE) | WS_CLIPCHILDREN);
  m_scan.OnInitDialog();
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  return TRUE;
}

// --- commands ---------------------------------------------------------------

void CScanWindow::OnStart() {
  m_scan.OnStart();
  m_skinButtons.ResetHover();
}

void CScanWindow::OnStop() {
  m_scan.OnStop();
  m_skinButtons.ResetHover();
}

void CScanWindow::OnExit() { OnCancel(); }

void CScanWindow::OnCancel() {
  // Stops a run and waits for its end (report written) before the window
  // and the disk object go, then shows the report once more.
  m_scan.OnCancel();
  // What the worker asked for last (its own opening of the report among it)
  // is done now: after the dialog ends nothing would do it.
  ApplyPendingUpdates();
  EndDialog(IDOK);
  m_skinButtons.ResetHover();
}

void CScanWindow::OnOK() {
  // Enter closes the dialog as the dialog manager's OK does, but a run is
  // ended first: the worker must not outlive the window.
  m_scan.StopAndWait();
  ApplyPendingUpdates();
  EndDialog(IDOK);
  m_skinButtons.ResetHover();
}

void CScanWindow::OnWebSite() { ::ShellExecuteA(nullptr, nullptr, kWebAddress, nullptr, nullptr, SW_SHOWNORMAL); }

void CScanWindow::OnSelchangeDisk() { m_scan.OnSelchangeDisk(m_cbDisks.GetCurSel()); }

// --- messages ---------------------------------------------------------------

std::optional<LRESULT> CScanWindow::OnPaint(WPARAM, LPARAM) {
  if (::IsIconic(m_hWnd)) {
    PaintDc paint(m_hWnd);
    ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.get()), 0);
    RECT rc{};
    ::GetClientRect(m_hWnd, &rc);
    const int x = (rc.right - rc.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rc.bottom - rc.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(paint.get(), x, y, m_hIcon);
    return 0;
  }
  PaintDc paint(m_hWnd);
  PaintSkin(m_hWnd, paint.get(), SkinPaintButtons{m_btnStart, m_btnExit, m_btnStop, m_btnWeb});
  return 0;
}

std::optional<LRESULT> CScanWindow::OnEraseBkgnd(WPARAM, LPARAM) {
  return TRUE;  // the paint covers the whole client area
}

std::optional<LRESULT> CScanWindow::OnLButtonDown(WPARAM, LPARAM) {
  // Dragging from anywhere in the window moves it, as from its caption.
  POINT cursor{};
  ::GetCursorPos(&cursor);
  ::ReleaseCapture();
  ::SendMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(cursor.x, cursor.y));
  return 0;
}

std::optional<LRESULT> CScanWindow::OnMouseMove(WPARAM, LPARAM) {
  m_skinButtons.PointerOverBackground();
  return std::nullopt;
}

std::optional<LRESULT> CScanWindow::OnCtlColor(WPARAM wParam, LPARAM lParam) {
  const auto dc = reinterpret_cast<HDC>(wParam);
  const auto control = reinterpret_cast<HWND>(lParam);
  if (control && ::GetDlgCtrlID(control) == IDC_PERCENT) ::SetBkColor(dc, kBackColor);
  return std::nullopt;  // the dialog's own brush
}

std::optional<LRESULT> CScanWindow::OnCtlColorStatic(WPARAM wParam, LPARAM lParam) {
  // Labels and the read-only percent field (which asks as a static control):
  // the light blue brush behind, the text drawn without a box of its own.
  OnCtlColor(wParam, lParam);
  ::SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
  return reinterpret_cast<LRESULT>(g_hBkBrush);
}

std::optional<LRESULT> CScanWindow::OnDrawItem(WPARAM, LPARAM lParam) {
  if (CSkinButton::ReflectDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))) return TRUE;
  return std::nullopt;
}

std::optional<LRESULT> CScanWindow::OnQueryDragIcon(WPARAM, LPARAM) { return reinterpret_cast<LRESULT>(m_hIcon); }

std::optional<LRESULT> CScanWindow::OnViewUpdates(WPARAM, LPARAM) {
  ApplyPendingUpdates();
  return 0;
}

std::optional<LRESULT> CScanWindow::OnDestroy(WPARAM, LPARAM) {
  // From here on the worker's wake-ups and invalidations have no window.
  m_hPostTarget = nullptr;
  return std::nullopt;
}

// --- IScanView --------------------------------------------------------------

void CScanWindow::Submit(ViewUpdate update) {
  if (OnWindowThread()) {
    ApplyPendingUpdates();  // what the worker asked for earlier comes first
    Apply(update);
    RepaintUnderChangedLabels();
    return;
  }
  if (!m_updates.Push(std::move(update))) return;  // a wake-up is on its way
  HWND target = m_hPostTarget.load();
  if (!target || !::PostMessageW(target, WM_SCAN_VIEW_UPDATES, 0, 0)) m_updates.WakeFailed();
}

void CScanWindow::ApplyPendingUpdates() {
  for (const ViewUpdate& update : m_updates.TakeAll()) Apply(update);
  RepaintUnderChangedLabels();
}

void CScanWindow::Apply(const ViewUpdate& update) {
  switch (update.kind) {
    case ViewUpdate::Kind::SetText:
      SetTextNow(update.controlId, update.text);
      break;
    case ViewUpdate::Kind::Enable:
      if (m_hWnd) ::EnableWindow(::GetDlgItem(m_hWnd, update.controlId), update.flag ? TRUE : FALSE);
      break;
    case ViewUpdate::Kind::Show:
      if (m_hWnd) ::ShowWindow(::GetDlgItem(m_hWnd, update.controlId), update.flag ? SW_SHOW : SW_HIDE);
      break;
    case ViewUpdate::Kind::MessageBox: {
      // Modal on the window, with the window's own title: the window waits
      // for the user, the worker (which has ended) does not.
      wchar_t title[128] = {};
      if (m_hWnd) ::GetWindowTextW(m_hWnd, title, 128);
      ::MessageBoxW(m_hWnd, WideFromGbk(update.text).c_str(), title, MB_OK | MB_ICONWARNING);
      break;
    }
    case ViewUpdate::Kind::ShellOpen:
      ::ShellExecuteA(nullptr, nullptr, update.text.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      break;
  }
}

void CScanWindow::SetTextNow(int id, const std::string& text) {
  if (!m_hWnd) return;
  HWND control = ::GetDlgItem(m_hWnd, id);
  if (!control) return;
  const std::wstring wide = WideFromGbk(text);
  // Unchanged texts are left alone: no flicker, no repaint.
  const int length = ::GetWindowTextLengthW(control);
  if (length == static_cast<int>(wide.size())) {
    std::wstring current(static_cast<size_t>(length) + 1, L'\0');
    current.resize(static_cast<size_t>(::GetWindowTextW(control, current.data(), length + 1)));
    if (current == wide) return;
  }
  ::SetWindowTextW(control, wide.c_str());
  if (IsLabel(id)) InvalidateUnder(control);
}

void CScanWindow::InvalidateUnder(HWND control) {
  RECT rc{};
  if (!::GetWindowRect(control, &rc)) return;
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
  ::UnionRect(&m_rcLabelsChanged, &m_rcLabelsChanged, &rc);
}

void CScanWindow::RepaintUnderChangedLabels() {
  if (::IsRectEmpty(&m_rcLabelsChanged) || !m_hWnd) return;
  // The dialog's background under the labels whose text changed, repainted
  // at once. The labels repaint themselves on their text change, filling
  // their rectangle with the label brush; a repaint of the background that
  // waited for the next WM_PAINT would let Wine show a label blank for a
  // frame now and then.
  ::InvalidateRect(m_hWnd, &m_rcLabelsChanged, TRUE);
  ::UpdateWindow(m_hWnd);
  ::SetRectEmpty(&m_rcLabelsChanged);
}

void CScanWindow::SetControlText(int id, const std::string& text) {
  Submit(ViewUpdate{ViewUpdate::Kind::SetText, id, false, text});
}

void CScanWindow::EnableControl(int id, bool enable) { Submit(ViewUpdate{ViewUpdate::Kind::Enable, id, enable, {}}); }

void CScanWindow::ShowControl(int id, bool show) { Submit(ViewUpdate{ViewUpdate::Kind::Show, id, show, {}}); }

void CScanWindow::ShowRunning(bool running) {
  if (running) {
    EnableControl(IDC_START, false);
    ShowControl(IDC_STOP, true);
    ShowControl(IDC_START, false);
  } else {
    EnableControl(IDC_START, true);
    ShowControl(IDC_STOP, false);
    ShowControl(IDC_START, true);
  }
}

void CScanWindow::ShowDiskStoppedAnswering(const std::string& text) {
  Submit(ViewUpdate{ViewUpdate::Kind::MessageBox, 0, false, text});
}

void CScanWindow::OpenReport(const std::string& file) {
  // On the window's thread, which has COM (OLE) initialised for the shell;
  // the worker only asks for it.
  Submit(ViewUpdate{ViewUpdate::Kind::ShellOpen, 0, false, file});
}

void CScanWindow::AddDiskEntry(const std::string& text) {
  // The list is filled by the initialisation, on the window's thread.
  if (OnWindowThread()) m_cbDisks.AddString(text);
}

int CScanWindow::SelectDiskEntry(int index) {
  // Answers need the window: only the window's thread may ask.
  return OnWindowThread() ? m_cbDisks.SetCurSel(index) : -1;
}

std::unique_ptr<CDrawPicModel> CScanWindow::CreateChart() {
  auto chart = std::make_unique<CDrawPic>(&m_scan.Log());
  // The placeholder's rectangle in the dialog's client coordinates.
  RECT rc{};
  ::GetWindowRect(m_wndChartFrame.GetSafeHwnd(), &rc);
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
  if (!chart->Create(rc, m_hWnd, CDrawPic::kControlId, CDrawPic::kStyle))
    m_scan.Log().Write("CScanWindow::CreateChart Create failed");
  m_pChartWnd = chart.get();
  return chart;
}

void CScanWindow::InvalidateMap() {
  if (CDrawPic* chart = m_pChartWnd.load()) chart->Invalidate();
}

void CScanWindow::UpdateWindow() {
  // Start has just emptied the map: show it empty now, not only when the
  // worker paints its first cell (which a slow disk may take long to reach).
  InvalidateMap();
  if (m_hWnd) ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}
