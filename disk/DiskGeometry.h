#pragma once
// The geometry Windows reports for a fixed disk whose driver does not tell
// its own: 255 heads of 63 sectors, as many whole cylinders as the size
// holds. Used wherever only the size is known: the Windows fallback, the
// Linux device port and the stand-in disk DLL.
#include <cstdint>

#include "disk/DeviceIo.h"

constexpr uint32_t kFixedDiskHeads = 255;
constexpr uint32_t kFixedDiskSectorsPerTrack = 63;
constexpr uint32_t kFixedDiskSectorBytes = 512;
constexpr uint64_t kFixedDiskCylinderBytes =
    uint64_t{kFixedDiskHeads} * kFixedDiskSectorsPerTrack * kFixedDiskSectorBytes;
constexpr int32_t kFixedMedia = 12;      // FixedMedia
constexpr int32_t kRemovableMedia = 11;  // RemovableMedia

constexpr DiskGeometry FixedDiskGeometry(uint64_t sizeBytes, int32_t mediaType = kFixedMedia) {
  DiskGeometry g;
  g.cylinders = static_cast<int64_t>(sizeBytes / kFixedDiskCylinderBytes);
  g.mediaType = mediaType;
  g.tracksPerCylinder = kFixedDiskHeads;
  g.sectorsPerTrack = kFixedDiskSectorsPerTrack;
  g.bytesPerSector = kFixedDiskSectorBytes;
  return g;
}
