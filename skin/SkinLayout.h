#pragma once
// The skin's fixed layout: which bitmap resources exist and how large they
// are, which images each of the scan window's four skin buttons gets, and the
// pixel rectangle every button is moved to on each paint. The dialog
// template's own button rectangles only matter until the first paint.
#include <array>
#include <cstdint>

#include "res/resource.h"
#include "skin/SkinButtonState.h"

// A bitmap resource of the skin: 24 bits per pixel, bottom-up, BI_RGB.
struct SkinBitmapInfo {
  uint16_t resourceId;
  int32_t width;
  int32_t height;
};

inline constexpr std::array<SkinBitmapInfo, 8> kSkinBitmaps{{
    {IDB_BACKGROUND, 800, 583},
    {IDB_START, 94, 28},
    {IDB_START_HOVER, 94, 28},
    {IDB_EXIT, 94, 28},
    {IDB_EXIT_HOVER, 94, 28},
    {IDB_STOP, 94, 28},
    {IDB_STOP_HOVER, 94, 28},
    {IDB_BANNER, 800, 100},
}};

// The background is copied unscaled from its top-left corner over the client area.
inline constexpr uint16_t kSkinBackgroundId = IDB_BACKGROUND;

// The four skin buttons, in the order the paint handles them.
enum class SkinButtonRole { kStart, kExit, kStop, kBanner };

struct SkinButtonPlace {
  SkinButtonRole role;
  uint16_t controlId;
  uint16_t normalId;  // images handed to LoadImages; 0 = none
  uint16_t pressedId;
  uint16_t hoverId;
  int32_t x;  // client coordinates, pixels
  int32_t y;
  int32_t width;
  int32_t height;
};

// Start and Stop share one place (the window shows one of them at a time), so
// swapping them needs no new layout. The banner's hover image is its normal
// image, and it covers the top 100 rows across the full width. No button gets
// a pressed image: a pressed button draws only its (empty) caption.
inline constexpr std::array<SkinButtonPlace, 4> kSkinButtonLayout{{
    {SkinButtonRole::kStart, IDC_START, IDB_START, 0, IDB_START_HOVER, 578, 530, 94, 28},
    {SkinButtonRole::kExit, IDC_EXIT, IDB_EXIT, 0, IDB_EXIT_HOVER, 686, 530, 94, 28},
    {SkinButtonRole::kStop, IDC_STOP, IDB_STOP, 0, IDB_STOP_HOVER, 578, 530, 94, 28},
    {SkinButtonRole::kBanner, IDC_WEBSITE, IDB_BANNER, 0, IDB_BANNER, 0, 0, 800, 100},
}};

// The place of one button, looked up at every paint.
const SkinButtonPlace& SkinButtonLayoutFor(SkinButtonRole role);
// Its pixel rectangle in the scan window's client coordinates.
SkinRect SkinButtonRect(SkinButtonRole role);
// The size of a skin bitmap, or nullptr for an ID the skin does not have.
const SkinBitmapInfo* FindSkinBitmap(uint16_t resourceId);

// The background copy for a client area: destination (0, 0) with the client's
// width and height, source the image's top-left corner.
struct SkinBlit {
  int32_t destX;
  int32_t destY;
  int32_t width;
  int32_t height;
  int32_t srcX;
  int32_t srcY;
};
SkinBlit SkinBackgroundBlit(const SkinRect& client);
