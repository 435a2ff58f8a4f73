// The code words of the one-dimensional coding scheme (Modified Huffman) of ITU-T T.4,
// held as constant data: every thread may read them at any time without a lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace mh {

/// One code word: `code` holds it in its low `bitCount` bits, sent from the most
/// significant of them down; `runLength` is the number of pixels it codes.
struct MhCodeEntry {
  std::uint16_t runLength;
  std::uint16_t code;
  std::uint8_t bitCount;
};

/// The colour of a run: 1 is white (0 bits in a row), every other value black (1 bits).
using MhColour = std::uint8_t;
inline constexpr MhColour kWhite = 1;
inline constexpr MhColour kBlack = 0;

/// Per colour: entries 0..63 are the terminating codes (entry i codes i pixels), entries
/// 64..90 the make-up codes (entry 63 + k codes 64 * k pixels, up to 1728).
inline constexpr std::size_t kColourCodeCount = 91;
/// Shared by both colours: entry k codes 1792 + 64 * k pixels, up to 2560.
inline constexpr std::size_t kExtendedCodeCount = 13;

using MhColourCodes = std::array<MhCodeEntry, kColourCodeCount>;
using MhExtendedCodes = std::array<MhCodeEntry, kExtendedCodeCount>;

/// The end-of-line code word of ITU-T T.4, 0000 0000 0001.
inline constexpr MhCodeEntry kEndOfLine{0, 0x01, 12};

// clang-format off
/// ITU-T T.4: white terminating codes, then white make-up codes.
inline constexpr MhColourCodes whiteCodes{{
    {0, 0x35, 8},  /* 0011 0101 */
    {1, 0x07, 6},  /* 0001 11 */
    {2, 0x07, 4},  /* 0111 */
    {3, 0x08, 4},  /* 1000 */
    {4, 0x0B, 4},  /* 1011 */
    {5, 0x0C, 4},  /* 1100 */
    {6, 0x0E, 4},  /* 1110 */
    {7, 0x0F, 4},  /* 1111 */
    {8, 0x13, 5},  /* 1001 1 */
    {9, 0x14, 5},  /* 1010 0 */
    {10, 0x07, 5},  /* 0011 1 */
    {11, 0x08, 5},  /* 0100 0 */
    {12, 0x08, 6},  /* 0010 00 */
    {13, 0x03, 6},  /* 0000 11 */
    {14, 0x34, 6},  /* 1101 00 */
    {15, 0x35, 6},  /* 1101 01 */
    {16, 0x2A, 6},  /* 1010 10 */
    {17, 0x2B, 6},  /* 1010 11 */
    {18, 0x27, 7},  /* 0100 111 */
    {19, 0x0C, 7},  /* 0001 100 */
    {20, 0x08, 7},  /* 0001 000 */
    {21, 0x17, 7},  /* 0010 111 */
    {22, 0x03, 7},  /* 0000 011 */
    {23, 0x04, 7},  /* 0000 100 */
    {24, 0x28, 7},  /* 0101 000 */
    {25, 0x2B, 7},  /* 0101 011 */
    {26, 0x13, 7},  /* 0010 011 */
    {27, 0x24, 7},  /* 0100 100 */
    {28, 0x18, 7},  /* 0011 000 */
    {29, 0x02, 8},  /* 0000 0010 */
    {30, 0x03, 8},  /* 0000 0011 */
    {31, 0x1A, 8},  /* 0001 1010 */
    {32, 0x1B, 8},  /* 0001 1011 */
    {33, 0x12, 8},  /* 0001 0010 */
    {34, 0x13, 8},  /* 0001 0011 */
    {35, 0x14, 8},  /* 0001 0100 */
    {36, 0x15, 8},  /* 0001 0101 */
    {37, 0x16, 8},  /* 0001 0110 */
    {38, 0x17, 8},  /* 0001 0111 */
    {39, 0x28, 8},  /* 0010 1000 */
    {40, 0x29, 8},  /* 0010 1001 */
    {41, 0x2A, 8},  /* 0010 1010 */
    {42, 0x2B, 8},  /* 0010 1011 */
    {43, 0x2C, 8},  /* 0010 1100 */
    {44, 0x2D, 8},  /* 0010 1101 */
    {45, 0x04, 8},  /* 0000 0100 */
    {46, 0x05, 8},  /* 0000 0101 */
    {47, 0x0A, 8},  /* 0000 1010 */
    {48, 0x0B, 8},  /* 0000 1011 */
    {49, 0x52, 8},  /* 0101 0010 */
    {50, 0x53, 8},  /* 0101 0011 */
    {51, 0x54, 8},  /* 0101 0100 */
    {52, 0x55, 8},  /* 0101 0101 */
    {53, 0x24, 8},  /* 0010 0100 */
    {54, 0x25, 8},  /* 0010 0101 */
    {55, 0x58, 8},  /* 0101 1000 */
    {56, 0x59, 8},  /* 0101 1001 */
    {57, 0x5A, 8},  /* 0101 1010 */
    {58, 0x5B, 8},  /* 0101 1011 */
    {59, 0x4A, 8},  /* 0100 1010 */
    {60, 0x4B, 8},  /* 0100 1011 */
    {61, 0x32, 8},  /* 0011 0010 */
    {62, 0x33, 8},  /* 0011 0011 */
    {63, 0x34, 8},  /* 0011 0100 */
    {64, 0x1B, 5},  /* 1101 1 */
    {128, 0x12, 5},  /* 1001 0 */
    {192, 0x17, 6},  /* 0101 11 */
    {256, 0x37, 7},  /* 0110 111 */
    {320, 0x36, 8},  /* 0011 0110 */
    {384, 0x37, 8},  /* 0011 0111 */
    {448, 0x64, 8},  /* 0110 0100 */
    {512, 0x65, 8},  /* 0110 0101 */
    {576, 0x68, 8},  /* 0110 1000 */
    {640, 0x67, 8},  /* 0110 0111 */
    {704, 0xCC, 9},  /* 0110 0110 0 */
    {768, 0xCD, 9},  /* 0110 0110 1 */
    {832, 0xD2, 9},  /* 0110 1001 0 */
    {896, 0xD3, 9},  /* 0110 1001 1 */
    {960, 0xD4, 9},  /* 0110 1010 0 */
    {1024, 0xD5, 9},  /* 0110 1010 1 */
    {1088, 0xD6, 9},  /* 0110 1011 0 */
    {1152, 0xD7, 9},  /* 0110 1011 1 */
    {1216, 0xD8, 9},  /* 0110 1100 0 */
    {1280, 0xD9, 9},  /* 0110 1100 1 */
    {1344, 0xDA, 9},  /* 0110 1101 0 */
    {1408, 0xDB, 9},  /* 0110 1101 1 */
    {1472, 0x98, 9},  /* 0100 1100 0 */
    {1536, 0x99, 9},  /* 0100 1100 1 */
    {1600, 0x9A, 9},  /* 0100 1101 0 */
    {1664, 0x18, 6},  /* 0110 00 */
    {1728, 0x9B, 9},  /* 0100 1101 1 */
}};

/// ITU-T T.4: black terminating codes, then black make-up codes.
inline constexpr MhColourCodes blackCodes{{
    {0, 0x37, 10},  /* 0000 1101 11 */
    {1, 0x02, 3},  /* 010 */
    {2, 0x03, 2},  /* 11 */
    {3, 0x02, 2},  /* 10 */
    {4, 0x03, 3},  /* 011 */
    {5, 0x03, 4},  /* 0011 */
    {6, 0x02, 4},  /* 0010 */
    {7, 0x03, 5},  /* 0001 1 */
    {8, 0x05, 6},  /* 0001 01 */
    {9, 0x04, 6},  /* 0001 00 */
    {10, 0x04, 7},  /* 0000 100 */
    {11, 0x05, 7},  /* 0000 101 */
    {12, 0x07, 7},  /* 0000 111 */
    {13, 0x04, 8},  /* 0000 0100 */
    {14, 0x07, 8},  /* 0000 0111 */
    {15, 0x18, 9},  /* 0000 1100 0 */
    {16, 0x17, 10},  /* 0000 0101 11 */
    {17, 0x18, 10},  /* 0000 0110 00 */
    {18, 0x08, 10},  /* 0000 0010 00 */
    {19, 0x67, 11},  /* 0000 1100 111 */
    {20, 0x68, 11},  /* 0000 1101 000 */
    {21, 0x6C, 11},  /* 0000 1101 100 */
    {22, 0x37, 11},  /* 0000 0110 111 */
    {23, 0x28, 11},  /* 0000 0101 000 */
    {24, 0x17, 11},  /* 0000 0010 111 */
    {25, 0x18, 11},  /* 0000 0011 000 */
    {26, 0xCA, 12},  /* 0000 1100 1010 */
    {27, 0xCB, 12},  /* 0000 1100 1011 */
    {28, 0xCC, 12},  /* 0000 1100 1100 */
    {29, 0xCD, 12},  /* 0000 1100 1101 */
    {30, 0x68, 12},  /* 0000 0110 1000 */
    {31, 0x69, 12},  /* 0000 0110 1001 */
    {32, 0x6A, 12},  /* 0000 0110 1010 */
    {33, 0x6B, 12},  /* 0000 0110 1011 */
    {34, 0xD2, 12},  /* 0000 1101 0010 */
    {35, 0xD3, 12},  /* 0000 1101 0011 */
    {36, 0xD4, 12},  /* 0000 1101 0100 */
    {37, 0xD5, 12},  /* 0000 1101 0101 */
    {38, 0xD6, 12},  /* 0000 1101 0110 */
    {39, 0xD7, 12},  /* 0000 1101 0111 */
    {40, 0x6C, 12},  /* 0000 0110 1100 */
    {41, 0x6D, 12},  /* 0000 0110 1101 */
    {42, 0xDA, 12},  /* 0000 1101 1010 */
    {43, 0xDB, 12},  /* 0000 1101 1011 */
    {44, 0x54, 12},  /* 0000 0101 0100 */
    {45, 0x55, 12},  /* 0000 0101 0101 */
    {46, 0x56, 12},  /* 0000 0101 0110 */
    {47, 0x57, 12},  /* 0000 0101 0111 */
    {48, 0x64, 12},  /* 0000 0110 0100 */
    {49, 0x65, 12},  /* 0000 0110 0101 */
    {50, 0x52, 12},  /* 0000 0101 0010 */
    {51, 0x53, 12},  /* 0000 0101 0011 */
    {52, 0x24, 12},  /* 0000 0010 0100 */
    {53, 0x37, 12},  /* 0000 0011 0111 */
    {54, 0x38, 12},  /* 0000 0011 1000 */
    {55, 0x27, 12},  /* 0000 0010 0111 */
    {56, 0x28, 12},  /* 0000 0010 1000 */
    {57, 0x58, 12},  /* 0000 0101 1000 */
    {58, 0x59, 12},  /* 0000 0101 1001 */
    {59, 0x2B, 12},  /* 0000 0010 1011 */
    {60, 0x2C, 12},  /* 0000 0010 1100 */
    {61, 0x5A, 12},  /* 0000 0101 1010 */
    {62, 0x66, 12},  /* 0000 0110 0110 */
    {63, 0x67, 12},  /* 0000 0110 0111 */
    {64, 0x0F, 10},  /* 0000 0011 11 */
    {128, 0xC8, 12},  /* 0000 1100 1000 */
    {192, 0xC9, 12},  /* 0000 1100 1001 */
    {256, 0x5B, 12},  /* 0000 0101 1011 */
    {320, 0x33, 12},  /* 0000 0011 0011 */
    {384, 0x34, 12},  /* 0000 0011 0100 */
    {448, 0x35, 12},  /* 0000 0011 0101 */
    {512, 0x6C, 13},  /* 0000 0011 0110 0 */
    {576, 0x6D, 13},  /* 0000 0011 0110 1 */
    {640, 0x4A, 13},  /* 0000 0010 0101 0 */
    {704, 0x4B, 13},  /* 0000 0010 0101 1 */
    {768, 0x4C, 13},  /* 0000 0010 0110 0 */
    {832, 0x4D, 13},  /* 0000 0010 0110 1 */
    {896, 0x72, 13},  /* 0000 0011 1001 0 */
    {960, 0x73, 13},  /* 0000 0011 1001 1 */
    {1024, 0x74, 13},  /* 0000 0011 1010 0 */
    {1088, 0x75, 13},  /* 0000 0011 1010 1 */
    {1152, 0x76, 13},  /* 0000 0011 1011 0 */
    {1216, 0x77, 13},  /* 0000 0011 1011 1 */
    {1280, 0x52, 13},  /* 0000 0010 1001 0 */
    {1344, 0x53, 13},  /* 0000 0010 1001 1 */
    {1408, 0x54, 13},  /* 0000 0010 1010 0 */
    {1472, 0x55, 13},  /* 0000 0010 1010 1 */
    {1536, 0x5A, 13},  /* 0000 0010 1101 0 */
    {1600, 0x5B, 13},  /* 0000 0010 1101 1 */
    {1664, 0x64, 13},  /* 0000 0011 0010 0 */
    {1728, 0x65, 13},  /* 0000 0011 0010 1 */
}};

/// ITU-T T.4: the extended make-up codes, the same for white and black runs.
inline constexpr MhExtendedCodes extendedMakeupCodes{{
    {1792, 0x08, 11},  /* 0000 0001 000 */
    {1856, 0x0C, 11},  /* 0000 0001 100 */
    {1920, 0x0D, 11},  /* 0000 0001 101 */
    {1984, 0x12, 12},  /* 0000 0001 0010 */
    {2048, 0x13, 12},  /* 0000 0001 0011 */
    {2112, 0x14, 12},  /* 0000 0001 0100 */
    {2176, 0x15, 12},  /* 0000 0001 0101 */
    {2240, 0x16, 12},  /* 0000 0001 0110 */
    {2304, 0x17, 12},  /* 0000 0001 0111 */
    {2368, 0x1C, 12},  /* 0000 0001 1100 */
    {2432, 0x1D, 12},  /* 0000 0001 1101 */
    {2496, 0x1E, 12},  /* 0000 0001 1110 */
    {2560, 0x1F, 12},  /* 0000 0001 1111 */
}};
// clang-format on

/// Each hands out its table. The tables are constant data, complete before any thread
/// starts, so asking for them changes nothing and is safe from any number of threads.
const MhColourCodes& buildWhiteCodes();
const MhColourCodes& buildBlackCodes();
const MhExtendedCodes& buildExtendedMakeupCodes();

/// The table of `colour`: white for 1, black for any other value.
constexpr const MhColourCodes& colourCodes(MhColour colour) {
  return colour == kWhite ? whiteCodes : blackCodes;
}

/// The terminating code of a run of `run` pixels, 0 <= run <= 63.
constexpr const MhCodeEntry& terminatingCode(MhColour colour, std::uint32_t run) {
  return colourCodes(colour)[run];
}

/// The largest make-up code not longer than `length`, 64 <= length <= 1791.
constexpr const MhCodeEntry& makeupCode(MhColour colour, std::uint32_t length) {
  return colourCodes(colour)[63 + length / 64];
}

/// The largest extended make-up code not longer than `length`, 1792 <= length <= 2559;
/// 2560 itself is entry 12.
constexpr const MhCodeEntry& extendedMakeupCode(std::uint32_t length) {
  return extendedMakeupCodes[(length - 1792) / 64];
}

}  // namespace mh
