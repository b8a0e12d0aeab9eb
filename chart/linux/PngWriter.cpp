#include "chart/linux/PngWriter.h"

#include <png.h>

#include <cstdio>

#include "chart/ChartRenderer.h"

namespace {

// libpng reports errors by longjmp back into EncodePng; nothing is printed,
// the caller gets false.
[[noreturn]] void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// No object with a destructor may live in this frame: a longjmp out of
// libpng would skip it.
bool EncodePng(std::FILE* file, const CPixelSurface& surface) {
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(surface.Width()),
               static_cast<png_uint_32>(surface.Height()), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int row = 0; row < surface.Height(); ++row) {
    png_write_row(png, surface.Row(row));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool WriteSurfacePng(const CPixelSurface& surface, const std::string& path) {
  if (surface.Width() <= 0 || surface.Height() <= 0 || path.empty()) return false;
  const std::string temp = path + ".part";
  std::FILE* file = std::fopen(temp.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = EncodePng(file, surface);
  // fclose flushes: a full disk may show only here.
  if (std::fclose(file) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) std::remove(temp.c_str());
  return ok;
}

bool WriteMapPng(const CDrawPicModel& model, const std::string& path) {
  CPixelSurface surface(CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight);
  PaintChart(model, surface, CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight);
  return WriteSurfacePng(surface, path);
}
