#include "chart/ChartRenderer.h"

#include <algorithm>

void DrawGrid(const CDrawPicModel& model, CPixelSurface& surface, int clientWidth, int clientHeight) {
  surface.FillRect(0, 0, clientWidth, clientHeight, model.m_backColor);
  const int pitch = CDrawPicModel::kCellPitch;
  for (int row = 0; row < CDrawPicModel::kRows; ++row) {
    const int y = row * pitch;
    surface.FillRect(0, y, kGridLineEndX, y + 1, model.m_gridColor);
  }
  for (int col = 0; col < CDrawPicModel::kColumns; ++col) {
    const int x = col * pitch;
    surface.FillRect(x, 1, x + 1, kGridLineStartY + 1, model.m_gridColor);
  }
}

void DrawCells(const CDrawPicModel& model, CPixelSurface& surface, ScanLog* log) {
  // Copied under the model's lock: the worker may go on adding curves while
  // this paint draws, and the log below is written without holding the lock.
  const std::vector<CDrawPicCurveState> curves = model.SnapshotCurves();
  const int count = static_cast<int>(curves.size());
  // The model refuses curves past the last cell; should one exist anyway it
  // has nowhere to go and is never drawn.
  const int cells = std::min(count, CDrawPicModel::kCellCount);
  const int side = CDrawPicModel::kCellPitch;
  for (int i = 0; i < cells; ++i) {
    const CDrawPicCurveState& curve = curves[static_cast<size_t>(i)];
    if (curve.shown == 0 || curve.pointCount < 1) {
      if (log != nullptr) log->WriteF("GetSize = %d,%d", curve.pointCount, count);
      continue;
    }
    const CDrawPicCellOrigin origin = model.m_cellOrigins[static_cast<size_t>(i)];
    // The outline of the 10 x 10 box takes the complement of what lies
    // beneath; the fill then covers its top and left sides, leaving the
    // right and bottom ones as the dark separator between cells.
    surface.InvertFrame(origin.x, origin.y, origin.x + side, origin.y + side);
    surface.FillRect(origin.x, origin.y, origin.x + side - 1, origin.y + side - 1, curve.color);
  }
}

void PaintChart(const CDrawPicModel& model, CPixelSurface& surface, int clientWidth, int clientHeight, ScanLog* log) {
  DrawGrid(model, surface, clientWidth, clientHeight);
  DrawCells(model, surface, log);
}
