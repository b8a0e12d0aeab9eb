// Rasterises a set of characters with FreeType and prints their coverage maps,
// one glyph per line:
//   U+XXXX advance left top width height HEX
// HEX is width*height bytes of 8-bit coverage, row by row from the top.
// The art generator keeps these maps in glyphs.py so that drawing the skin
// needs neither FreeType nor the font files, only Python.
//
// Usage: glyph_baker FONT_FILE FAMILY PIXEL_SIZE CHARS_UTF8
// FAMILY picks the face inside a font collection by its family name.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<unsigned long> DecodeUtf8(const std::string& s) {
  std::vector<unsigned long> out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    unsigned long cp = 0;
    size_t n = 0;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else {
      cp = c & 0x07;
      n = 4;
    }
    if (i + n > s.size()) break;
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += n;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s FONT_FILE FAMILY PIXEL_SIZE CHARS_UTF8\n", argv[0]);
    return 2;
  }
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) return 1;

  FT_Face face = nullptr;
  FT_Long faces = 1;
  for (FT_Long index = 0; index < faces; ++index) {
    FT_Face candidate = nullptr;
    if (FT_New_Face(lib, argv[1], index, &candidate) != 0) {
      std::fprintf(stderr, "cannot open %s\n", argv[1]);
      return 1;
    }
    faces = candidate->num_faces;
    if (candidate->family_name && std::strcmp(candidate->family_name, argv[2]) == 0) {
      face = candidate;
      break;
    }
    FT_Done_Face(candidate);
  }
  if (!face) {
    std::fprintf(stderr, "family %s not found in %s\n", argv[2], argv[1]);
    return 1;
  }
  FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(std::atoi(argv[3])));

  for (unsigned long cp : DecodeUtf8(argv[4])) {
    if (FT_Load_Char(face, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) != 0) {
      std::fprintf(stderr, "no glyph for U+%04lX\n", cp);
      return 1;
    }
    const FT_GlyphSlot g = face->glyph;
    const FT_Bitmap& bm = g->bitmap;
    std::printf("U+%04lX %ld %d %d %u %u ", cp, static_cast<long>(g->advance.x >> 6), g->bitmap_left, g->bitmap_top,
                bm.width, bm.rows);
    for (unsigned y = 0; y < bm.rows; ++y) {
      const unsigned char* row = bm.buffer + static_cast<long>(y) * bm.pitch;
      for (unsigned x = 0; x < bm.width; ++x) std::printf("%02x", row[x]);
    }
    std::printf("\n");
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return 0;
}
