// The byte sequences the page processing recognises in a command stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace page {

using Marker = std::span<const std::uint8_t>;

struct PageMarkers {
  static constexpr std::array<std::uint8_t, 2> kFontSelect{0x1B, 0x4D};              // ESC M
  static constexpr std::array<std::uint8_t, 2> kCodeTableSelect{0x1B, 0x74};         // ESC t
  static constexpr std::array<std::uint8_t, 4> kCutCommand{0x1D, 0x56, 0x42, 0x00};  // GS V 66 0
  static constexpr std::array<std::uint8_t, 4> kCutReplacement{0x0C, 0x00, 0x00, 0x00};
  static constexpr std::array<std::uint8_t, 4> kRasterCommand{0x1D, 0x76, 0x30, 0x00};  // GS v 0
  static constexpr std::array<std::uint8_t, 2> kCharacterSize{0x1D, 0x21};              // GS !
  static constexpr std::array<std::uint8_t, 2> kFeed{0x1B, 0x4A};                       // ESC J
  static constexpr std::array<std::uint8_t, 14> kPlaceholderMarker{
      0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07, 0x98, 0x07};
  static constexpr std::uint8_t kSeparator = 0x0D;  // CR
};

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

  /// Whether a raster command header (1D 76 30 00) stands at `pos`.
  [[nodiscard]] bool rasterAt(std::size_t pos) const {
    return matches(pos, PageMarkers::kRasterCommand);
  }
};

}  // namespace page
