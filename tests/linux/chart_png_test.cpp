// The scan map as the PNG picture the terminal front end saves.
#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "chart/CDrawPicModel.h"
#include "chart/ChartRenderer.h"
#include "chart/PixelSurface.h"
#include "chart/linux/PngWriter.h"

namespace {

struct Decoded {
  bool ok = false;
  png_uint_32 width = 0, height = 0, fileFormat = 0;
  std::vector<uint8_t> rgb;

  Rgb At(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * width + static_cast<size_t>(x)) * 3;
    return Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

// Decoded by libpng's own reader, not by anything of ours.
Decoded DecodePng(const std::string& bytes) {
  Decoded d;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return d;
  d.fileFormat = image.format;
  d.width = image.width;
  d.height = image.height;
  image.format = PNG_FORMAT_RGB;
  d.rgb.resize(PNG_IMAGE_SIZE(image));
  d.ok = png_image_finish_read(&image, nullptr, d.rgb.data(), 0, nullptr) != 0;
  return d;
}

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kGrid{179, 185, 207};       // 0xCFB9B3
constexpr Rgb kGridInverted{76, 70, 48};  // its complement
constexpr Rgb kBlack{0, 0, 0};            // the complement of white
constexpr Rgb kGreen{41, 178, 49};        // 0x31B229
constexpr Rgb kOrangeRed{255, 101, 66};   // 0x4265FF

TEST(ChartPng, TheMapLooksAsTheChartControlDrawsIt) {
  CDrawPicModel model;
  for (int i = 0; i < 200; ++i) {
    if (i == 150) {
      model.AddCurve("TestOneCurve150", 0x31B229);  // no points: never drawn
      continue;
    }
    model.PaintCell(i, i % 9 == 0 ? 0x4265FF : 0x31B229);
  }
  const Decoded d = DecodePng(EncodeMapPng(model));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.width, 540u);
  EXPECT_EQ(d.height, 460u);
  EXPECT_EQ(d.fileFormat, static_cast<png_uint_32>(PNG_FORMAT_RGB));  // 8-bit RGB, no alpha

  // Cell 0 (bad) at (0, 0) and cell 1 (good) at (10, 0): a 9 x 9 square in
  // the cell's colour, the right and bottom edge the complement of what lay
  // beneath (white background, or a grid line where one runs).
  EXPECT_EQ(d.At(4, 4), kOrangeRed);
  EXPECT_EQ(d.At(8, 8), kOrangeRed);
  EXPECT_EQ(d.At(14, 4), kGreen);
  EXPECT_EQ(d.At(9, 4), kBlack);
  EXPECT_EQ(d.At(4, 9), kBlack);
  EXPECT_EQ(d.At(9, 0), kGridInverted);   // the horizontal line at y = 0
  EXPECT_EQ(d.At(10, 9), kGridInverted);  // the vertical line at x = 10
  // Row 2 starts with cell 108; cell 109 is its second.
  EXPECT_EQ(d.At(14, 24), kGreen);
  // Cell 150 (column 42, row 2) has no points and stays empty, grid and all.
  EXPECT_EQ(d.At(425, 25), kWhite);
  EXPECT_EQ(d.At(420, 25), kGrid);
  EXPECT_EQ(d.At(425, 20), kGrid);
  // Beyond the last curve (cell 300 at (300, 50)).
  EXPECT_EQ(d.At(305, 55), kWhite);
  // The grid stops short: no line closes the last row and column.
  EXPECT_EQ(d.At(539, 100), kWhite);
  EXPECT_EQ(d.At(538, 100), kWhite);
  EXPECT_EQ(d.At(537, 100), kGrid);
  EXPECT_EQ(d.At(0, 459), kWhite);
  EXPECT_EQ(d.At(0, 458), kGrid);
}

TEST(ChartPng, EncodesAnySurfacePixelForPixel) {
  CPixelSurface s(3, 5, 7, 7);
  s.FillRect(7, 7, 8, 12, 0x0000FF);
  s.FillRect(9, 11, 10, 12, 0x123456);
  const Decoded d = DecodePng(EncodeSurfacePng(s));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.width, 3u);
  EXPECT_EQ(d.height, 5u);
  EXPECT_EQ(d.At(0, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(d.At(0, 4), (Rgb{255, 0, 0}));
  EXPECT_EQ(d.At(1, 0), kBlack);  // never painted
  EXPECT_EQ(d.At(2, 4), (Rgb{0x56, 0x34, 0x12}));
  EXPECT_TRUE(d.rgb == s.Pixels());
}

TEST(ChartPng, AnEmptySurfaceHasNoPicture) {
  EXPECT_TRUE(EncodeSurfacePng(CPixelSurface(0, 10)).empty());
  EXPECT_TRUE(EncodeSurfacePng(CPixelSurface(10, 0)).empty());
}

}  // namespace
