#pragma once
// An off-screen 24-bit picture that the chart is painted on. Pixels are RGB
// bytes, rows top-down with no padding. The surface stands for a rectangle of
// the control's client area whose top-left corner is the origin, so callers
// draw in client coordinates and whatever falls outside the rectangle is
// discarded, as with a memory device context whose window origin was moved
// to the clip box.
#include <cstddef>
#include <cstdint>
#include <vector>

struct Rgb {
  uint8_t r;
  uint8_t g;
  uint8_t b;
  bool operator==(const Rgb&) const = default;
};

// COLORREF layout: 0x00BBGGRR.
constexpr Rgb RgbFromColorRef(uint32_t color) {
  return {static_cast<uint8_t>(color & 0xFF), static_cast<uint8_t>((color >> 8) & 0xFF),
          static_cast<uint8_t>((color >> 16) & 0xFF)};
}

class CPixelSurface {
 public:
  // A new surface is black, like a freshly made compatible bitmap. Negative
  // sizes give an empty surface.
  CPixelSurface(int width, int height, int originX = 0, int originY = 0);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int OriginX() const { return m_originX; }
  int OriginY() const { return m_originY; }

  // Client coordinates.
  bool Contains(int x, int y) const;
  // Black for a point outside the surface.
  Rgb GetPixel(int x, int y) const;

  // Fills left <= x < right, top <= y < bottom (client coordinates), clipped.
  void FillRect(int left, int top, int right, int bottom, uint32_t color);
  // Complements the 1-pixel outline of left <= x < right, top <= y < bottom,
  // every outline pixel once, clipped. The inside is left alone.
  void InvertFrame(int left, int top, int right, int bottom);

  // Surface row (0 = top), width * 3 bytes of R, G, B.
  const uint8_t* Row(int row) const { return m_pixels.data() + RowOffset(row); }
  size_t Stride() const { return static_cast<size_t>(m_width) * 3; }
  const std::vector<uint8_t>& Pixels() const { return m_pixels; }

  // The picture in the layout of a 24-bit BI_RGB device-independent bitmap
  // with a positive height: B, G, R bytes, bottom row first, each row padded
  // with zeros to a multiple of 4 bytes.
  std::vector<uint8_t> ToDibRows() const;
  // The same into memory the caller has, e.g. the bits of a DIB section of
  // this size: DibStride(Width()) * Height() bytes.
  void CopyToDib(uint8_t* bits) const;
  static size_t DibStride(int width);

 private:
  size_t RowOffset(int row) const { return static_cast<size_t>(row) * Stride(); }
  void InvertSpan(int y, int left, int right);  // surface coordinates, already clipped

  int m_width;
  int m_height;
  int m_originX;
  int m_originY;
  std::vector<uint8_t> m_pixels;
};
