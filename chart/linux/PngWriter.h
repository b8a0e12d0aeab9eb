#pragma once
// The scan map as a PNG picture (terminal front end, --map FILE.png). The
// bytes are made here; the front end writes them as a whole file.
#include <string>

#include "chart/CDrawPicModel.h"
#include "chart/PixelSurface.h"

// The surface as an 8-bit RGB PNG, pixel for pixel; empty when it cannot be
// encoded (an empty surface).
std::string EncodeSurfacePng(const CPixelSurface& surface);

// The whole map as the control shows it, 540 x 460, as PNG bytes.
std::string EncodeMapPng(const CDrawPicModel& model);
