// Draws characters into printer character cells with FreeType, one bit per dot as a
// thermal head prints them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Canvas.h"

struct FT_LibraryRec_;
struct FT_FaceRec_;

namespace preview {

/// The monospaced font the preview draws text with when no other is given.
inline constexpr const char* kDefaultFontPath =
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

class FontRenderer {
 public:
  FontRenderer();
  ~FontRenderer();
  FontRenderer(const FontRenderer&) = delete;
  FontRenderer& operator=(const FontRenderer&) = delete;

  /// Loads the font file. False, with `error` saying why, when FreeType cannot.
  bool open(const std::string& path, std::string& error);
  bool isOpen() const { return face_ != nullptr; }

  /// Draws `c` scaled to fill the cell of w x h dots whose top left corner is x, y. A
  /// character the font lacks, or any character without a font, is drawn as a box.
  void drawChar(Canvas& canvas, char32_t c, std::uint32_t x, std::uint32_t y, std::uint32_t w,
                std::uint32_t h);

  /// Draws `text` in cells of w x h dots, left to right from x, y.
  void drawText(Canvas& canvas, std::u32string_view text, std::uint32_t x, std::uint32_t y,
                std::uint32_t w, std::uint32_t h);

 private:
  struct LibraryCloser {
    void operator()(FT_LibraryRec_* library) const;
  };
  struct FaceCloser {
    void operator()(FT_FaceRec_* face) const;
  };

  bool selectCell(std::uint32_t w, std::uint32_t h);

  // Declared in this order so that the face is closed before its library.
  std::unique_ptr<FT_LibraryRec_, LibraryCloser> library_;
  std::unique_ptr<FT_FaceRec_, FaceCloser> face_;
  std::uint32_t cellWidth_ = 0;
  std::uint32_t cellHeight_ = 0;
  std::uint32_t baseline_ = 0;
};

/// Draws an outlined w x h box whose top left corner is x, y.
void drawBox(Canvas& canvas, std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h,
             std::uint32_t thickness);

}  // namespace preview
