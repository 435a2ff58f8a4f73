// What the preview draws, in the order the printer would print it. The stream parser
// resolves the printer's settings (bar height, module size, line spacing, ...) into each
// item, so the page renderer only lays them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace preview {

/// Character cell of ESC M n: font A is 12 x 24 dots, font B 9 x 17.
struct TextStyle {
  std::uint8_t font = 0;
  std::uint8_t widthScale = 1;   ///< GS ! n, bits 4 to 6, plus one
  std::uint8_t heightScale = 1;  ///< GS ! n, bits 0 to 2, plus one

  bool operator==(const TextStyle&) const = default;
};

/// Printable characters in one style, already mapped from the code table to Unicode.
struct TextItem {
  std::u32string text;
  TextStyle style;
};

/// LF (lines 1) or ESC d n: print the line, then feed `lines` lines of `spacing` dots.
struct LineFeedItem {
  std::uint32_t lines = 1;
  std::uint32_t spacing = 30;
};

/// HT: on to the next tab stop (every eight characters).
struct TabItem {};

/// ESC J n: print the line, then feed `dots` dots.
struct FeedItem {
  std::uint32_t dots = 0;
};

/// A raster image: `rows` rows of `bytesPerRow` bytes, 1 = black, of which the first
/// `widthDots` pixels are printed, each `scaleX` x `scaleY` dots.
struct RasterItem {
  std::uint32_t widthDots = 0;
  std::uint32_t bytesPerRow = 0;
  std::uint32_t rows = 0;
  std::uint8_t scaleX = 1;
  std::uint8_t scaleY = 1;
  std::vector<std::uint8_t> bits;
  std::size_t offset = 0;  ///< where its command starts in the input
};

/// GS k m n data, with GS h, GS w, GS f and GS H as they stood.
struct Barcode1DItem {
  std::uint8_t system = 0x49;  ///< m: 0x41 UPC-A ... 0x49 CODE128 (0 to 6 are mapped up)
  std::string data;
  std::uint32_t height = 162;
  std::uint32_t moduleWidth = 3;
  std::uint8_t hriPosition = 0;  ///< 0 none, 1 above, 2 below, 3 both
  std::uint8_t hriFont = 0;
  std::size_t offset = 0;
};

/// GS ( k print (cn 0x31): the stored data with the model, module size and level.
struct QrItem {
  std::string data;
  std::uint8_t model = 0x32;
  std::uint32_t moduleSize = 3;
  std::uint8_t errorLevel = 0;  ///< 0 L, 1 M, 2 Q, 3 H
  std::size_t offset = 0;
};

/// GS ( k print (cn 0x30): the stored data with the symbol's parameters.
struct Pdf417Item {
  std::string data;
  std::uint32_t columns = 0;  ///< 0: automatic
  std::uint32_t rows = 0;     ///< 0: automatic
  std::uint32_t moduleWidth = 3;
  std::uint32_t rowHeight = 3;  ///< in module widths
  int errorLevel = -1;          ///< 0 to 8, or -1 for automatic
  bool truncated = false;
  std::size_t offset = 0;
};

/// A paper cut (GS V, ESC i, ESC m, or FF 00 00 00 written over a cut).
struct CutItem {
  std::uint32_t feedDots = 0;
  bool partial = false;
};

/// A barcode request the driver left in a page file, before the relay expands it.
struct PlaceholderItem {
  std::uint8_t barcodeType = 0;  ///< 9 QR code, 10 PDF417, other: a 1D barcode table entry
  int heightClass = -1;          ///< the GS ! n inside it, or -1
  std::string data;
  std::size_t offset = 0;
};

using PrintItem = std::variant<TextItem, LineFeedItem, TabItem, FeedItem, RasterItem, Barcode1DItem,
                               QrItem, Pdf417Item, CutItem, PlaceholderItem>;

}  // namespace preview
