#include "app/DiskLabels.h"

#include "platform/Format.h"

std::string DiskSizeText(uint64_t totalSectors) {
  const uint64_t kb = totalSectors / 2;
  return kb >= 1048576 ? StrFormat("%llu G", static_cast<unsigned long long>(kb >> 20))
                       : StrFormat("%llu M", static_cast<unsigned long long>(kb >> 10));
}

std::string CellSizeText(uint64_t totalSectors) {
  // One 2500th, not one 2484th: the label has always been computed this way.
  const uint64_t unitKb = totalSectors / 2 / 2500;
  return unitKb >= 1024 ? StrFormat("%llu M", static_cast<unsigned long long>(unitKb >> 10))
                        : StrFormat("%llu K", static_cast<unsigned long long>(unitKb));
}
