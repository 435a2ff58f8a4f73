// Modified Huffman decoding (ITU-T T.4, one-dimensional coding): the code tables are
// turned into an index at compile time, and lines are read one code word at a time.
#include "MhDecoder.h"

#include <algorithm>
#include <array>

namespace preview {
namespace {

struct MhCode {
  std::uint8_t bitCount;
  std::uint16_t code;  // right-aligned, sent most significant bit first
  std::uint16_t runLength;
};

// ITU-T T.4 Table 2: white terminating codes (runs 0 to 63), then the white make-up codes
// of Table 3 (64 to 1728).
constexpr MhCode kWhiteCodes[] = {
    {8, 0x35, 0},     // 0011 0101
    {6, 0x7, 1},      // 0001 11
    {4, 0x7, 2},      // 0111
    {4, 0x8, 3},      // 1000
    {4, 0xB, 4},      // 1011
    {4, 0xC, 5},      // 1100
    {4, 0xE, 6},      // 1110
    {4, 0xF, 7},      // 1111
    {5, 0x13, 8},     // 1001 1
    {5, 0x14, 9},     // 1010 0
    {5, 0x7, 10},     // 0011 1
    {5, 0x8, 11},     // 0100 0
    {6, 0x8, 12},     // 0010 00
    {6, 0x3, 13},     // 0000 11
    {6, 0x34, 14},    // 1101 00
    {6, 0x35, 15},    // 1101 01
    {6, 0x2A, 16},    // 1010 10
    {6, 0x2B, 17},    // 1010 11
    {7, 0x27, 18},    // 0100 111
    {7, 0xC, 19},     // 0001 100
    {7, 0x8, 20},     // 0001 000
    {7, 0x17, 21},    // 0010 111
    {7, 0x3, 22},     // 0000 011
    {7, 0x4, 23},     // 0000 100
    {7, 0x28, 24},    // 0101 000
    {7, 0x2B, 25},    // 0101 011
    {7, 0x13, 26},    // 0010 011
    {7, 0x24, 27},    // 0100 100
    {7, 0x18, 28},    // 0011 000
    {8, 0x2, 29},     // 0000 0010
    {8, 0x3, 30},     // 0000 0011
    {8, 0x1A, 31},    // 0001 1010
    {8, 0x1B, 32},    // 0001 1011
    {8, 0x12, 33},    // 0001 0010
    {8, 0x13, 34},    // 0001 0011
    {8, 0x14, 35},    // 0001 0100
    {8, 0x15, 36},    // 0001 0101
    {8, 0x16, 37},    // 0001 0110
    {8, 0x17, 38},    // 0001 0111
    {8, 0x28, 39},    // 0010 1000
    {8, 0x29, 40},    // 0010 1001
    {8, 0x2A, 41},    // 0010 1010
    {8, 0x2B, 42},    // 0010 1011
    {8, 0x2C, 43},    // 0010 1100
    {8, 0x2D, 44},    // 0010 1101
    {8, 0x4, 45},     // 0000 0100
    {8, 0x5, 46},     // 0000 0101
    {8, 0xA, 47},     // 0000 1010
    {8, 0xB, 48},     // 0000 1011
    {8, 0x52, 49},    // 0101 0010
    {8, 0x53, 50},    // 0101 0011
    {8, 0x54, 51},    // 0101 0100
    {8, 0x55, 52},    // 0101 0101
    {8, 0x24, 53},    // 0010 0100
    {8, 0x25, 54},    // 0010 0101
    {8, 0x58, 55},    // 0101 1000
    {8, 0x59, 56},    // 0101 1001
    {8, 0x5A, 57},    // 0101 1010
    {8, 0x5B, 58},    // 0101 1011
    {8, 0x4A, 59},    // 0100 1010
    {8, 0x4B, 60},    // 0100 1011
    {8, 0x32, 61},    // 0011 0010
    {8, 0x33, 62},    // 0011 0011
    {8, 0x34, 63},    // 0011 0100
    {5, 0x1B, 64},    // 1101 1
    {5, 0x12, 128},   // 1001 0
    {6, 0x17, 192},   // 0101 11
    {7, 0x37, 256},   // 0110 111
    {8, 0x36, 320},   // 0011 0110
    {8, 0x37, 384},   // 0011 0111
    {8, 0x64, 448},   // 0110 0100
    {8, 0x65, 512},   // 0110 0101
    {8, 0x68, 576},   // 0110 1000
    {8, 0x67, 640},   // 0110 0111
    {9, 0xCC, 704},   // 0110 0110 0
    {9, 0xCD, 768},   // 0110 0110 1
    {9, 0xD2, 832},   // 0110 1001 0
    {9, 0xD3, 896},   // 0110 1001 1
    {9, 0xD4, 960},   // 0110 1010 0
    {9, 0xD5, 1024},  // 0110 1010 1
    {9, 0xD6, 1088},  // 0110 1011 0
    {9, 0xD7, 1152},  // 0110 1011 1
    {9, 0xD8, 1216},  // 0110 1100 0
    {9, 0xD9, 1280},  // 0110 1100 1
    {9, 0xDA, 1344},  // 0110 1101 0
    {9, 0xDB, 1408},  // 0110 1101 1
    {9, 0x98, 1472},  // 0100 1100 0
    {9, 0x99, 1536},  // 0100 1100 1
    {9, 0x9A, 1600},  // 0100 1101 0
    {6, 0x18, 1664},  // 0110 00
    {9, 0x9B, 1728},  // 0100 1101 1
};

// ITU-T T.4 Table 2: black terminating codes, then the black make-up codes of Table 3.
constexpr MhCode kBlackCodes[] = {
    {10, 0x37, 0},     // 0000 1101 11
    {3, 0x2, 1},       // 010
    {2, 0x3, 2},       // 11
    {2, 0x2, 3},       // 10
    {3, 0x3, 4},       // 011
    {4, 0x3, 5},       // 0011
    {4, 0x2, 6},       // 0010
    {5, 0x3, 7},       // 0001 1
    {6, 0x5, 8},       // 0001 01
    {6, 0x4, 9},       // 0001 00
    {7, 0x4, 10},      // 0000 100
    {7, 0x5, 11},      // 0000 101
    {7, 0x7, 12},      // 0000 111
    {8, 0x4, 13},      // 0000 0100
    {8, 0x7, 14},      // 0000 0111
    {9, 0x18, 15},     // 0000 1100 0
    {10, 0x17, 16},    // 0000 0101 11
    {10, 0x18, 17},    // 0000 0110 00
    {10, 0x8, 18},     // 0000 0010 00
    {11, 0x67, 19},    // 0000 1100 111
    {11, 0x68, 20},    // 0000 1101 000
    {11, 0x6C, 21},    // 0000 1101 100
    {11, 0x37, 22},    // 0000 0110 111
    {11, 0x28, 23},    // 0000 0101 000
    {11, 0x17, 24},    // 0000 0010 111
    {11, 0x18, 25},    // 0000 0011 000
    {12, 0xCA, 26},    // 0000 1100 1010
    {12, 0xCB, 27},    // 0000 1100 1011
    {12, 0xCC, 28},    // 0000 1100 1100
    {12, 0xCD, 29},    // 0000 1100 1101
    {12, 0x68, 30},    // 0000 0110 1000
    {12, 0x69, 31},    // 0000 0110 1001
    {12, 0x6A, 32},    // 0000 0110 1010
    {12, 0x6B, 33},    // 0000 0110 1011
    {12, 0xD2, 34},    // 0000 1101 0010
    {12, 0xD3, 35},    // 0000 1101 0011
    {12, 0xD4, 36},    // 0000 1101 0100
    {12, 0xD5, 37},    // 0000 1101 0101
    {12, 0xD6, 38},    // 0000 1101 0110
    {12, 0xD7, 39},    // 0000 1101 0111
    {12, 0x6C, 40},    // 0000 0110 1100
    {12, 0x6D, 41},    // 0000 0110 1101
    {12, 0xDA, 42},    // 0000 1101 1010
    {12, 0xDB, 43},    // 0000 1101 1011
    {12, 0x54, 44},    // 0000 0101 0100
    {12, 0x55, 45},    // 0000 0101 0101
    {12, 0x56, 46},    // 0000 0101 0110
    {12, 0x57, 47},    // 0000 0101 0111
    {12, 0x64, 48},    // 0000 0110 0100
    {12, 0x65, 49},    // 0000 0110 0101
    {12, 0x52, 50},    // 0000 0101 0010
    {12, 0x53, 51},    // 0000 0101 0011
    {12, 0x24, 52},    // 0000 0010 0100
    {12, 0x37, 53},    // 0000 0011 0111
    {12, 0x38, 54},    // 0000 0011 1000
    {12, 0x27, 55},    // 0000 0010 0111
    {12, 0x28, 56},    // 0000 0010 1000
    {12, 0x58, 57},    // 0000 0101 1000
    {12, 0x59, 58},    // 0000 0101 1001
    {12, 0x2B, 59},    // 0000 0010 1011
    {12, 0x2C, 60},    // 0000 0010 1100
    {12, 0x5A, 61},    // 0000 0101 1010
    {12, 0x66, 62},    // 0000 0110 0110
    {12, 0x67, 63},    // 0000 0110 0111
    {10, 0xF, 64},     // 0000 0011 11
    {12, 0xC8, 128},   // 0000 1100 1000
    {12, 0xC9, 192},   // 0000 1100 1001
    {12, 0x5B, 256},   // 0000 0101 1011
    {12, 0x33, 320},   // 0000 0011 0011
    {12, 0x34, 384},   // 0000 0011 0100
    {12, 0x35, 448},   // 0000 0011 0101
    {13, 0x6C, 512},   // 0000 0011 0110 0
    {13, 0x6D, 576},   // 0000 0011 0110 1
    {13, 0x4A, 640},   // 0000 0010 0101 0
    {13, 0x4B, 704},   // 0000 0010 0101 1
    {13, 0x4C, 768},   // 0000 0010 0110 0
    {13, 0x4D, 832},   // 0000 0010 0110 1
    {13, 0x72, 896},   // 0000 0011 1001 0
    {13, 0x73, 960},   // 0000 0011 1001 1
    {13, 0x74, 1024},  // 0000 0011 1010 0
    {13, 0x75, 1088},  // 0000 0011 1010 1
    {13, 0x76, 1152},  // 0000 0011 1011 0
    {13, 0x77, 1216},  // 0000 0011 1011 1
    {13, 0x52, 1280},  // 0000 0010 1001 0
    {13, 0x53, 1344},  // 0000 0010 1001 1
    {13, 0x54, 1408},  // 0000 0010 1010 0
    {13, 0x55, 1472},  // 0000 0010 1010 1
    {13, 0x5A, 1536},  // 0000 0010 1101 0
    {13, 0x5B, 1600},  // 0000 0010 1101 1
    {13, 0x64, 1664},  // 0000 0011 0010 0
    {13, 0x65, 1728},  // 0000 0011 0010 1
};

// ITU-T T.4 Table 3 (extended make-up codes, 1792 to 2560): the same for both colours.
constexpr MhCode kExtendedMakeupCodes[] = {
    {11, 0x8, 1792},   // 0000 0001 000
    {11, 0xC, 1856},   // 0000 0001 100
    {11, 0xD, 1920},   // 0000 0001 101
    {12, 0x12, 1984},  // 0000 0001 0010
    {12, 0x13, 2048},  // 0000 0001 0011
    {12, 0x14, 2112},  // 0000 0001 0100
    {12, 0x15, 2176},  // 0000 0001 0101
    {12, 0x16, 2240},  // 0000 0001 0110
    {12, 0x17, 2304},  // 0000 0001 0111
    {12, 0x1C, 2368},  // 0000 0001 1100
    {12, 0x1D, 2432},  // 0000 0001 1101
    {12, 0x1E, 2496},  // 0000 0001 1110
    {12, 0x1F, 2560},  // 0000 0001 1111
};

constexpr unsigned kMaxCodeBits = 13;
constexpr std::size_t kEolZeros = 11;  // EOL is 0000 0000 0001
constexpr int kRtcEols = 6;            // return to control: six EOLs in a row
constexpr std::uint32_t kTerminatingLimit = 64;

// A code word of n bits with value v sits at (1 << n) | v, so that words of different
// lengths never share a slot; the slot holds the run length, or -1.
using CodeIndex = std::array<std::int16_t, std::size_t{1} << (kMaxCodeBits + 1)>;

constexpr CodeIndex buildIndex(std::span<const MhCode> colourCodes) {
  CodeIndex index{};
  index.fill(-1);
  for (const MhCode& c : colourCodes) {
    index[(std::size_t{1} << c.bitCount) | c.code] = static_cast<std::int16_t>(c.runLength);
  }
  for (const MhCode& c : kExtendedMakeupCodes) {
    index[(std::size_t{1} << c.bitCount) | c.code] = static_cast<std::int16_t>(c.runLength);
  }
  return index;
}

constexpr CodeIndex kWhiteIndex = buildIndex(kWhiteCodes);
constexpr CodeIndex kBlackIndex = buildIndex(kBlackCodes);

class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size() * 8; }
  std::size_t position() const { return position_; }
  bool atEnd() const { return position_ >= size(); }
  unsigned bitAt(std::size_t n) const {
    return (static_cast<unsigned>(bytes_[n / 8]) >> (7 - n % 8)) & 1u;
  }
  unsigned read() { return bitAt(position_++); }
  void skip(std::size_t n) { position_ = std::min(size(), position_ + n); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

enum class Sync { kEol, kPadding, kNone };

/// Consumes zero fill bits and an EOL (kEol), or zero bits up to the end of the code
/// (kPadding); anything else is left alone (kNone).
Sync skipEol(BitReader& reader) {
  std::size_t zeros = 0;
  const std::size_t start = reader.position();
  while (start + zeros < reader.size() && reader.bitAt(start + zeros) == 0) ++zeros;
  if (start + zeros == reader.size()) {
    reader.skip(zeros);
    return Sync::kPadding;
  }
  if (zeros < kEolZeros) return Sync::kNone;
  reader.skip(zeros + 1);
  return Sync::kEol;
}

/// One code word of the colour: its run length, or -1 when no code word matches.
int readCode(BitReader& reader, const CodeIndex& index) {
  std::size_t key = 1;
  for (unsigned bits = 1; bits <= kMaxCodeBits && !reader.atEnd(); ++bits) {
    key = (key << 1) | reader.read();
    if (index[key] >= 0) return index[key];
  }
  return -1;
}

/// One run: any make-up codes and the terminating code. False on a bad code word or
/// when the run grows past `limit`.
bool readRun(BitReader& reader, const CodeIndex& index, std::uint32_t limit, std::uint32_t& run) {
  run = 0;
  for (;;) {
    const int piece = readCode(reader, index);
    if (piece < 0) return false;
    run += static_cast<std::uint32_t>(piece);
    if (run > limit) return false;
    if (static_cast<std::uint32_t>(piece) < kTerminatingLimit) return true;
  }
}

void paintBlack(std::span<std::uint8_t> row, std::uint32_t from, std::uint32_t count) {
  for (std::uint32_t x = from; x < from + count; ++x) {
    row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (0x80u >> (x % 8)));
  }
}

std::string describeBadRun(const BitReader& reader, std::size_t start, bool black, std::uint32_t x,
                           std::uint32_t width) {
  std::size_t zeros = 0;
  while (start + zeros < reader.size() && reader.bitAt(start + zeros) == 0) ++zeros;
  const std::string where = " at bit " + std::to_string(start);
  if (zeros >= kEolZeros && start + zeros < reader.size()) {
    return "end of line after " + std::to_string(x) + " of " + std::to_string(width) + " pixels" +
           where;
  }
  if (start + zeros >= reader.size()) {
    return "code ends after " + std::to_string(x) + " of " + std::to_string(width) + " pixels" +
           where;
  }
  return std::string("bad ") + (black ? "black" : "white") + " code word or run past " +
         std::to_string(width) + " pixels" + where;
}

/// Decodes one line into `row` (cleared by the caller).
bool decodeLine(BitReader& reader, std::uint32_t width, std::span<std::uint8_t> row,
                std::string& error) {
  std::uint32_t x = 0;
  bool black = false;
  while (x < width) {
    const std::size_t start = reader.position();
    std::uint32_t run = 0;
    if (!readRun(reader, black ? kBlackIndex : kWhiteIndex, width - x, run)) {
      error = describeBadRun(reader, start, black, x, width);
      return false;
    }
    if (black) paintBlack(row, x, run);
    x += run;
    black = !black;
  }
  return true;
}

}  // namespace

MhDecodeResult decodeMh(std::span<const std::uint8_t> code, std::uint32_t lineWidth) {
  MhDecodeResult result;
  result.width = lineWidth;
  result.bytesPerRow = (lineWidth + 7) / 8;
  if (lineWidth == 0) {
    result.ok = false;
    result.error = "line width 0";
    return result;
  }

  // Lines and EOLs in any order: an EOL clears the line before it, six in a row end
  // the code, and a line that meets another line or the end had no EOL.
  BitReader reader(code);
  std::vector<std::uint8_t> row(result.bytesPerRow);
  int eolsInRow = 0;
  bool lineAwaitsEol = false;
  for (;;) {
    const Sync sync = skipEol(reader);
    if (sync == Sync::kPadding) break;
    if (sync == Sync::kEol) {
      lineAwaitsEol = false;
      if (++eolsInRow == kRtcEols) break;
      continue;
    }
    if (lineAwaitsEol) ++result.linesWithoutEol;
    eolsInRow = 0;
    std::fill(row.begin(), row.end(), std::uint8_t{0});
    if (!decodeLine(reader, lineWidth, row, result.error)) {
      result.ok = false;
      return result;
    }
    result.rows.insert(result.rows.end(), row.begin(), row.end());
    ++result.rowCount;
    lineAwaitsEol = true;
  }
  if (lineAwaitsEol) ++result.linesWithoutEol;
  return result;
}

}  // namespace preview
