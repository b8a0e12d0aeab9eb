#include "skin/SkinLayout.h"

const SkinButtonPlace& SkinButtonLayoutFor(SkinButtonRole role) {
  for (const SkinButtonPlace& place : kSkinButtonLayout) {
    if (place.role == role) return place;
  }
  return kSkinButtonLayout.front();  // unreachable: every role has a place
}

SkinRect SkinButtonRect(SkinButtonRole role) {
  const SkinButtonPlace& p = SkinButtonLayoutFor(role);
  return SkinRect{p.x, p.y, p.x + p.width, p.y + p.height};
}

const SkinBitmapInfo* FindSkinBitmap(uint16_t resourceId) {
  for (const SkinBitmapInfo& info : kSkinBitmaps) {
    if (info.resourceId == resourceId) return &info;
  }
  return nullptr;
}

SkinBlit SkinBackgroundBlit(const SkinRect& client) { return SkinBlit{0, 0, client.Width(), client.Height(), 0, 0}; }
