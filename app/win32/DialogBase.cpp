#include "app/win32/DialogBase.h"

#include "app/win32/WinText.h"

bool CControl::Bind(HWND dialog, int controlId) {
  m_hWnd = ::GetDlgItem(dialog, controlId);
  return m_hWnd != nullptr;
}

int CControl::GetDlgCtrlID() const { return m_hWnd ? ::GetDlgCtrlID(m_hWnd) : 0; }

void CControl::SetText(const std::string& text) const {
  if (m_hWnd) ::SetWindowTextW(m_hWnd, WideFromGbk(text).c_str());
}

std::string CControl::GetText() const {
  if (!m_hWnd) return {};
  const int length = ::GetWindowTextLengthW(m_hWnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int n = ::GetWindowTextW(m_hWnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(n > 0 ? n : 0));
  return GbkFromWide(text);
}

void CControl::Show(bool show) const {
  if (m_hWnd) ::ShowWindow(m_hWnd, show ? SW_SHOW : SW_HIDE);
}

void CControl::Enable(bool enable) const {
  if (m_hWnd) ::EnableWindow(m_hWnd, enable ? TRUE : FALSE);
}

LRESULT CControl::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
  return m_hWnd ? ::SendMessageW(m_hWnd, message, wParam, lParam) : 0;
}

int CComboBox::AddString(const std::string& text) const {
  const std::wstring wide = WideFromGbk(text);
  const LRESULT index = Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  return index >= 0 ? static_cast<int>(index) : -1;
}

int CComboBox::SetCurSel(int index) const {
  const LRESULT selected = Send(CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  return selected >= 0 ? static_cast<int>(selected) : -1;
}

int CComboBox::GetCurSel() const {
  const LRESULT selected = Send(CB_GETCURSEL, 0, 0);
  return selected >= 0 ? static_cast<int>(selected) : -1;
}

bool DialogReturnsResultDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

INT_PTR CDialogBase::DoModal(HINSTANCE instance, HWND parent) {
  m_hInstance = instance;
  return ::DialogBoxParamW(instance, MAKEINTRESOURCEW(m_nTemplateId), parent, &CDialogBase::DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CDialogBase::EndDialog(INT_PTR result) const {
  if (m_hWnd) ::EndDialog(m_hWnd, result);
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialogBase*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->m_hWnd = hwnd;
    self->DoDataExchange();
    return self->OnInitDialog();
  }
  auto* self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;  // messages before WM_INITDIALOG (WM_SETFONT etc.)

  LRESULT result = 0;
  const bool handled = self->Dispatch(message, wParam, lParam, result);
  if (message == WM_NCDESTROY) {
    // The window is gone; the object outlives it (DoModal returns after this).
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
  }
  if (!handled) return FALSE;
  if (DialogReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
  ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}
