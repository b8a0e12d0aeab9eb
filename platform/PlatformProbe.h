#pragma once
// Which kind of Windows the disk layer runs on: whether it is of the NT
// family (drives opened as devices; otherwise the Windows 9x disk DLL) and
// whether it is NT 5.0 or later (how the system disk is found).
//
// One probe serves every part of a program: the disk object and the system
// disk locator each call Probe, and only the first call that gets an answer
// asks the system.
#include "platform/SystemPort.h"

class PlatformProbe {
 public:
  // Asks the version query of `system`.
  explicit PlatformProbe(ISystemPort& system);
  // A system without Windows versions (Linux): drives are opened as devices,
  // as on the NT family, and nothing is asked.
  static PlatformProbe DeviceSystem();

  // Asks the system unless it has answered already. When both version
  // records are refused, says so in a message box and leaves the answers
  // false; the next call asks (and may say so) again.
  void Probe();

  bool IsNtFamily() const { return m_ntFamily; }
  bool IsWin2000OrLater() const { return m_win2000OrLater; }

 private:
  PlatformProbe() = default;

  ISystemPort* m_system = nullptr;
  bool m_probed = false;
  bool m_ntFamily = false;
  bool m_win2000OrLater = false;
};
