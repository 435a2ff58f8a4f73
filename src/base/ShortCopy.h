// Copies of a few bytes, done in place where a call to memcpy would cost more than the copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace base {

/// Copies `n` bytes from `from` to `out`; the two do not overlap. Up to 64 bytes go in
/// overlapping 16-, 8- and 4-byte pieces without a call; longer runs go to memcpy.
inline void copyShort(std::uint8_t* out, const std::uint8_t* from, std::size_t n) {
  if (n > 64) {
    std::memcpy(out, from, n);
  } else if (n >= 16) {
    for (std::size_t i = 0; i + 16 < n; i += 16) std::memcpy(out + i, from + i, 16);
    std::memcpy(out + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::memcpy(out, from, 8);
    std::memcpy(out + n - 8, from + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(out, from, 4);
    std::memcpy(out + n - 4, from + n - 4, 4);
  } else {
    for (std::size_t i = 0; i < n; ++i) out[i] = from[i];
  }
}

}  // namespace base
