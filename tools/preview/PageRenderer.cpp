#include "PageRenderer.h"

#include <algorithm>

namespace preview {
namespace {

constexpr std::uint32_t kMinimumPaperWidth = 576;
constexpr std::uint32_t kMaximumPaperWidth = 4096;
constexpr std::uint32_t kTabColumns = 8;
constexpr std::uint32_t kCutLineThickness = 2;
constexpr std::uint32_t kDashLength = 12;
constexpr std::uint32_t kDashGap = 8;
constexpr std::uint32_t kBoxBorder = 2;
constexpr std::uint32_t kBoxPadding = 8;
constexpr std::uint32_t kSymbolBoxHeight = 120;

struct Cell {
  std::uint32_t width;
  std::uint32_t height;
};

// ESC M n: font A has 12 x 24 dot cells, font B 9 x 17.
Cell baseCell(std::uint8_t font) {
  return font == 0 ? Cell{12, 24} : Cell{9, 17};
}

Cell cellOf(const TextStyle& style) {
  const Cell base = baseCell(style.font);
  return {base.width * style.widthScale, base.height * style.heightScale};
}

std::u32string widen(const std::string& text) {
  std::u32string wide;
  for (const char c : text) wide += static_cast<char32_t>(static_cast<unsigned char>(c));
  return wide;
}

// heightClass 1 to 4: 50 to 200 dots; anything else 250.
std::uint32_t placeholderBarHeight(int heightClass) {
  return heightClass >= 1 && heightClass <= 4 ? 50u * static_cast<std::uint32_t>(heightClass)
                                              : 250u;
}

std::string placeholderTitle(const PlaceholderItem& item, int heightClass) {
  if (item.barcodeType == 9) return "placeholder: QR code";
  if (item.barcodeType == 10) return "placeholder: PDF417";
  return "placeholder: 1D barcode, type " + std::to_string(item.barcodeType) + ", height class " +
         std::to_string(heightClass);
}

}  // namespace

std::uint32_t paperWidth(const std::vector<PrintItem>& items) {
  std::uint32_t width = kMinimumPaperWidth;
  for (const PrintItem& item : items) {
    if (const auto* raster = std::get_if<RasterItem>(&item)) {
      width = std::max(width, raster->widthDots * raster->scaleX);
    }
  }
  return std::min(width, kMaximumPaperWidth);
}

PageRenderer::PageRenderer(std::uint32_t width, FontRenderer& font,
                           std::vector<std::string>& messages)
    : canvas_(width), font_(font), messages_(messages) {}

void PageRenderer::draw(const PrintItem& item) {
  std::visit([this](const auto& each) { drawItem(each); }, item);
}

Canvas PageRenderer::finish() {
  printPendingLine();
  canvas_.growTo(std::max(y_, 1u));
  if (canvas_.clipped()) {
    messages_.push_back("the preview stops after " + std::to_string(canvas_.maxHeight()) +
                        " dots of paper");
  }
  return std::move(canvas_);
}

// Characters go into the line until it is full; a character that does not fit prints
// the line and starts the next one.
void PageRenderer::drawItem(const TextItem& item) {
  const Cell cell = cellOf(item.style);
  for (const char32_t c : item.text) {
    if (x_ + cell.width > canvas_.width()) printLine(lineSpacing_);
    line_.push_back({c, x_, item.style});
    x_ += cell.width;
  }
}

void PageRenderer::drawItem(const LineFeedItem& item) {
  lineSpacing_ = item.spacing;
  if (item.lines == 0) {
    printLine(0);
    return;
  }
  printLine(item.spacing);
  feed(std::uint64_t{item.spacing} * (item.lines - 1));
}

void PageRenderer::drawItem(const TabItem&) {
  const std::uint32_t stop = baseCell(0).width * kTabColumns;
  const std::uint32_t next = (x_ / stop + 1) * stop;
  if (next < canvas_.width()) x_ = next;
}

// ESC J n feeds n dots in place of the line spacing.
void PageRenderer::drawItem(const FeedItem& item) {
  printLine(item.dots);
}

void PageRenderer::drawItem(const RasterItem& item) {
  printPendingLine();
  const std::uint32_t shown = std::min(item.widthDots, item.bytesPerRow * 8);
  for (std::uint32_t row = 0; row < item.rows; ++row) {
    const std::uint8_t* bits = item.bits.data() + std::size_t{row} * item.bytesPerRow;
    for (std::uint32_t x = 0; x < shown; ++x) {
      if (bits[x / 8] & (0x80u >> (x % 8))) {
        canvas_.fillRect(x * item.scaleX, y_ + row * item.scaleY, item.scaleX, item.scaleY);
      }
    }
  }
  feed(std::uint64_t{item.rows} * item.scaleY);
  canvas_.growTo(y_);
}

void PageRenderer::drawItem(const Barcode1DItem& item) {
  printPendingLine();
  Bitmap bars;
  std::string hri;
  std::string error;
  if (!renderBarcode1D(item, bars, hri, error)) {
    messages_.push_back(std::string(barcodeSystemName(item.system)) + " at offset " +
                        std::to_string(item.offset) + " not drawn: " + error);
    drawUndrawable(std::string(barcodeSystemName(item.system)) + ": " + error,
                   std::max(item.height, 2 * kBoxPadding + baseCell(0).height));
    return;
  }
  if (item.hriPosition & 1u) drawCaption(hri, 0, bars.width, item.hriFont);
  drawBitmap(bars);
  if (item.hriPosition & 2u) drawCaption(hri, 0, bars.width, item.hriFont);
}

void PageRenderer::drawItem(const QrItem& item) {
  printPendingLine();
  Bitmap symbol;
  std::string error;
  if (!renderQr(item, symbol, error)) {
    messages_.push_back("QR code at offset " + std::to_string(item.offset) +
                        " not drawn: " + error);
    drawUndrawable("QR code: " + error, kSymbolBoxHeight);
    return;
  }
  drawBitmap(symbol);
}

void PageRenderer::drawItem(const Pdf417Item& item) {
  printPendingLine();
  Bitmap symbol;
  std::string error;
  if (!renderPdf417(item, symbol, error, messages_)) {
    messages_.push_back("PDF417 at offset " + std::to_string(item.offset) + " not drawn: " + error);
    drawUndrawable("PDF417: " + error, kSymbolBoxHeight);
    return;
  }
  drawBitmap(symbol);
}

// A dashed line across the paper with the word "cut" in a gap near its left end.
void PageRenderer::drawItem(const CutItem& item) {
  printPendingLine();
  feed(item.feedDots);
  const Cell label = baseCell(1);
  const std::uint32_t lineY = y_ + label.height / 2 - kCutLineThickness / 2;
  const std::uint32_t gapStart = kDashLength;
  const std::uint32_t gapEnd = gapStart + kDashGap + 3 * label.width + kDashGap;
  for (std::uint32_t x = 0; x < canvas_.width(); x += kDashLength + kDashGap) {
    if (x + kDashLength > gapStart && x < gapEnd) continue;
    canvas_.fillRect(x, lineY, kDashLength, kCutLineThickness);
  }
  font_.drawText(canvas_, U"cut", gapStart + kDashGap, y_, label.width, label.height);
  feed(label.height);
  canvas_.growTo(y_);
}

// A box as wide as the paper with the barcode type and the data written inside.
void PageRenderer::drawItem(const PlaceholderItem& item) {
  printPendingLine();
  if (item.heightClass >= 0) heightClass_ = item.heightClass;
  const bool oneDimensional = item.barcodeType != 9 && item.barcodeType != 10;
  const std::uint32_t height =
      oneDimensional ? placeholderBarHeight(heightClass_) : kSymbolBoxHeight;
  drawBox(canvas_, 0, y_, canvas_.width(), height, kBoxBorder);
  const Cell cell = baseCell(0);
  const std::uint32_t textX = kBoxBorder + kBoxPadding;
  font_.drawText(canvas_, widen(placeholderTitle(item, heightClass_)), textX, y_ + kBoxPadding,
                 cell.width, cell.height);
  if (2 * kBoxPadding + 2 * cell.height <= height) {
    const std::size_t room = (canvas_.width() - 2 * textX) / cell.width;
    font_.drawText(canvas_, widen(item.data.substr(0, room)), textX, y_ + kBoxPadding + cell.height,
                   cell.width, cell.height);
  }
  feed(height);
}

// Prints the collected characters, bottoms aligned, and feeds at least the tallest of
// them, or `advance` dots if that is more.
void PageRenderer::printLine(std::uint32_t advance) {
  std::uint32_t lineHeight = 0;
  for (const Glyph& glyph : line_) lineHeight = std::max(lineHeight, cellOf(glyph.style).height);
  for (const Glyph& glyph : line_) {
    const Cell cell = cellOf(glyph.style);
    font_.drawChar(canvas_, glyph.c, glyph.x, y_ + lineHeight - cell.height, cell.width,
                   cell.height);
  }
  feed(std::max(advance, lineHeight));
  canvas_.growTo(y_);
  x_ = 0;
  line_.clear();
}

// Moves the paper on, stopping just past the longest strip the canvas holds.
void PageRenderer::feed(std::uint64_t dots) {
  y_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(y_ + dots, canvas_.maxHeight() + 1ull));
}

void PageRenderer::printPendingLine() {
  if (!line_.empty()) printLine(0);
  x_ = 0;
}

void PageRenderer::drawBitmap(const Bitmap& bitmap) {
  for (std::uint32_t y = 0; y < bitmap.height; ++y) {
    for (std::uint32_t x = 0; x < bitmap.width; ++x) {
      if (bitmap.black(x, y)) canvas_.fillRect(x, y_ + y, 1, 1);
    }
  }
  feed(bitmap.height);
  canvas_.growTo(y_);
}

// One line of text centred under (or over) `width` dots from x.
void PageRenderer::drawCaption(const std::string& text, std::uint32_t x, std::uint32_t width,
                               std::uint8_t font) {
  const Cell cell = baseCell(font);
  const auto textWidth = static_cast<std::uint32_t>(text.size()) * cell.width;
  const std::uint32_t left = x + (width > textWidth ? (width - textWidth) / 2 : 0);
  font_.drawText(canvas_, widen(text), left, y_, cell.width, cell.height);
  feed(cell.height);
  canvas_.growTo(y_);
}

// A box in place of a symbol the writer refused, with the reason inside.
void PageRenderer::drawUndrawable(const std::string& label, std::uint32_t height) {
  drawBox(canvas_, 0, y_, canvas_.width(), height, kBoxBorder);
  const Cell cell = baseCell(1);
  const std::size_t room = (canvas_.width() - 2 * (kBoxBorder + kBoxPadding)) / cell.width;
  font_.drawText(canvas_, widen(label.substr(0, room)), kBoxBorder + kBoxPadding, y_ + kBoxPadding,
                 cell.width, cell.height);
  feed(height);
}

}  // namespace preview
