#pragma once
// The application object of MorvekScan.exe. It has no state: its start-up
// enables the common controls, shows the scan window modally and returns
// when the window has closed; the program never runs a message loop of its
// own.
#include <windows.h>

class CScanApp {
 public:
  CScanApp() = default;

  // Always false: the program ends once the scan window has closed.
  bool InitInstance(HINSTANCE instance);
};
