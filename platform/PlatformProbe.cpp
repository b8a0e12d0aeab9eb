#include "platform/PlatformProbe.h"

#include <atomic>

namespace {
// Written only on the window thread during start-up, read from anywhere later.
std::atomic<bool> g_probed{false};
std::atomic<bool> g_ntFamily{false};
std::atomic<bool> g_win2000OrLater{false};
}  // namespace

PlatformProbe::PlatformProbe(ISystemPort& system) {
  if (g_probed.load()) return;

  OsVersionRecord v;
  if (!system.QueryVersion(kOsVersionInfoExSize, v) && !system.QueryVersion(kOsVersionInfoSize, v)) {
    // Both record sizes refused: tell the user and leave the flags false, so
    // the disk object takes the DLL branch. probed stays clear, so the next
    // probe object asks again.
    system.ShowMessageBox("GetVersion failed!", system.ModuleFileName(), kMbTopmost | kMbOk);
    return;
  }

  bool nt = false;
  bool w2k = false;
  if (v.platformId == kVerPlatformNt) {
    if (v.majorVersion >= 6) {
      nt = w2k = true;
    } else if (v.majorVersion == 5) {
      // 5.0 to 5.2 are Windows 2000, XP and Server 2003; the table names no
      // later minor number of major 5 and treats it as outside the family.
      nt = w2k = v.minorVersion <= 2;
    } else {
      nt = true;
    }
  }
  g_ntFamily = nt;
  g_win2000OrLater = w2k;
  g_probed = true;
}

bool PlatformProbe::IsNtFamily() const { return g_ntFamily.load(); }
bool PlatformProbe::IsWin2000OrLater() const { return g_win2000OrLater.load(); }

void PlatformProbe::ForgetProcessState() {
  g_probed = false;
  g_ntFamily = false;
  g_win2000OrLater = false;
}
