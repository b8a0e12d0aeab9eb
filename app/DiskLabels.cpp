#include "app/DiskLabels.h"

#include "platform/Format.h"

std::string DiskSizeText(uint32_t totalSectors) {
  const uint32_t kb = totalSectors / 2;
  return kb >= 1048576 ? StrFormat("%u G", kb >> 20) : StrFormat("%u M", kb >> 10);
}

std::string CellSizeText(uint32_t totalSectors) {
  // One 2500th, not one 2484th: the label has always been computed this way.
  const uint32_t unitKb = totalSectors / 2 / 2500;
  return unitKb >= 1024 ? StrFormat("%u M", unitKb >> 10) : StrFormat("%u K", unitKb);
}
