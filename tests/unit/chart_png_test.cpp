// The scan map saved as a PNG picture by the terminal front end.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Format.h"
#include "chart/CDrawPicModel.h"
#include "chart/ChartRenderer.h"
#include "chart/PixelSurface.h"
#include "chart/linux/PngWriter.h"

namespace {

namespace fs = std::filesystem;

class ChartPng : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::current_path() / "chart_png_test";
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(m_dir)) names.push_back(e.path().filename());
    return names;
  }

  fs::path m_dir;
};

struct Decoded {
  bool ok = false;
  png_uint_32 width = 0, height = 0, fileFormat = 0;
  std::vector<uint8_t> rgb;
};

Decoded ReadPng(const fs::path& path) {
  Decoded d;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return d;
  d.fileFormat = image.format;
  d.width = image.width;
  d.height = image.height;
  image.format = PNG_FORMAT_RGB;
  d.rgb.resize(PNG_IMAGE_SIZE(image));
  d.ok = png_image_finish_read(&image, nullptr, d.rgb.data(), 0, nullptr) != 0;
  return d;
}

TEST_F(ChartPng, MapRoundTripsPixelForPixel) {
  CDrawPicModel model;
  for (int i = 0; i < 200; ++i) {
    const std::string name = StrFormat("TestOneCurve%d", i);
    model.AddCurve(name, i % 9 == 0 ? 0x4265FF : 0x31B229);
    if (i != 150) model.AddPoint(name, 0.0f, float(i));
  }
  CPixelSurface painted(540, 460);
  PaintChart(model, painted, 540, 460);

  const fs::path file = m_dir / "map.png";
  ASSERT_TRUE(WriteMapPng(model, file.string()));
  const Decoded d = ReadPng(file);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.width, 540u);
  EXPECT_EQ(d.height, 460u);
  EXPECT_EQ(d.fileFormat, static_cast<png_uint_32>(PNG_FORMAT_RGB));  // 8-bit RGB, no alpha
  EXPECT_TRUE(d.rgb == painted.Pixels());
  EXPECT_EQ(Entries(), std::vector<std::string>{"map.png"});
}

TEST_F(ChartPng, OddSizedSurfaceAndReplacingAnOlderFile) {
  CPixelSurface s(3, 5, 7, 7);
  s.FillRect(7, 7, 8, 12, 0x0000FF);
  s.FillRect(9, 11, 10, 12, 0x123456);
  const fs::path file = m_dir / "small.png";
  std::ofstream(file) << "old contents";
  ASSERT_TRUE(WriteSurfacePng(s, file.string()));
  const Decoded d = ReadPng(file);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.width, 3u);
  EXPECT_EQ(d.height, 5u);
  EXPECT_TRUE(d.rgb == s.Pixels());
}

TEST_F(ChartPng, FailuresLeaveNoFile) {
  CPixelSurface s(10, 10);
  EXPECT_FALSE(WriteSurfacePng(s, (m_dir / "missing" / "map.png").string()));
  EXPECT_FALSE(WriteSurfacePng(s, ""));
  EXPECT_FALSE(WriteSurfacePng(CPixelSurface(0, 10), (m_dir / "empty.png").string()));

  // A directory in the way of the target: nothing may stay behind beside it.
  fs::create_directory(m_dir / "taken.png");
  EXPECT_FALSE(WriteSurfacePng(s, (m_dir / "taken.png").string()));
  EXPECT_TRUE(fs::is_directory(m_dir / "taken.png"));
  EXPECT_EQ(Entries(), std::vector<std::string>{"taken.png"});
}

}  // namespace
#endif  // _WIN32
