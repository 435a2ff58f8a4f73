// Lays the print items out on the paper the way a receipt printer advances it: text
// collects in a line that prints at a line feed, everything else prints at the left edge
// below what came before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Canvas.h"
#include "FontRenderer.h"
#include "PrintItems.h"
#include "SymbolRenderer.h"

namespace preview {

/// The printable width a preview uses: the widest raster, at least 576 dots and at most
/// 4096 (wider rasters are cut at the edge).
std::uint32_t paperWidth(const std::vector<PrintItem>& items);

class PageRenderer {
 public:
  /// `font` may be closed: text is then drawn as boxes. Lines about what could not be
  /// drawn are added to `messages`.
  PageRenderer(std::uint32_t width, FontRenderer& font, std::vector<std::string>& messages);

  void draw(const PrintItem& item);

  /// Prints what is left in the line and hands over the paper.
  Canvas finish();

 private:
  struct Glyph {
    char32_t c;
    std::uint32_t x;
    TextStyle style;
  };

  void drawItem(const TextItem& item);
  void drawItem(const LineFeedItem& item);
  void drawItem(const TabItem& item);
  void drawItem(const FeedItem& item);
  void drawItem(const RasterItem& item);
  void drawItem(const Barcode1DItem& item);
  void drawItem(const QrItem& item);
  void drawItem(const Pdf417Item& item);
  void drawItem(const CutItem& item);
  void drawItem(const PlaceholderItem& item);

  void feed(std::uint64_t dots);
  void printLine(std::uint32_t advance);
  void printPendingLine();
  void drawBitmap(const Bitmap& bitmap);
  void drawCaption(const std::string& text, std::uint32_t x, std::uint32_t width,
                   std::uint8_t font);
  void drawUndrawable(const std::string& label, std::uint32_t height);

  Canvas canvas_;
  FontRenderer& font_;
  std::vector<std::string>& messages_;
  std::uint32_t y_ = 0;  ///< top of the line being collected
  std::uint32_t x_ = 0;  ///< where the next character goes
  std::uint32_t lineSpacing_ = 30;
  int heightClass_ = 0;  ///< the last GS ! n of a placeholder
  std::vector<Glyph> line_;
};

}  // namespace preview
