#include "raster/BandMerger.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace raster {
namespace {

constexpr std::uint32_t kHeaderSize = 8;
constexpr std::uint32_t kMaxBandRows = 255;  // the row counter is one byte

}  // namespace

std::uint32_t mergeBands(stream::StreamView stream, std::uint32_t bandRowLimit) {
  const std::uint32_t length = stream.length;
  if (length <= 4) return length;
  const std::uint32_t limit = std::min(bandRowLimit, kMaxBandRows);
  std::uint8_t* const data = stream.data;

  // The stream is compacted in place: bytes before `out` are final, bytes from `in`
  // on are still unread. A merge drops 9 bytes, so `out` never passes `in`.
  std::uint32_t out = 0;
  std::uint32_t in = 0;
  std::uint8_t* counter = nullptr;  // the open band's row counter, or none
  auto copy = [&](std::uint32_t count) {
    count = std::min(count, length - in);
    if (out != in) std::memmove(data + out, data + in, count);
    out += count;
    in += count;
  };

  while (in < length - 4) {
    if (!stream.rasterAt(in)) {
      // Plain bytes close the band; skip ahead to the next byte that can start a header.
      counter = nullptr;
      const std::uint32_t scanEnd = length - 4;
      const void* next = std::memchr(data + in + 1, 0x1D, scanEnd - in - 1);
      const std::uint32_t stop =
          next ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(next) - data)
               : scanEnd;
      copy(stop - in);
      continue;
    }
    const std::uint32_t rowBytes = data[in + 4];
    const bool headerWhole = length - in >= kHeaderSize;
    if (counter != nullptr && *counter < limit && headerWhole) {
      // Merge: drop this header and the separator that ended the previous row.
      out -= 1;
      ++*counter;
      in += kHeaderSize;
      copy(rowBytes + 1);
    } else {
      // This command opens a band of its own; its yL is the band's row counter.
      counter = headerWhole ? data + out + 6 : nullptr;
      copy(kHeaderSize + rowBytes + 1);
    }
  }
  copy(length - in);
  return out;
}

void writeBandedPage(stream::StreamView stream, std::uint32_t bandRowLimit,
                     platform::Printer& printer) {
  const std::uint32_t merged = mergeBands(stream, bandRowLimit);
  (void)printer.write(std::span<const std::uint8_t>(stream.data, merged));
}

}  // namespace raster
