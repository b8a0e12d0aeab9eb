#pragma once
// The skin painting step of the scan window's WM_PAINT: the background bitmap
// over the client area, then each of the four skin buttons given its images
// and moved to its place. Nothing is kept between paints.
#include <windows.h>

#include "skin/SkinLayout.h"
#include "skin/win32/SkinButton.h"

// The scan window's four skin buttons.
struct SkinPaintButtons {
  CSkinButton& start;
  CSkinButton& exit;
  CSkinButton& stop;
  CSkinButton& banner;

  CSkinButton& For(SkinButtonRole role) const;
};

// Runs on every paint of `window` that is not minimized; `paintDc` is the
// paint context of that WM_PAINT.
void PaintSkin(HWND window, HDC paintDc, const SkinPaintButtons& buttons);
