// The scan worker fills the chart while the window thread paints it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "chart/CDrawPicModel.h"
#include "chart/ChartRenderer.h"
#include "chart/PixelSurface.h"
#include "platform/Format.h"

namespace {

constexpr uint32_t kGood = 0x31B229;
constexpr uint32_t kBad = 0x4265FF;

uint32_t ColorOf(int i) { return i % 11 == 0 ? kBad : kGood; }

// The centre of cell i is either still blank or already in the curve's colour.
bool CellIsFilled(const CPixelSurface& s, int i) {
  const Rgb c = s.GetPixel(10 * (i % 54) + 4, 10 * (i / 54) + 4);
  if (c == Rgb{255, 255, 255}) return false;
  EXPECT_EQ(c, RgbFromColorRef(ColorOf(i))) << "cell " << i;
  return true;
}

TEST(ChartConcurrent, WorkerAddsCurvesWhilePainting) {
  CDrawPicModel model;
  std::atomic<bool> done{false};
  std::atomic<bool> painting{false};

  std::thread worker([&] {
    // A fast worker could finish before the first paint: start together.
    while (!painting.load()) std::this_thread::yield();
    for (int i = 0; i < CDrawPicModel::kCellCount; ++i) model.PaintCell(i, ColorOf(i));
    done = true;
  });

  // Every picture shows the cells finished so far as one unbroken run from
  // the top left, at most one curve still waiting for its points, and never
  // fewer cells than the picture before.
  int previous = 0;
  CPixelSurface surface(CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight);
  do {
    painting = true;
    PaintChart(model, surface, CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight, nullptr);
    int filled = 0;
    while (filled < CDrawPicModel::kCellCount && CellIsFilled(surface, filled)) ++filled;
    for (int i = filled + 1; i < CDrawPicModel::kCellCount; ++i) {
      ASSERT_FALSE(CellIsFilled(surface, i)) << "cell " << i << " after a gap at " << filled;
    }
    ASSERT_GE(filled, previous);
    previous = filled;
    // Reading points on this thread goes through the lock.
    const int32_t count = model.GetCurveCount();
    if (count > 0) {
      EXPECT_LE(model.CopyPoints(count - 1).size(), 7u);
    }
  } while (!done.load());
  worker.join();

  PaintChart(model, surface, CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight, nullptr);
  for (int i = 0; i < CDrawPicModel::kCellCount; ++i) ASSERT_TRUE(CellIsFilled(surface, i)) << i;
  EXPECT_EQ(model.GetCurveCount(), 2484);
}

TEST(ChartConcurrent, ShownFlagSetWhilePainting) {
  CDrawPicModel model;
  for (int i = 0; i < 100; ++i) {
    const std::string name = StrFormat("TestOneCurve%d", i);
    model.AddCurve(name, kGood);
    model.AddPoint(name, 0.0f, 0.0f);
  }
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int round = 0; round < 200; ++round) {
      for (int i = 0; i < 100; ++i) {
        if (i % 2) {
          model.GetCurve(i)->m_shown = round % 2;
        } else {
          model.SetShown(i, round % 2);
        }
      }
    }
    done = true;
  });
  CPixelSurface surface(CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight);
  while (!done.load()) DrawCells(model, surface, nullptr);
  worker.join();
  // The last round showed every curve: a paint now draws all of them.
  for (int i = 0; i < 100; ++i) ASSERT_EQ(model.GetCurve(i)->m_shown.load(), 1) << i;
  DrawCells(model, surface, nullptr);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(surface.GetPixel(10 * (i % 54) + 4, 10 * (i / 54) + 4), RgbFromColorRef(kGood)) << "cell " << i;
  }
}

}  // namespace
