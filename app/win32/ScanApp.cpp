#include "app/win32/ScanApp.h"

#include <commctrl.h>

#include "app/win32/ScanWindow.h"

bool CScanApp::InitInstance(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&controls);

  // On this stack: the disk object, the identification and the presenter
  // live exactly as long as the window.
  CScanWindow window(instance);
  window.DoModal();
  return false;
}
