#pragma once
// Lookups in the NT object namespace ("\??\C:" -> "\Device\HarddiskVolume1").
#include <cstdint>

class ILinkPort {
 public:
  virtual ~ILinkPort() = default;
  // On success the buffer holds the link's target as zero-terminated ANSI
  // text. A target that does not fit the buffer as UTF-16 fails the lookup.
  virtual bool QuerySymbolicLink(const char* linkName, char* buffer, uint32_t bufferSize) = 0;
};
