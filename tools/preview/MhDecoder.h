// Decoder for the one-dimensional Modified Huffman code of ITU-T T.4, as the relay's
// compressed raster stream carries it: 588-pixel lines, each followed by EOL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace preview {

/// Pixels in every line of the relay's compressed raster stream.
inline constexpr std::uint32_t kMhLineWidth = 588;

/// The rows decoded from one run of code, and how the decoding ended.
struct MhDecodeResult {
  std::uint32_t width = 0;        ///< pixels per row
  std::uint32_t bytesPerRow = 0;  ///< (width + 7) / 8
  std::uint32_t rowCount = 0;
  std::vector<std::uint8_t> rows;     ///< rowCount rows, most significant bit leftmost, 1 = black
  std::uint32_t linesWithoutEol = 0;  ///< lines not followed by an end-of-line code
  bool ok = true;                     ///< false when a bad code word stopped the decoding
  std::string error;                  ///< what stopped it, with the bit position
};

/// Decodes every line in `code`. A line may be preceded and followed by EOL, with any
/// number of zero fill bits before an EOL; zero bits up to the end of the code are padding.
/// Decoding stops at the end of the code, at RTC (six EOLs in a row) or at the first bad
/// code word; the rows decoded before a bad code word are kept.
MhDecodeResult decodeMh(std::span<const std::uint8_t> code, std::uint32_t lineWidth = kMhLineWidth);

}  // namespace preview
