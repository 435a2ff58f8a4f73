// A page's command stream inside its page buffer, read and written only within it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "stream/PageMarkers.h"

namespace stream {

/// A page's command stream inside its page buffer. `length` bytes are processed; the
/// buffer goes on to `capacity` bytes (the margin), which look-ahead reads may reach.
/// Every read and write goes through the helpers below, which never leave the buffer:
/// positions past `capacity` read as zero, like the margin before them.
struct StreamView {
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  std::size_t capacity = 0;

  [[nodiscard]] std::uint8_t at(std::size_t pos) const { return pos < capacity ? data[pos] : 0; }

  /// Whether `marker` occurs at `pos`, compared byte for byte.
  [[nodiscard]] bool matches(std::size_t pos, Marker marker) const {
    if (pos > capacity || capacity - pos < marker.size()) return false;
    for (std::size_t i = 0; i < marker.size(); ++i) {
      if (data[pos + i] != marker[i]) return false;
    }
    return true;
  }

  /// As above, for a marker whose size is known when compiling: compared as one block.
  template <std::size_t N>
  [[nodiscard]] bool matches(std::size_t pos, const std::array<std::uint8_t, N>& marker) const {
    return pos <= capacity && capacity - pos >= N && std::memcmp(data + pos, marker.data(), N) == 0;
  }

  /// Whether a raster command header (1D 76 30 00) stands at `pos`.
  [[nodiscard]] bool rasterAt(std::size_t pos) const {
    return matches(pos, PageMarkers::kRasterCommand);
  }
};

}  // namespace stream
