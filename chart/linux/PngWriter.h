#pragma once
// Saving the scan map as a PNG picture (terminal front end, --map FILE.png).
#include <string>

#include "chart/CDrawPicModel.h"
#include "chart/PixelSurface.h"

// Writes the surface as an 8-bit RGB PNG, pixel for pixel. The picture goes
// to a temporary file beside the target first and is renamed over it only
// once complete, so a failure (unwritable path, full disk, empty surface)
// returns false and leaves no partial file and any older file untouched.
bool WriteSurfacePng(const CPixelSurface& surface, const std::string& path);

// Paints the whole map (540 x 460, as the control shows it) and writes it.
bool WriteMapPng(const CDrawPicModel& model, const std::string& path);
