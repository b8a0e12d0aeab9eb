// Times one full repaint of the scan map with all 2484 cells drawn: the
// paint that the window runs after every cell the worker finishes.
//   morvek-chart-bench [repeats]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "chart/CDrawPicModel.h"
#include "chart/ChartRenderer.h"
#include "chart/PixelSurface.h"

namespace {

using Clock = std::chrono::steady_clock;

// Fills the model as the scan worker does, one bad cell in 37.
void AddCells(CDrawPicModel& model, int from, int to) {
  for (int i = from; i < to; ++i) model.PaintCell(i, i % 37 == 0 ? 0x4265FF : 0x31B229);
}

struct Stats {
  double median, min, p90;
};

template <typename F>
Stats Measure(int repeats, F&& f) {
  std::vector<double> us;
  us.reserve(static_cast<size_t>(repeats));
  for (int r = 0; r < repeats; ++r) {
    const auto t0 = Clock::now();
    f();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us.front(), us[us.size() * 9 / 10]};
}

void Print(const char* what, const Stats& s) {
  std::printf("%-48s median %9.1f us   min %9.1f us   p90 %9.1f us\n", what, s.median, s.min, s.p90);
}

// Keeps the optimiser from dropping a paint whose result nobody reads.
volatile unsigned g_sink;

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 501;
  const int w = CDrawPicModel::kMapWidth, h = CDrawPicModel::kMapHeight;

  CDrawPicModel model;
  AddCells(model, 0, CDrawPicModel::kCellCount);
  CPixelSurface surface(w, h);
  for (int i = 0; i < 20; ++i) PaintChart(model, surface, w, h, nullptr);  // warm up

  std::printf("scan map %d x %d, %d cells drawn, %d repeats\n", w, h, model.GetCurveCount(), repeats);
  Print("full repaint (grid + 2484 cells)", Measure(repeats, [&] {
          PaintChart(model, surface, w, h, nullptr);
          g_sink = surface.Pixels()[static_cast<size_t>(w) * 3 * 10 + 15];
        }));
  Print("  of which grid and background", Measure(repeats, [&] {
          DrawGrid(model, surface, w, h);
          g_sink = surface.Pixels()[0];
        }));
  Print("  of which the snapshot of the curve list", Measure(repeats, [&] { g_sink = model.SnapshotCurves().size(); }));
  Print("repaint into a newly made surface", Measure(repeats, [&] {
          CPixelSurface fresh(w, h);
          PaintChart(model, fresh, w, h, nullptr);
          g_sink = fresh.Pixels()[0];
        }));
  std::vector<uint8_t> dib(CPixelSurface::DibStride(w) * static_cast<size_t>(h));
  Print("copy to DIB rows (BGR, bottom-up), kept buffer", Measure(repeats, [&] {
          surface.CopyToDib(dib.data());
          g_sink = dib[0];
        }));

  // A whole run: one repaint after every cell, the map growing from 1 to
  // 2484 cells.
  CDrawPicModel growing;
  double total = 0;
  for (int i = 0; i < CDrawPicModel::kCellCount; ++i) {
    AddCells(growing, i, i + 1);
    const auto t0 = Clock::now();
    PaintChart(growing, surface, w, h, nullptr);
    total += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  }
  std::printf("%-48s total  %9.1f ms\n", "2484 repaints of a growing map (one run)", total);
  return 0;
}
