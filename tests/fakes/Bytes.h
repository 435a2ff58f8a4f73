// Test helpers: byte vectors written as hexadecimal text, and pages built from streams.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace fakes {

using Bytes = std::vector<std::uint8_t>;

/// "1D 76 30 00" -> {0x1D, 0x76, 0x30, 0x00}; blanks and '|' are ignored.
inline Bytes hex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}

inline std::string toHex(const Bytes& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

/// A page file: the 5-byte header (length, State) and the stream.
inline Bytes pageFile(const Bytes& stream, std::uint8_t state = 2) {
  const auto n = static_cast<std::uint32_t>(stream.size());
  Bytes file{static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
             static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24), state};
  file.reserve(file.size() + stream.size());  // also keeps GCC 12's -Warray-bounds quiet at -O3
  file.insert(file.end(), stream.begin(), stream.end());
  return file;
}

/// One one-row raster command of `row` followed by the separator `sep`.
inline Bytes rasterRow(const Bytes& row, std::uint8_t sep = 0x0D) {
  // Filled in place: GCC 12 at -O3 takes an insert after the header for an overflow.
  Bytes cmd(8 + row.size() + 1, 0x00);
  const std::uint8_t header[8] = {0x1D, 0x76, 0x30, 0x00, static_cast<std::uint8_t>(row.size()),
                                  0x00, 0x01, 0x00};
  std::copy(std::begin(header), std::end(header), cmd.begin());
  std::copy(row.begin(), row.end(), cmd.begin() + 8);
  cmd.back() = sep;
  return cmd;
}

}  // namespace fakes
