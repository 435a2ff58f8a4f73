// The byte sequences the page processing recognises in a command stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace stream {

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

}  // namespace stream
