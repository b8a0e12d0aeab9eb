#include "chart/PixelSurface.h"

#include <algorithm>
#include <cstring>

CPixelSurface::CPixelSurface(int width, int height, int originX, int originY)
    : m_width(std::max(width, 0)),
      m_height(std::max(height, 0)),
      m_originX(originX),
      m_originY(originY),
      m_pixels(static_cast<size_t>(m_width) * static_cast<size_t>(m_height) * 3, 0) {}

bool CPixelSurface::Contains(int x, int y) const {
  const long long sx = static_cast<long long>(x) - m_originX;
  const long long sy = static_cast<long long>(y) - m_originY;
  return sx >= 0 && sx < m_width && sy >= 0 && sy < m_height;
}

Rgb CPixelSurface::GetPixel(int x, int y) const {
  if (!Contains(x, y)) return {0, 0, 0};
  const uint8_t* p = Row(y - m_originY) + static_cast<size_t>(x - m_originX) * 3;
  return {p[0], p[1], p[2]};
}

void CPixelSurface::FillRect(int left, int top, int right, int bottom, uint32_t color) {
  // Into surface coordinates (in 64 bits: client coordinates may be anything), then clip.
  const long long l = std::max<long long>(static_cast<long long>(left) - m_originX, 0);
  const long long t = std::max<long long>(static_cast<long long>(top) - m_originY, 0);
  const long long r = std::min<long long>(static_cast<long long>(right) - m_originX, m_width);
  const long long b = std::min<long long>(static_cast<long long>(bottom) - m_originY, m_height);
  if (l >= r || t >= b) return;

  const Rgb c = RgbFromColorRef(color);
  uint8_t* first = m_pixels.data() + RowOffset(static_cast<int>(t)) + static_cast<size_t>(l) * 3;
  const size_t spanBytes = static_cast<size_t>(r - l) * 3;
  for (size_t i = 0; i < spanBytes; i += 3) {
    first[i] = c.r;
    first[i + 1] = c.g;
    first[i + 2] = c.b;
  }
  for (long long y = t + 1; y < b; ++y) {
    std::memcpy(first + static_cast<size_t>(y - t) * Stride(), first, spanBytes);
  }
}

void CPixelSurface::InvertSpan(int y, int left, int right) {
  uint8_t* p = m_pixels.data() + RowOffset(y) + static_cast<size_t>(left) * 3;
  for (size_t i = 0, n = static_cast<size_t>(right - left) * 3; i < n; ++i) p[i] ^= 0xFF;
}

void CPixelSurface::InvertFrame(int left, int top, int right, int bottom) {
  if (left >= right || top >= bottom) return;
  const long long l = static_cast<long long>(left) - m_originX;
  const long long t = static_cast<long long>(top) - m_originY;
  const long long r = static_cast<long long>(right) - m_originX;   // exclusive
  const long long b = static_cast<long long>(bottom) - m_originY;  // exclusive
  const long long cl = std::max<long long>(l, 0);
  const long long cr = std::min<long long>(r, m_width);
  const long long ct = std::max<long long>(t, 0);
  const long long cb = std::min<long long>(b, m_height);
  if (cl >= cr || ct >= cb) return;

  for (long long y = ct; y < cb; ++y) {
    if (y == t || y == b - 1) {
      InvertSpan(static_cast<int>(y), static_cast<int>(cl), static_cast<int>(cr));
    } else {
      // Side columns; a frame one pixel wide has only one.
      if (l >= cl) InvertSpan(static_cast<int>(y), static_cast<int>(l), static_cast<int>(l + 1));
      if (r - 1 != l && r - 1 < cr) {
        InvertSpan(static_cast<int>(y), static_cast<int>(r - 1), static_cast<int>(r));
      }
    }
  }
}

size_t CPixelSurface::DibStride(int width) {
  return (static_cast<size_t>(std::max(width, 0)) * 3 + 3) & ~static_cast<size_t>(3);
}

std::vector<uint8_t> CPixelSurface::ToDibRows() const {
  std::vector<uint8_t> dib(DibStride(m_width) * static_cast<size_t>(m_height), 0);
  if (!dib.empty()) CopyToDib(dib.data());
  return dib;
}

void CPixelSurface::CopyToDib(uint8_t* bits) const {
  const size_t stride = DibStride(m_width);
  for (int row = 0; row < m_height; ++row) {
    const uint8_t* src = Row(row);
    uint8_t* dst = bits + static_cast<size_t>(m_height - 1 - row) * stride;
    for (size_t i = 0, n = Stride(); i < n; i += 3) {
      dst[i] = src[i + 2];
      dst[i + 1] = src[i + 1];
      dst[i + 2] = src[i];
    }
    for (size_t i = Stride(); i < stride; ++i) dst[i] = 0;
  }
}
