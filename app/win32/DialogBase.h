#pragma once
// A thin layer over the Win32 dialog manager, enough for the scan window: a
// modal dialog object bound to its template, a message map that sends each
// message to a member function, and control objects bound by control ID.
//
// A derived dialog lists its handlers in two tables (see CMappedDialog):
//
//   std::span<const CScanWindow::MessageEntry> CScanWindow::MessageMap() {
//     static constexpr MessageEntry map[] = {{WM_PAINT, &CScanWindow::OnPaint}, ...};
//     return map;
//   }
//
// A message handler returns the message's result, or std::nullopt to leave
// the message to the dialog manager's default handling.
#include <windows.h>

#include <optional>
#include <span>
#include <string>

// A control of a dialog, found by its ID (what DDX_Control binds).
class CControl {
 public:
  // False when the dialog has no control with that ID.
  bool Bind(HWND dialog, int controlId);
  HWND GetSafeHwnd() const { return m_hWnd; }
  int GetDlgCtrlID() const;

  // Texts are code page 936 bytes.
  void SetText(const std::string& text) const;
  std::string GetText() const;
  void Show(bool show) const;
  void Enable(bool enable) const;
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

 private:
  HWND m_hWnd = nullptr;
};

class CComboBox : public CControl {
 public:
  // Appends an entry (the list is not sorted); its index, or -1.
  int AddString(const std::string& text) const;
  // Selects an entry; the new selection, or -1 when there is no such entry.
  int SetCurSel(int index) const;
  int GetCurSel() const;
};

class CDialogBase {
 public:
  explicit CDialogBase(UINT templateId) : m_nTemplateId(templateId) {}
  virtual ~CDialogBase() = default;
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  // Creates the dialog from its template and runs its modal loop; returns the
  // value given to EndDialog, or -1 when the dialog could not be created.
  INT_PTR DoModal(HINSTANCE instance, HWND parent = nullptr);
  void EndDialog(INT_PTR result) const;

  HWND GetSafeHwnd() const { return m_hWnd; }
  HINSTANCE GetInstance() const { return m_hInstance; }

 protected:
  // Binds the controls (called first thing in WM_INITDIALOG).
  virtual void DoDataExchange() {}
  // TRUE lets the dialog manager set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Every other message: true when handled, with its result.
  virtual bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

  HWND m_hWnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  UINT m_nTemplateId;
  HINSTANCE m_hInstance = nullptr;
};

// Messages whose result a dialog procedure returns itself instead of
// through DWLP_MSGRESULT.
bool DialogReturnsResultDirectly(UINT message);

template <class T>
class CMappedDialog : public CDialogBase {
 public:
  using CDialogBase::CDialogBase;

  using MessageHandler = std::optional<LRESULT> (T::*)(WPARAM wParam, LPARAM lParam);
  using CommandHandler = void (T::*)();
  static constexpr int kAnyNotification = -1;

  struct MessageEntry {
    UINT message;
    MessageHandler handler;
  };
  // WM_COMMAND from control `id` with notification `code`.
  struct CommandEntry {
    int id;
    int code;
    CommandHandler handler;
  };

 protected:
  bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    T& self = static_cast<T&>(*this);
    if (message == WM_COMMAND) {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      for (const CommandEntry& entry : T::CommandMap()) {
        if (entry.id == id && (entry.code == kAnyNotification || entry.code == code)) {
          (self.*entry.handler)();
          result = 0;
          return true;
        }
      }
      return false;
    }
    for (const MessageEntry& entry : T::MessageMap()) {
      if (entry.message != message) continue;
      const std::optional<LRESULT> handled = (self.*entry.handler)(wParam, lParam);
      if (!handled) return false;
      result = *handled;
      return true;
    }
    return false;
  }
};
