#pragma once
// Painting of the scan map, free of any windowing code: the Win32 control
// paints its clip box into a CPixelSurface and copies it to the window in one
// step (ToDibRows gives the rows in the device-independent bitmap layout);
// the terminal front end paints the whole 540 x 460 map and saves it.
#include "chart/CDrawPicModel.h"
#include "chart/PixelSurface.h"
#include "platform/ScanLog.h"

// The grid's fixed geometry. Each line stops one pixel short of its end point
// (the pen draws up to, not including, it), and the last row and column have
// no closing line at y = 460 or x = 540.
constexpr int kGridLineEndX = 538;    // horizontal lines cover x = 0 ... 537
constexpr int kGridLineStartY = 458;  // vertical lines cover y = 458 down to 1

// Background over the whole client rectangle in m_backColor, then the 46
// horizontal and 54 vertical grid lines in m_gridColor.
void DrawGrid(const CDrawPicModel& model, CPixelSurface& surface, int clientWidth, int clientHeight);

// One cell per curve, in list order. A drawn cell (flag set, at least one
// point) gets its 9 x 9 square in the curve colour and, along its right and
// bottom edges, the complement of what was beneath. Any other curve leaves
// its cell as it is and writes "GetSize = <points>,<curves>" to `log` (when
// there is one).
void DrawCells(const CDrawPicModel& model, CPixelSurface& surface, ScanLog* log);

// Everything a paint does: DrawGrid, then DrawCells.
void PaintChart(const CDrawPicModel& model, CPixelSurface& surface, int clientWidth, int clientHeight, ScanLog* log);
