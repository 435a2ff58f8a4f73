// One loaded page file: the 5-byte header, the command stream and a zero margin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/HeapBlock.h"
#include "base/LittleEndian.h"
#include "stream/PageMarkers.h"
#include "stream/StreamView.h"

namespace page {

inline constexpr std::size_t kPageHeaderSize = 5;
inline constexpr std::size_t kPageMargin = 256;
inline constexpr std::uint8_t kLastPageState = 2;

/// The page buffer: a block as large as the file plus 256 bytes, zeroed before the file
/// is read into its start. The header's `length` is the number of stream bytes processed.
class PageBuffer {
 public:
  PageBuffer() = default;

  /// Takes a block of file size + 256 bytes into which `bytesRead` bytes of the file
  /// were read. A `length` that claims more stream bytes than were read is lowered to
  /// what the file holds, so the stream is always followed by at least 256 zero bytes
  /// and nothing is sent that the file did not hold.
  static PageBuffer adopt(base::HeapBlock block, std::size_t bytesRead);

  /// Builds a page buffer from a page file's bytes held in memory.
  static PageBuffer fromFileBytes(std::span<const std::uint8_t> file);

  [[nodiscard]] bool ok() const { return block_.ok(); }
  [[nodiscard]] std::uint32_t length() const {
    return block_.ok() ? base::readU32(block_.data()) : 0;
  }
  void setLength(std::uint32_t length) {
    if (block_.ok()) base::writeU32(block_.data(), length);
  }
  [[nodiscard]] std::uint8_t state() const { return block_.ok() ? block_.data()[4] : 0; }

  /// The stream from offset 5 to the block's end, with the current length.
  [[nodiscard]] stream::StreamView stream() {
    if (!block_.ok()) return {};
    return {block_.data() + kPageHeaderSize, length(), block_.size() - kPageHeaderSize};
  }

 private:
  base::HeapBlock block_;
};

}  // namespace page
