// Little-endian fields in byte buffers: the page header's length, the notice's numbers
// and names, the printer's 32-bit values.
#pragma once

#include <cstdint>

namespace base {

/// The 16-bit value whose low byte is at `p`.
inline std::uint16_t readU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

/// The 32-bit value whose low byte is at `p`.
inline std::uint32_t readU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

/// Writes `value` to the four bytes at `p`, low byte first.
inline void writeU32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace base
