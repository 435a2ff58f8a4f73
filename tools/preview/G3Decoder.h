// The compressed raster stream's code (one-dimensional Modified Huffman lines of ITU-T
// T.4, each ending in EOL) decoded by libtiff's CCITT Group 3 decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace preview {

/// Pixels in every line of the relay's compressed raster stream.
inline constexpr std::uint32_t kMhLineWidth = 588;

/// The rows decoded from one run of code, and what the decoder reported on the way.
struct G3DecodeResult {
  std::uint32_t width = 0;        ///< pixels per row
  std::uint32_t bytesPerRow = 0;  ///< (width + 7) / 8
  std::uint32_t rowCount = 0;
  std::vector<std::uint8_t> rows;     ///< rowCount rows, most significant bit leftmost, 1 = black
  std::vector<std::string> problems;  ///< libtiff's errors and warnings, and a cap met
};

/// The printable width of the paper. The code's lines are 588 pixels, 12 more than a row
/// of the page: the relay codes each row's pixels, then white up to 588.
inline constexpr std::uint32_t kPrintableWidth = 576;

/// The width to draw the decoded rows at: kPrintableWidth when every row is white past
/// it, so a compressed page draws as wide as its banded twin; otherwise the full width.
std::uint32_t printedWidth(const G3DecodeResult& decoded);

/// The lines `code` holds: the stretches between EOLs, and before the first and after the
/// last, that hold a one bit. An EOL is eleven or more zeros then a one, a sequence no
/// code word or pair of code words makes; repeated EOLs (RTC) hold no line.
std::uint32_t countLines(std::span<const std::uint8_t> code);

/// The bits the EOLs (and fill) at the start of `code` take, before the first line.
std::size_t leadingEolBits(std::span<const std::uint8_t> code);

/// Decodes the lines in `code`, at most `maxRows` of them. The code's own leading EOLs
/// are left out and one EOL is put in front, as the decoder synchronises on an EOL
/// before each line. A line that does not decode ends the decoding; the rows before it
/// are kept.
G3DecodeResult decodeG3(std::span<const std::uint8_t> code, std::uint32_t width = kMhLineWidth,
                        std::uint32_t maxRows = 100000);

}  // namespace preview
