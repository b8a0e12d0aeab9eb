// The scan map's chart model and its painting, pixel for pixel.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "chart/CDrawPicModel.h"
#include "chart/ChartRenderer.h"
#include "chart/PixelSurface.h"
#include "fakes/MemoryFileSystem.h"
#include "platform/Format.h"
#include "platform/ScanLog.h"

static void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

namespace {

constexpr uint32_t kGood = 0x31B229;
constexpr uint32_t kBad = 0x4265FF;
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kGrid{179, 185, 207};
constexpr Rgb kEdgeOnGrid{76, 70, 48};
constexpr Rgb kGoodRgb{41, 178, 49};
constexpr Rgb kBadRgb{255, 101, 66};

std::vector<float> Xs(const CDrawPicCurve& curve) {
  std::vector<float> xs;
  for (const CDrawPicPoint& p : curve.Points()) xs.push_back(p.x);
  return xs;
}

// ---------------------------------------------------------------- model

TEST(ChartModel, CurvesAreIndexedInOrderOfAddition) {
  CDrawPicModel model;
  EXPECT_EQ(model.AddCurve("a", kGood), 0);
  EXPECT_EQ(model.AddCurve("b", kBad), 1);
  EXPECT_EQ(model.AddCurve("c", kGood), 2);
  EXPECT_EQ(model.GetCurveCount(), 3);

  const CDrawPicCurve* b = model.GetCurve(1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->m_name, "b");
  EXPECT_EQ(b->m_color, kBad);
  EXPECT_EQ(b->m_shown.load(), 1);
  EXPECT_TRUE(b->Points().empty());
  EXPECT_EQ(CDrawPicCurve("x").m_color, 0xFF0000u);
}

TEST(ChartModel, AddCurveRefusesEmptyAndDuplicateNames) {
  CDrawPicModel model;
  ASSERT_EQ(model.AddCurve("TestOneCurve1", kGood), 0);
  EXPECT_EQ(model.AddCurve("", kGood), -1);
  EXPECT_EQ(model.AddCurve("TestOneCurve1", kBad), -1);
  EXPECT_EQ(model.GetCurveCount(), 1);
  EXPECT_EQ(model.GetCurve(0)->m_color, kGood);  // the refused colour went nowhere

  // Exact byte comparison: case, prefixes and code page 936 bytes all count.
  EXPECT_EQ(model.AddCurve("testonecurve1", kGood), 1);
  EXPECT_EQ(model.AddCurve("TestOneCurve10", kGood), 2);
  EXPECT_EQ(model.AddCurve("TestOneCurve", kGood), 3);
  EXPECT_EQ(model.AddCurve("\xB2\xE2\xCA\xD4", kGood), 4);
  EXPECT_EQ(model.AddCurve("\xB2\xE2\xCA\xD4", kGood), -1);
  EXPECT_EQ(model.GetCurveCount(), 5);
}

TEST(ChartModel, GetCurveOutOfRangeIsNull) {
  CDrawPicModel model;
  EXPECT_EQ(model.GetCurve(0), nullptr);
  model.AddCurve("a", kGood);
  model.AddCurve("b", kGood);
  EXPECT_EQ(model.GetCurve(-1), nullptr);
  EXPECT_EQ(model.GetCurve(2), nullptr);
  EXPECT_NE(model.GetCurve(1), nullptr);
  EXPECT_EQ(model.SetShown(2, 0), 0);
  EXPECT_EQ(model.SetShown(-1, 0), 0);
  EXPECT_TRUE(model.CopyPoints(2).empty());
}

TEST(ChartModel, AddPointNeedsAnExistingName) {
  CDrawPicModel model;
  model.AddCurve("a", kGood);
  EXPECT_EQ(model.AddPoint("", 1.0f, 1.0f), 0);
  EXPECT_EQ(model.AddPoint("b", 1.0f, 1.0f), 0);
  EXPECT_EQ(model.AddPoint("A", 1.0f, 1.0f), 0);
  EXPECT_TRUE(model.GetCurve(0)->Points().empty());

  model.AddCurve("b", kGood);
  EXPECT_EQ(model.AddPoint("b", 2.0f, 3.0f), 1);
  EXPECT_TRUE(model.GetCurve(0)->Points().empty());
  ASSERT_EQ(model.GetCurve(1)->Points().size(), 1u);
  EXPECT_EQ(model.CopyPoints(1)[0].y, 3.0f);
}

TEST(ChartModel, EqualPointsAreAllKept) {
  CDrawPicModel model;
  model.AddCurve("a", kGood);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(model.AddPoint("a", 0.0f, 0.0f), 1);
  EXPECT_EQ(model.GetCurve(0)->Points().size(), 3u);
}

TEST(ChartModel, PointsStayInAscendingXAndEqualXGoesInFront) {
  CDrawPicModel model;
  model.AddCurve("a", kGood);
  model.AddPoint("a", 0.0f, 1.0f);
  model.AddPoint("a", 5.0f, 2.0f);
  model.AddPoint("a", 10.0f, 3.0f);
  EXPECT_EQ(Xs(*model.GetCurve(0)), (std::vector<float>{0, 5, 10}));
  model.AddPoint("a", 3.0f, 4.0f);
  EXPECT_EQ(Xs(*model.GetCurve(0)), (std::vector<float>{0, 3, 5, 10}));
  model.AddPoint("a", 0.0f, 5.0f);
  const std::vector<CDrawPicPoint> points = model.CopyPoints(0);
  ASSERT_EQ(points.size(), 5u);
  EXPECT_EQ(points[0].y, 5.0f);  // the later x = 0 lands in front of the earlier one
  EXPECT_EQ(points[1].y, 1.0f);
  EXPECT_EQ(Xs(*model.GetCurve(0)), (std::vector<float>{0, 0, 3, 5, 10}));

  // Smaller than everything, and equal to the largest.
  model.AddPoint("a", -1.0f, 6.0f);
  model.AddPoint("a", 10.0f, 7.0f);
  const std::vector<CDrawPicPoint> after = model.CopyPoints(0);
  EXPECT_EQ(Xs(*model.GetCurve(0)), (std::vector<float>{-1, 0, 0, 3, 5, 10, 10}));
  EXPECT_EQ(after[5].y, 7.0f);
  EXPECT_EQ(after[6].y, 3.0f);
}

TEST(ChartModel, RemoveAllCurvesStartsAfresh) {
  CDrawPicModel model;
  model.AddCurve("TestOneCurve0", kGood);
  model.AddCurve("TestOneCurve1", kBad);
  model.AddPoint("TestOneCurve0", 0.0f, 0.0f);
  model.RemoveAllCurves();
  EXPECT_EQ(model.GetCurveCount(), 0);
  EXPECT_EQ(model.GetCurve(0), nullptr);
  EXPECT_EQ(model.AddPoint("TestOneCurve0", 1.0f, 1.0f), 0);
  EXPECT_EQ(model.AddCurve("TestOneCurve1", kGood), 0);
  EXPECT_EQ(model.AddCurve("TestOneCurve0", kGood), 1);
  EXPECT_TRUE(model.GetCurve(1)->Points().empty());
  model.RemoveAllCurves();
  model.RemoveAllCurves();  // on an empty model too
  EXPECT_EQ(model.GetCurveCount(), 0);
}

TEST(ChartModel, NoCurveBeyondTheLastCell) {
  CDrawPicModel model;
  for (int i = 0; i < CDrawPicModel::kCellCount; ++i) {
    ASSERT_EQ(model.AddCurve(StrFormat("c%d", i), kGood), i);
  }
  EXPECT_EQ(model.AddCurve("one too many", kBad), -1);
  EXPECT_EQ(model.GetCurveCount(), 2484);
  EXPECT_EQ(model.AddPoint("one too many", 0.0f, 0.0f), 0);
  EXPECT_EQ(model.AddPoint("c2483", 0.0f, 0.0f), 1);
  model.RemoveAllCurves();
  EXPECT_EQ(model.AddCurve("one too many", kBad), 0);
}

TEST(ChartModel, CellLayoutIs54By46Cells) {
  CDrawPicModel model;
  auto origin = [&](int k) {
    const CDrawPicCellOrigin o = model.m_cellOrigins[k];
    return std::pair<int, int>(o.x, o.y);
  };
  EXPECT_EQ(model.m_cellOrigins.size(), 2484u);
  EXPECT_EQ(origin(0), (std::pair<int, int>(0, 0)));
  EXPECT_EQ(origin(53), (std::pair<int, int>(530, 0)));
  EXPECT_EQ(origin(54), (std::pair<int, int>(0, 10)));
  EXPECT_EQ(origin(2483), (std::pair<int, int>(530, 450)));
}

// ---------------------------------------------------------------- painting

// What the map should look like, worked out pixel by pixel independently of
// the renderer: grid and background, then every drawn cell.
bool OnGrid(int x, int y) {
  const bool horizontal = y % 10 == 0 && y <= 450 && x >= 0 && x <= 537;
  const bool vertical = x % 10 == 0 && x <= 530 && y >= 1 && y <= 458;
  return horizontal || vertical;
}

Rgb Complement(Rgb c) { return {static_cast<uint8_t>(~c.r), static_cast<uint8_t>(~c.g), static_cast<uint8_t>(~c.b)}; }

struct Drawn {
  int index;
  Rgb color;
};

Rgb Expected(int x, int y, const std::vector<Drawn>& cells) {
  const Rgb base = OnGrid(x, y) ? kGrid : kWhite;
  for (const Drawn& cell : cells) {
    const int ox = 10 * (cell.index % 54), oy = 10 * (cell.index / 54);
    if (x >= ox && x <= ox + 8 && y >= oy && y <= oy + 8) return cell.color;
    const bool rightEdge = x == ox + 9 && y >= oy && y <= oy + 9;
    const bool bottomEdge = y == oy + 9 && x >= ox && x <= ox + 9;
    if (rightEdge || bottomEdge) return Complement(base);
  }
  return base;
}

// Compares a whole surface with Expected and reports the first few misses.
void ExpectPicture(const CPixelSurface& s, const std::vector<Drawn>& cells, int clientW = 540, int clientH = 460) {
  int misses = 0;
  for (int y = s.OriginY(); y < s.OriginY() + s.Height(); ++y) {
    for (int x = s.OriginX(); x < s.OriginX() + s.Width(); ++x) {
      if (x >= clientW || y >= clientH) continue;
      const Rgb want = Expected(x, y, cells);
      if (s.GetPixel(x, y) != want && ++misses <= 5) {
        ADD_FAILURE() << "pixel (" << x << "," << y << ") is " << testing::PrintToString(s.GetPixel(x, y))
                      << ", expected " << testing::PrintToString(want);
      }
    }
  }
  EXPECT_EQ(misses, 0);
}

void AddDrawnCurve(CDrawPicModel& model, int index, uint32_t color) {
  ASSERT_TRUE(model.PaintCell(index, color));
  ASSERT_EQ(model.GetCurveCount(), index + 1);
}

TEST(ChartModel, PaintCellMakesTheCurveTheScanHasAlwaysMade) {
  CDrawPicModel model;
  ASSERT_TRUE(model.PaintCell(0, 0x31B229));
  ASSERT_TRUE(model.PaintCell(37, 0x4265FF));
  const CDrawPicCurve* c = model.GetCurve(1);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->m_name, "TestOneCurve37");
  EXPECT_EQ(c->m_color, 0x4265FFu);
  EXPECT_EQ(c->m_shown.load(), 1);
  const std::vector<CDrawPicPoint> points = model.CopyPoints(1);
  ASSERT_EQ(points.size(), 7u);
  for (int j = 0; j < 7; ++j) {
    EXPECT_EQ(points[static_cast<size_t>(j)].x, 37.0f * static_cast<float>(j));
    EXPECT_EQ(points[static_cast<size_t>(j)].y, 37.0f);
  }
  // Cell 0's seven points all sit at x = 0.
  EXPECT_EQ(model.CopyPoints(0).size(), 7u);
  // The same cell twice is refused; so is anything past the map's last cell.
  EXPECT_FALSE(model.PaintCell(37, 0x31B229));
  for (int i = 2; i < CDrawPicModel::kCellCount; ++i) ASSERT_TRUE(model.PaintCell(1000 + i, 0x31B229));
  EXPECT_FALSE(model.PaintCell(5000, 0x31B229));
  EXPECT_EQ(model.GetCurveCount(), CDrawPicModel::kCellCount);
}

// Where the paints of these tests log what they cannot draw.
MemoryFileSystem g_files;
ScanLog g_log(g_files, "Scan.log");

CPixelSurface PaintFull(const CDrawPicModel& model) {
  CPixelSurface s(540, 460);
  PaintChart(model, s, 540, 460, &g_log);
  return s;
}

int CountLogLines(const std::string& line) {
  const std::string text = g_files.Text("Scan.log");
  const std::string needle = line + "\r\n";
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) {
    if (pos == 0 || text[pos - 1] == '\n') ++n;
  }
  return n;
}

TEST(ChartPaint, EmptyMapIsGridOnWhite) {
  CDrawPicModel model;
  const CPixelSurface s = PaintFull(model);
  ExpectPicture(s, {});
  EXPECT_EQ(s.GetPixel(0, 0), kGrid);
  EXPECT_EQ(s.GetPixel(537, 0), kGrid);
  EXPECT_EQ(s.GetPixel(538, 0), kWhite);
  EXPECT_EQ(s.GetPixel(537, 450), kGrid);
  EXPECT_EQ(s.GetPixel(0, 458), kGrid);
  EXPECT_EQ(s.GetPixel(0, 459), kWhite);
  EXPECT_EQ(s.GetPixel(530, 458), kGrid);
  EXPECT_EQ(s.GetPixel(539, 459), kWhite);
  EXPECT_EQ(s.GetPixel(5, 5), kWhite);
}

TEST(ChartPaint, NoClosingLinesBelowOrRightOfTheMap) {
  CDrawPicModel model;
  CPixelSurface s(600, 500);
  PaintChart(model, s, 600, 500, &g_log);
  for (int x = 0; x < 600; ++x) EXPECT_EQ(s.GetPixel(x, 460), kWhite) << "x=" << x;
  for (int y = 0; y < 500; ++y) EXPECT_EQ(s.GetPixel(540, y), kWhite) << "y=" << y;
  EXPECT_EQ(s.GetPixel(599, 499), kWhite);
}

TEST(ChartPaint, OneCellAtPositionZero) {
  CDrawPicModel model;
  AddDrawnCurve(model, 0, kGood);
  const CPixelSurface s = PaintFull(model);
  ExpectPicture(s, {{0, kGoodRgb}});

  int fill = 0;
  for (int y = 0; y <= 8; ++y)
    for (int x = 0; x <= 8; ++x) fill += s.GetPixel(x, y) == kGoodRgb;
  EXPECT_EQ(fill, 81);
  for (int i = 1; i <= 9; ++i) {
    EXPECT_EQ(s.GetPixel(9, i), kBlack) << i;
    EXPECT_EQ(s.GetPixel(i, 9), kBlack) << i;
  }
  EXPECT_EQ(s.GetPixel(9, 0), kEdgeOnGrid);
  EXPECT_EQ(s.GetPixel(0, 9), kEdgeOnGrid);
  // The neighbours keep their grid lines.
  EXPECT_EQ(s.GetPixel(10, 0), kGrid);
  EXPECT_EQ(s.GetPixel(0, 10), kGrid);
  EXPECT_EQ(s.GetPixel(10, 5), kGrid);
}

TEST(ChartPaint, CellsOfTheSecondRowAndTheLastCell) {
  CDrawPicModel model;
  std::vector<Drawn> drawn;
  for (int i = 0; i < CDrawPicModel::kCellCount; ++i) {
    const bool draw = i == 53 || i == 54 || i == 2483;
    const std::string name = StrFormat("c%d", i);
    model.AddCurve(name, i == 54 ? kBad : kGood);
    if (draw) {
      model.AddPoint(name, 0.0f, 0.0f);
      drawn.push_back({i, i == 54 ? kBadRgb : kGoodRgb});
    } else {
      model.SetShown(i, 0);  // flagged off: cell left blank
      model.AddPoint(name, 0.0f, 0.0f);
    }
  }
  const CPixelSurface s = PaintFull(model);
  ExpectPicture(s, drawn);

  EXPECT_EQ(s.GetPixel(0, 10), kBadRgb);
  EXPECT_EQ(s.GetPixel(8, 18), kBadRgb);
  EXPECT_EQ(s.GetPixel(0, 19), kEdgeOnGrid);
  EXPECT_EQ(s.GetPixel(9, 10), kEdgeOnGrid);
  EXPECT_EQ(s.GetPixel(9, 19), kBlack);
  // Position 2483 sits at (530, 450); the lines stop short of its right
  // and bottom edges, so those are black throughout.
  EXPECT_EQ(s.GetPixel(530, 450), kGoodRgb);
  EXPECT_EQ(s.GetPixel(538, 458), kGoodRgb);
  EXPECT_EQ(s.GetPixel(539, 450), kBlack);
  EXPECT_EQ(s.GetPixel(530, 459), kBlack);
  EXPECT_EQ(s.GetPixel(539, 459), kBlack);
  // Position 53 at (530, 0): the top line ends at x = 537.
  EXPECT_EQ(s.GetPixel(539, 0), kBlack);
  EXPECT_EQ(s.GetPixel(530, 9), kEdgeOnGrid);
}

TEST(ChartPaint, UndrawableCurvesLeaveTheirCellBlankAndAreLogged) {
  CDrawPicModel model;
  AddDrawnCurve(model, 0, kGood);
  ASSERT_EQ(model.AddCurve("TestOneCurve1", kBad), 1);  // no points yet
  AddDrawnCurve(model, 2, kBad);
  AddDrawnCurve(model, 3, kGood);
  model.GetCurve(3)->m_shown = 0;  // points, but flagged off

  const int noPoints = CountLogLines("GetSize = 0,4");
  const int flaggedOff = CountLogLines("GetSize = 7,4");
  CPixelSurface s = PaintFull(model);
  ExpectPicture(s, {{0, kGoodRgb}, {2, kBadRgb}});
  EXPECT_EQ(s.GetPixel(15, 5), kWhite);
  EXPECT_EQ(s.GetPixel(20, 0), kBadRgb);  // the next curve keeps its own cell
  EXPECT_EQ(CountLogLines("GetSize = 0,4"), noPoints + 1);
  EXPECT_EQ(CountLogLines("GetSize = 7,4"), flaggedOff + 1);

  PaintChart(model, s, 540, 460, &g_log);  // once per paint
  EXPECT_EQ(CountLogLines("GetSize = 0,4"), noPoints + 2);

  // Its first point makes the cell appear at the next paint.
  model.AddPoint("TestOneCurve1", 0.0f, 1.0f);
  model.SetShown(3, 1);
  ExpectPicture(PaintFull(model), {{0, kGoodRgb}, {1, kBadRgb}, {2, kBadRgb}, {3, kGoodRgb}});
  EXPECT_EQ(CountLogLines("GetSize = 0,4"), noPoints + 2);
}

TEST(ChartPaint, PartialRepaintMatchesTheFullPicture) {
  CDrawPicModel model;
  for (int i = 0; i < CDrawPicModel::kCellCount; ++i) {
    if (i % 7 == 3) {
      model.AddCurve(StrFormat("blank%d", i), kGood);  // logged, left blank
    } else {
      AddDrawnCurve(model, i, i % 5 == 0 ? kBad : kGood);
    }
  }
  const CPixelSurface full = PaintFull(model);

  struct Box {
    int left, top, width, height;
  };
  const Box boxes[] = {{95, 47, 123, 81},  {0, 0, 540, 460}, {9, 0, 1, 1}, {0, 9, 1, 1},     {99, 9, 2, 2},
                       {530, 450, 10, 10}, {539, 459, 1, 1}, {3, 4, 7, 6}, {200, 0, 1, 460}, {0, 233, 540, 1}};
  for (const Box& box : boxes) {
    CPixelSurface part(box.width, box.height, box.left, box.top);
    PaintChart(model, part, 540, 460, &g_log);
    int misses = 0;
    for (int y = box.top; y < box.top + box.height; ++y)
      for (int x = box.left; x < box.left + box.width; ++x) misses += part.GetPixel(x, y) != full.GetPixel(x, y);
    EXPECT_EQ(misses, 0) << "box at " << box.left << "," << box.top << " size " << box.width << "x" << box.height;
  }
}

TEST(ChartPaint, SmallerClientShowsOnlyWhatFits) {
  CDrawPicModel model;
  AddDrawnCurve(model, 0, kGood);
  AddDrawnCurve(model, 1, kBad);
  CPixelSurface s(15, 12);
  PaintChart(model, s, 15, 12, &g_log);
  ExpectPicture(s, {{0, kGoodRgb}, {1, kBadRgb}}, 15, 12);
}

// ---------------------------------------------------------------- surface

TEST(PixelSurface, DibRowsAreBgrBottomUpAndPadded) {
  CPixelSurface s(3, 2);
  s.FillRect(0, 0, 1, 1, 0x030201);  // top-left: r=1 g=2 b=3
  s.FillRect(2, 1, 3, 2, 0x060504);  // bottom-right: r=4 g=5 b=6
  EXPECT_EQ(CPixelSurface::DibStride(3), 12u);
  EXPECT_EQ(CPixelSurface::DibStride(4), 12u);
  EXPECT_EQ(CPixelSurface::DibStride(1), 4u);
  const std::vector<uint8_t> dib = s.ToDibRows();
  const std::vector<uint8_t> want = {0, 0, 0, 0, 0, 0, 6, 5, 4, 0, 0, 0,   // bottom row first
                                     3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // then the top row
  EXPECT_EQ(dib, want);
}

TEST(PixelSurface, DrawingOutsideIsDiscarded) {
  CPixelSurface s(4, 4, 10, 20);
  s.FillRect(-1000, -1000, 1000, 1000, 0xFFFFFF);
  s.InvertFrame(8, 18, 12, 22);  // only its right column and bottom row reach the surface
  EXPECT_EQ(s.GetPixel(10, 20), kWhite);
  EXPECT_EQ(s.GetPixel(11, 20), kBlack);
  EXPECT_EQ(s.GetPixel(11, 21), kBlack);
  EXPECT_EQ(s.GetPixel(10, 21), kBlack);
  EXPECT_EQ(s.GetPixel(12, 20), kWhite);
  EXPECT_EQ(s.GetPixel(13, 23), kWhite);
  EXPECT_FALSE(s.Contains(9, 20));
  EXPECT_FALSE(s.Contains(14, 20));
  // Far-away coordinates must not wrap around into the picture.
  s.FillRect(INT32_MIN, INT32_MIN, INT32_MIN + 2, INT32_MIN + 2, 0);
  s.InvertFrame(INT32_MAX - 3, INT32_MAX - 3, INT32_MAX, INT32_MAX);
  for (int y = 20; y < 24; ++y)
    for (int x = 10; x < 14; ++x)
      EXPECT_EQ(s.GetPixel(x, y), (x == 11 && y <= 21) || (y == 21 && x <= 11) ? kBlack : kWhite);
  // Frames one pixel wide or high: every pixel complemented exactly once.
  s.InvertFrame(13, 20, 14, 24);
  s.InvertFrame(10, 23, 14, 24);
  EXPECT_EQ(s.GetPixel(13, 21), kBlack);
  EXPECT_EQ(s.GetPixel(12, 23), kBlack);
  EXPECT_EQ(s.GetPixel(13, 23), kWhite);  // in both frames
  CPixelSurface empty(-3, 5);
  EXPECT_EQ(empty.Width(), 0);
  empty.FillRect(0, 0, 10, 10, 0xFFFFFF);
}

}  // namespace
