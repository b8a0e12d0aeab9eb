#pragma once
// The scan window of MorvekScan.exe: the modal dialog of template 129 that
// shows what the scan logic (CScan, the presenter) tells it and hands the
// user's actions to it.
//
// CScan keeps its name for the logic it has always held (disk list, sizes,
// Start/Stop, the run); this class is only the Win32 window around it, so it
// is CScanWindow. It owns the presenter and is the presenter's IScanView.
//
// Threads: every handler runs on the window's thread. The scan worker calls
// the IScanView operations from its own thread; those calls never touch a
// window and never wait for the window thread: they queue the change and
// post one wake-up (WM_SCAN_VIEW_UPDATES). So closing the window, which waits
// for the worker to end, can never wait on a worker that waits on it.
#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "app/CScan.h"
#include "app/win32/DialogBase.h"
#include "app/win32/ViewUpdateQueue.h"
#include "app/win32/Win32Platform.h"
#include "platform/win32/GdiHandles.h"
#include "res/resource.h"
#include "skin/win32/SkinButton.h"

// The light blue brush of every label's background (0xFEE9E1), made with the
// scan window and deleted with it; null while no scan window exists.
extern HBRUSH g_hBkBrush;

class CDrawPic;

class CScanWindow final : public CMappedDialog<CScanWindow>, public IScanView {
 public:
  static constexpr UINT kTemplateId = IDD_SCAN_DIALOG;  // 129
  static constexpr UINT kIconId = IDI_MAINFRAME;        // 128
  static constexpr COLORREF kBackColor = 16706017;      // 0xFEE9E1, R 225, G 233, B 254
  static constexpr UINT WM_SCAN_VIEW_UPDATES = WM_APP + 0x100;
  static constexpr char kWebAddress[] = "http://www.morvek.example/";

  // Makes the disk object and the drive identification (through the
  // presenter), the label brush and loads the icon; no window yet.
  explicit CScanWindow(HINSTANCE instance);
  ~CScanWindow() override;

  INT_PTR DoModal() { return CDialogBase::DoModal(m_hInstance); }
  CScan& Presenter() { return m_scan; }

  // IScanView: each label is its control of the template.
  void ShowPercent(const std::string& text) override { SetControlText(IDC_PERCENT, text); }
  void ShowElapsed(const std::string& text) override { SetControlText(IDC_ELAPSED, text); }
  void ShowSpeed(const std::string& text) override { SetControlText(IDC_SPEED, text); }
  void ShowRemaining(const std::string& text) override { SetControlText(IDC_REMAINING, text); }
  void ShowBadCount(const std::string& text) override { SetControlText(IDC_BAD_COUNT, text); }
  void ShowDiskSize(const std::string& text) override { SetControlText(IDC_DISK_SIZE, text); }
  void ShowCellSize(const std::string& text) override { SetControlText(IDC_CELL_SIZE, text); }
  void ShowRunning(bool running) override;
  void AddDiskEntry(const std::string& text) override;
  int SelectDiskEntry(int index) override;
  std::unique_ptr<CDrawPicModel> CreateChart() override;
  void InvalidateMap() override;
  void UpdateWindow() override;
  void OpenReport(const std::string& file) override;
  void ShowDiskStoppedAnswering(const std::string& text) override;

  static std::span<const MessageEntry> MessageMap();
  static std::span<const CommandEntry> CommandMap();

 protected:
  void DoDataExchange() override;
  BOOL OnInitDialog() override;

 private:
  // Commands.
  void OnStart();
  void OnStop();
  void OnExit();
  void OnCancel();
  void OnOK();
  void OnWebSite();
  void OnSelchangeDisk();

  // Messages.
  std::optional<LRESULT> OnPaint(WPARAM, LPARAM);
  std::optional<LRESULT> OnEraseBkgnd(WPARAM, LPARAM);
  std::optional<LRESULT> OnLButtonDown(WPARAM, LPARAM);
  std::optional<LRESULT> OnMouseMove(WPARAM, LPARAM);
  std::optional<LRESULT> OnCtlColor(WPARAM, LPARAM);
  std::optional<LRESULT> OnCtlColorStatic(WPARAM, LPARAM);
  std::optional<LRESULT> OnDrawItem(WPARAM, LPARAM);
  std::optional<LRESULT> OnQueryDragIcon(WPARAM, LPARAM);
  std::optional<LRESULT> OnViewUpdates(WPARAM, LPARAM);
  std::optional<LRESULT> OnDestroy(WPARAM, LPARAM);

  void SetControlText(int id, const std::string& text);
  void EnableControl(int id, bool enable);
  void ShowControl(int id, bool show);

  bool OnWindowThread() const { return ::GetCurrentThreadId() == m_uiThreadId; }
  // Queues a change made on the worker's thread; applies it (after anything
  // queued before) on the window's thread.
  void Submit(ViewUpdate update);
  void ApplyPendingUpdates();
  void Apply(const ViewUpdate& update);
  void SetTextNow(int id, const std::string& text);
  // The dialog's own background under a label whose text changed is painted
  // again (once for all labels changed together), so that a transparent
  // label never shows its old text through.
  void InvalidateUnder(HWND control);
  void RepaintUnderChangedLabels();

  HINSTANCE m_hInstance;
  DWORD m_uiThreadId;
  UniqueBrush m_bkBrush;
  HICON m_hIcon = nullptr;

  CSkinButtonSet m_skinButtons;  // the four buttons' shared hover-reset flag
  CSkinButton m_btnStart;
  CSkinButton m_btnExit;
  CSkinButton m_btnStop;
  CControl m_wndChartFrame;
  CSkinButton m_btnWeb;
  CComboBox m_cbDisks;
  CControl m_edPercent;

  CViewUpdateQueue m_updates;
  std::atomic<HWND> m_hPostTarget{nullptr};  // the dialog while it exists, for the worker's wake-ups
  std::atomic<CDrawPic*> m_pChartWnd{nullptr};
  RECT m_rcLabelsChanged{};  // window thread only

  CWin32Platform m_platform;
  // Last: made after everything it uses, and gone first, so the worker it
  // may still run (it joins it) never sees the rest of the window go.
  CScan m_scan;
};
