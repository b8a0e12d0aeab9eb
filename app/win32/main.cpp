// MorvekScan.exe: the Windows program.
#include <windows.h>

#include "app/win32/ScanApp.h"

namespace {
CScanApp theApp;
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  theApp.InitInstance(instance);
  return 0;
}
