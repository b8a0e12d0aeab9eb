#include "chart/linux/PngWriter.h"

#include <png.h>

#include "chart/ChartRenderer.h"

namespace {

// libpng reports errors by longjmp back into Encode; nothing is printed, the
// caller gets an empty result.
[[noreturn]] void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}
void NoFlush(png_structp) {}

// No object with a destructor may be made in this frame after setjmp: a
// longjmp out of libpng would skip it. `out` belongs to the caller.
bool Encode(const CPixelSurface& surface, std::string* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
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
  png_set_write_fn(png, out, AppendBytes, NoFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(surface.Width()), static_cast<png_uint_32>(surface.Height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int row = 0; row < surface.Height(); ++row) png_write_row(png, surface.Row(row));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string EncodeSurfacePng(const CPixelSurface& surface) {
  std::string bytes;
  if (surface.Width() <= 0 || surface.Height() <= 0) return bytes;
  if (!Encode(surface, &bytes)) bytes.clear();
  return bytes;
}

std::string EncodeMapPng(const CDrawPicModel& model) {
  CPixelSurface surface(CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight);
  PaintChart(model, surface, CDrawPicModel::kMapWidth, CDrawPicModel::kMapHeight, nullptr);
  return EncodeSurfacePng(surface);
}
