// Codes raster rows as one-dimensional (Modified Huffman) lines of ITU-T T.4.
#pragma once

#include <cstdint>
#include <span>

#include "mh/MhCodeTables.h"

namespace mh {

/// Every coded line is this many pixels long: shorter rows are completed with white,
/// longer rows are cut.
inline constexpr std::uint32_t kLineWidth = 588;

/// The most bits one line can take: a white run of 0, then 588 runs of one pixel each,
/// then EOL. A caller leaves at least this much zeroed room after `bitPosition`.
inline constexpr std::uint32_t kMaxLineBits = 2666;

// The coded stream: bit n is the bit with mask 0x80 >> (n % 8) in byte n / 8. Bits are
// only ever set, so every bit from `bitPosition` on must be zero when coding starts;
// `bitPosition` is the index of the next bit to write and only grows.

/// Appends the low `bitCount` bits of `code`, most significant first. A `bitCount` above
/// 16 writes that many zero bits before the code's 16. Nothing happens without a buffer.
void writeCode(std::uint8_t* buffer, std::uint32_t& bitPosition, std::uint16_t code,
               std::uint8_t bitCount);

/// Appends the codes of one run of `length` pixels of `colour`: as many make-up codes of
/// 2560 as fit, an extended make-up code, a make-up code of the colour, and always a
/// terminating code. A length of 0 writes EOL instead, whatever the colour.
void codeRun(std::uint8_t* buffer, std::uint32_t& bitPosition, std::uint16_t length,
             MhColour colour);

/// Codes `row` (most significant bit of the first byte leftmost, 1 = black) as one line of
/// exactly 588 pixels, ending with EOL: the first min(8 * size, 588) pixels, then white.
/// Only the row's own bytes are read. An empty row or a missing buffer writes nothing.
void encodeLine(std::span<const std::uint8_t> row, std::uint8_t* buffer,
                std::uint32_t& bitPosition);

}  // namespace mh
