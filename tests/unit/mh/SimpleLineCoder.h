// A deliberately simple line coder for tests: one pixel and one bit at a time, with the
// code words found by searching the tables, as the coding rules are written. It is slow
// and obviously right; the fast encoder must produce exactly its bits.
#pragma once

#include <cstdint>
#include <vector>

#include "mh/MhCodeTables.h"

namespace simple {

/// Sets the code's bits one by one at `pos` (growing `buffer` when needed).
inline void put(std::vector<std::uint8_t>& buffer, std::uint32_t& pos, const mh::MhCodeEntry& e) {
  for (int k = e.bitCount - 1; k >= 0; --k) {
    if (buffer.size() <= pos / 8) buffer.resize(pos / 8 + 1, 0);
    if ((e.code >> k) & 1)
      buffer[pos / 8] = static_cast<std::uint8_t>(buffer[pos / 8] | 0x80 >> (pos % 8));
    ++pos;
  }
}

/// The entry among [first, last) of `table` with runLength <= d < runLength + span.
template <typename Table>
const mh::MhCodeEntry& search(const Table& table, std::size_t first, std::size_t last,
                              std::uint32_t d, std::uint32_t span) {
  for (std::size_t i = first; i < last; ++i) {
    if (table[i].runLength <= d && d < table[i].runLength + span) return table[i];
  }
  return mh::kEndOfLine;  // not reached for lengths up to 65535
}

inline void run(std::vector<std::uint8_t>& buffer, std::uint32_t& pos, std::uint32_t length,
                mh::MhColour colour) {
  if (length == 0) return put(buffer, pos, mh::kEndOfLine);
  const mh::MhColourCodes& table = colour == 1 ? mh::whiteCodes : mh::blackCodes;
  std::uint32_t d = length;
  for (; d >= 2560; d -= 2560) put(buffer, pos, mh::extendedMakeupCodes[12]);
  if (d >= 1792) {
    const mh::MhCodeEntry& e = search(mh::extendedMakeupCodes, 0, 13, d, 64);
    put(buffer, pos, e);
    d -= e.runLength;
  }
  if (d >= 64) {
    const mh::MhCodeEntry& e = search(table, 64, 91, d, 64);
    put(buffer, pos, e);
    d -= e.runLength;
  }
  put(buffer, pos, search(table, 0, 64, d, 1));
}

/// Codes `row` as one 588-pixel line from bit `pos`; returns the bit after its EOL.
inline std::uint32_t codeLine(const std::vector<std::uint8_t>& row,
                              std::vector<std::uint8_t>& buffer, std::uint32_t pos) {
  std::uint32_t white = 0, black = 0, n = 0;
  for (std::size_t i = 0; i < row.size() && n < 588; ++i) {
    for (int bit = 7; bit >= 0 && n < 588; --bit) {
      if ((row[i] >> bit) & 1) {
        if (n == 0) put(buffer, pos, mh::whiteCodes[0]);
        if (white > 0) run(buffer, pos, white, 1);
        white = 0;
        ++black;
      } else {
        if (black > 0) run(buffer, pos, black, 0);
        black = 0;
        ++white;
      }
      ++n;
    }
  }
  if (white > 0) {
    run(buffer, pos, white + (588 - n), 1);
  } else {
    run(buffer, pos, black, 0);
    if (n < 588) run(buffer, pos, 588 - n, 1);
  }
  run(buffer, pos, 0, 1);
  return pos;
}

}  // namespace simple
