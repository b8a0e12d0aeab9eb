#include "platform/PlatformProbe.h"

PlatformProbe::PlatformProbe(ISystemPort& system) : m_system(&system) {}

PlatformProbe PlatformProbe::DeviceSystem() {
  PlatformProbe probe;
  probe.m_probed = true;
  probe.m_ntFamily = true;
  probe.m_win2000OrLater = true;
  return probe;
}

void PlatformProbe::Probe() {
  if (m_probed || m_system == nullptr) return;

  OsVersionRecord v;
  if (!m_system->QueryVersion(kOsVersionInfoExSize, v) && !m_system->QueryVersion(kOsVersionInfoSize, v)) {
    // Both record sizes refused: tell the user and leave the answers false,
    // so the disk object takes the DLL branch. Not marked as probed, so the
    // next caller asks again.
    m_system->ShowMessageBox("GetVersion failed!", m_system->ModuleFileName(), kMbTopmost | kMbOk);
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
  m_ntFamily = nt;
  m_win2000OrLater = w2k;
  m_probed = true;
}
