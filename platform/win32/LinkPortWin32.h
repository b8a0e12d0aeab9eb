#pragma once
#include "platform/LinkPort.h"

// Symbolic links of the NT object namespace through ntdll's native calls.
class Win32LinkPort : public ILinkPort {
 public:
  bool QuerySymbolicLink(const char* linkName, char* buffer, uint32_t bufferSize) override;
};
