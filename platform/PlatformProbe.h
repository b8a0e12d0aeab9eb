#pragma once
// Which kind of Windows the disk layer runs on. The answers are process-wide:
// the first probe object that succeeds asks the system once, every later one
// only reads the flags.
#include "platform/SystemPort.h"

class PlatformProbe {
 public:
  explicit PlatformProbe(ISystemPort& system);

  bool IsNtFamily() const;
  bool IsWin2000OrLater() const;

  // Clears the process-wide answers, so that one test process can probe
  // several scripted systems in turn. The product never calls it.
  static void ForgetProcessState();
};
