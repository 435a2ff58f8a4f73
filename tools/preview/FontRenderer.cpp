// The face is sized per cell: its advance fills the cell's width and its ascender plus
// descender the cell's height, the way a printer's character cell holds a glyph.
#include "FontRenderer.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>

namespace preview {

void FontRenderer::LibraryCloser::operator()(FT_LibraryRec_* library) const {
  FT_Done_FreeType(library);
}

void FontRenderer::FaceCloser::operator()(FT_FaceRec_* face) const {
  FT_Done_Face(face);
}

FontRenderer::FontRenderer() = default;
FontRenderer::~FontRenderer() = default;

bool FontRenderer::open(const std::string& path, std::string& error) {
  face_.reset();
  if (!library_) {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
      error = "FreeType does not start";
      return false;
    }
    library_.reset(library);
  }
  FT_Face face = nullptr;
  if (FT_New_Face(library_.get(), path.c_str(), 0, &face) != 0) {
    error = "cannot load font " + path;
    return false;
  }
  face_.reset(face);
  if (!FT_IS_SCALABLE(face) || face->max_advance_width <= 0 ||
      face->ascender - face->descender <= 0) {
    face_.reset();
    error = "font " + path + " is not a scalable font";
    return false;
  }
  cellWidth_ = cellHeight_ = 0;
  return true;
}

bool FontRenderer::selectCell(std::uint32_t w, std::uint32_t h) {
  if (w == cellWidth_ && h == cellHeight_) return true;
  const double em = face_->units_per_EM;
  const double ascender = face_->ascender;
  const double extent = ascender - face_->descender;
  const auto xPpem = static_cast<FT_UInt>(std::lround(w * em / face_->max_advance_width));
  const auto yPpem = static_cast<FT_UInt>(std::lround(h * em / extent));
  if (FT_Set_Pixel_Sizes(face_.get(), std::max(xPpem, 1u), std::max(yPpem, 1u)) != 0) {
    return false;
  }
  cellWidth_ = w;
  cellHeight_ = h;
  baseline_ = static_cast<std::uint32_t>(std::lround(h * ascender / extent));
  return true;
}

void FontRenderer::drawChar(Canvas& canvas, char32_t c, std::uint32_t x, std::uint32_t y,
                            std::uint32_t w, std::uint32_t h) {
  if (c == U' ' || w == 0 || h == 0) return;
  const bool drawable = face_ && FT_Get_Char_Index(face_.get(), c) != 0 && selectCell(w, h) &&
                        FT_Load_Char(face_.get(), c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) == 0;
  if (!drawable) {
    drawBox(canvas, x + 1, y + h / 4, w > 2 ? w - 2 : 1, h / 2, 1);
    return;
  }
  // A mono bitmap has one bit per dot, most significant bit leftmost.
  const FT_GlyphSlot glyph = face_->glyph;
  const FT_Bitmap& bitmap = glyph->bitmap;
  const long left = static_cast<long>(x) + glyph->bitmap_left;
  const long top = static_cast<long>(y + baseline_) - glyph->bitmap_top;
  for (unsigned row = 0; row < bitmap.rows; ++row) {
    const unsigned char* bits = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
    for (unsigned col = 0; col < bitmap.width; ++col) {
      const bool on = bitmap.pixel_mode == FT_PIXEL_MODE_MONO
                          ? (bits[col / 8] & (0x80u >> (col % 8))) != 0
                          : bits[col] >= 128;
      const long px = left + col;
      const long py = top + row;
      if (on && px >= 0 && py >= 0) {
        canvas.ink(static_cast<std::uint32_t>(px), static_cast<std::uint32_t>(py), 255);
      }
    }
  }
}

void FontRenderer::drawText(Canvas& canvas, std::u32string_view text, std::uint32_t x,
                            std::uint32_t y, std::uint32_t w, std::uint32_t h) {
  for (const char32_t c : text) {
    drawChar(canvas, c, x, y, w, h);
    x += w;
  }
}

void drawBox(Canvas& canvas, std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h,
             std::uint32_t thickness) {
  if (w == 0 || h == 0) return;
  thickness = std::min({thickness, w, h});
  canvas.fillRect(x, y, w, thickness);
  canvas.fillRect(x, y + h - thickness, w, thickness);
  canvas.fillRect(x, y, thickness, h);
  canvas.fillRect(x + w - thickness, y, thickness, h);
}

}  // namespace preview
