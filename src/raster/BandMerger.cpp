#include "raster/BandMerger.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

namespace raster {
namespace {

constexpr std::uint32_t kHeaderSize = 8;
constexpr std::uint32_t kMaxBandRows = 255;  // the row counter is one byte
// Plain runs longer than this go to memmove, whose wide copies pay for its call.
constexpr std::size_t kLongMove = 256;

/// Whether a raster command header (1D 76 30 00) starts at `p`; four bytes are read.
bool headerAt(const std::uint8_t* p) {
  return std::memcmp(p, stream::PageMarkers::kRasterCommand.data(), 4) == 0;
}

/// `N` bytes read from or written to the stream with one load or store.
template <std::size_t N>
struct Piece {
  unsigned char bytes[N];
};

template <std::size_t N>
Piece<N> load(const std::uint8_t* p) {
  Piece<N> piece;
  std::memcpy(piece.bytes, p, N);
  return piece;
}

template <std::size_t N>
void store(std::uint8_t* p, const Piece<N>& piece) {
  std::memcpy(p, piece.bytes, N);
}

/// Moves `n` bytes from `src` down to `dst` (dst <= src), in pieces of 16 bytes with the
/// last piece overlapping the one before. Each piece is loaded before any store that could
/// reach it: a store ends `src - dst` bytes before the bytes loaded next, and the last
/// piece is loaded first. Rows of a raster page are mostly under 256 bytes, where this
/// costs less than a call.
inline void moveDown(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
  if (n >= 16) {
    const Piece<16> last = load<16>(src + n - 16);
    for (std::size_t i = 0; i + 16 <= n; i += 16) store(dst + i, load<16>(src + i));
    store(dst + n - 16, last);
  } else if (n >= 8) {
    const Piece<8> first = load<8>(src);
    const Piece<8> last = load<8>(src + n - 8);
    store(dst, first);
    store(dst + n - 8, last);
  } else if (n >= 4) {
    const Piece<4> first = load<4>(src);
    const Piece<4> last = load<4>(src + n - 4);
    store(dst, first);
    store(dst + n - 4, last);
  } else {
    for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
  }
}

}  // namespace

std::uint32_t mergeBands(stream::StreamView stream, std::uint32_t bandRowLimit) {
  const auto length =
      static_cast<std::uint32_t>(std::min<std::size_t>(stream.length, stream.capacity));
  if (length <= 4) return length;
  const std::uint32_t limit = std::min(bandRowLimit, kMaxBandRows);
  std::uint8_t* const data = stream.data;
  const std::uint32_t scanEnd = length - 4;  // one past the last position a header can start

  // The stream is compacted in place: bytes before `out` are final, bytes from `in` on
  // are still unread. A merge drops 9 bytes, so `out` never passes `in`. All state lives
  // in locals: the stores into the stream could otherwise alias it.
  std::uint32_t out = 0;
  std::uint32_t in = 0;
  std::uint8_t* counter = nullptr;  // the open band's row counter in the output, or none
  std::uint32_t rows = 0;           // its value
  auto take = [&](std::uint32_t count) {
    count = std::min(count, length - in);
    if (out != in) {
      if (count > kLongMove) {
        std::memmove(data + out, data + in, count);
      } else {
        moveDown(data + out, data + in, count);
      }
    }
    out += count;
    in += count;
  };

  while (in < scanEnd) {
    if (!headerAt(data + in)) {
      // Plain bytes close the band; skip ahead to the next byte that can start a header.
      counter = nullptr;
      const void* next = std::memchr(data + in + 1, 0x1D, scanEnd - in - 1);
      const std::uint32_t stop =
          next ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(next) - data)
               : scanEnd;
      take(stop - in);
      continue;
    }
    const std::uint32_t rowBytes = data[in + 4];
    const bool headerWhole = length - in >= kHeaderSize;
    if (counter != nullptr && rows < limit && headerWhole) {
      // Merge: drop this header and the separator that ended the previous row.
      *counter = static_cast<std::uint8_t>(++rows);
      in += kHeaderSize;
      out -= 1;
      take(rowBytes + 1);
    } else {
      // This command opens a band of its own; its yL is the band's row counter.
      counter = headerWhole ? data + out + 6 : nullptr;
      rows = headerWhole ? data[in + 6] : 0;
      take(kHeaderSize + rowBytes + 1);
    }
    if (counter == nullptr) continue;
    // The rows that follow at the same width, whole within the stream, merge alike. The
    // next header's position is found without waiting for the load of its width, which
    // is only compared with the one expected.
    const std::uint32_t step = kHeaderSize + rowBytes + 1;
    while (rows < limit && length - in >= step && headerAt(data + in) && data[in + 4] == rowBytes) {
      *counter = static_cast<std::uint8_t>(++rows);
      moveDown(data + out - 1, data + in + kHeaderSize, rowBytes + 1);
      out += rowBytes;
      in += step;
    }
  }
  take(length - in);
  return out;
}

void writeBandedPage(stream::StreamView stream, std::uint32_t bandRowLimit,
                     platform::Printer& printer) {
  const std::uint32_t merged = mergeBands(stream, bandRowLimit);
  (void)printer.write(std::span<const std::uint8_t>(stream.data, merged));
}

}  // namespace raster
