#include "raster/BandMerger.h"

#include "base/CpuVectors.h"

#include <algorithm>
#include <bit>
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

/// The first five bytes of a raster header of `rowBytes` bytes a row, as headerWordAt
/// reads them: 1D 76 30 00 xL.
constexpr std::uint64_t headerWord(std::uint32_t rowBytes) {
  return 0x0030761DULL | (std::uint64_t{rowBytes & 0xFFU} << 32);
}

/// The five bytes at `p`, the first in the lowest bits; eight are read.
inline std::uint64_t headerWordAt(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, 8);
    return word & 0xFF'FFFF'FFFFULL;
  } else {
    std::uint64_t word = 0;
    for (int i = 4; i >= 0; --i) word = word << 8 | p[i];
    return word;
  }
}

/// `N` bytes read from or written to the stream with one load or store: a vector of the
/// compiler's, so that the bytes stay in one register between the two.
template <std::size_t N>
struct Vector {
  typedef unsigned char type __attribute__((vector_size(N)));
};
template <std::size_t N>
using Piece = typename Vector<N>::type;

/// Copies `N` bytes through one register: the load is done before the store.
template <std::size_t N>
[[gnu::always_inline]] inline void copyPiece(std::uint8_t* dst, const std::uint8_t* src) {
  Piece<N> piece;
  std::memcpy(&piece, src, N);
  std::memcpy(dst, &piece, N);
}

/// Moves `n` bytes (N to 2N) as its first and last N, both loaded before either is stored.
template <std::size_t N>
[[gnu::always_inline]] inline void moveFirstAndLast(std::uint8_t* dst, const std::uint8_t* src,
                                                    std::size_t n) {
  Piece<N> first;
  Piece<N> last;
  std::memcpy(&first, src, N);
  std::memcpy(&last, src + n - N, N);
  std::memcpy(dst, &first, N);
  std::memcpy(dst + n - N, &last, N);
}

/// Moves `n` bytes from `src` down to `dst` (dst <= src), in pieces of `P` bytes with the
/// last piece overlapping the one before. Each piece is loaded before any store that could
/// reach it: a store ends `src - dst` bytes before the bytes loaded next, and the last
/// piece is loaded first. Rows of a raster page are mostly under 256 bytes, where this
/// costs less than a call.
template <std::size_t P>
[[gnu::always_inline]] inline void moveDown(std::uint8_t* dst, const std::uint8_t* src,
                                            std::size_t n) {
  if (n >= P) {
    Piece<P> last;
    std::memcpy(&last, src + n - P, P);
    for (std::size_t i = 0; i + P <= n; i += P) copyPiece<P>(dst + i, src + i);
    std::memcpy(dst + n - P, &last, P);
  } else if constexpr (P > 16) {
    moveDown<P / 2>(dst, src, n);
  } else if (n >= 8) {
    moveFirstAndLast<8>(dst, src, n);
  } else if (n >= 4) {
    moveFirstAndLast<4>(dst, src, n);
  } else {
    for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
  }
}

/// Merges up to `room` rows of `rowBytes` bytes that follow at `in`, each of which moves
/// in exactly `K` pieces of `P` bytes (the last one overlapping the one before), while
/// their headers read `header`. Returns how many merged.
template <std::size_t P, std::size_t K>
[[gnu::always_inline]] inline std::uint32_t moveRows(std::uint8_t* data, std::uint32_t& in,
                                                     std::uint32_t& out, std::uint32_t rowBytes,
                                                     std::uint32_t room, std::uint64_t header) {
  const std::uint32_t step = kHeaderSize + rowBytes + 1;
  const std::size_t lastAt = rowBytes + 1 - P;
  std::uint32_t merged = 0;
  while (merged < room && headerWordAt(data + in) == header) {
    std::uint8_t* dst = data + out - 1;
    const std::uint8_t* src = data + in + kHeaderSize;
    Piece<P> pieces[K];
    for (std::size_t k = 0; k + 1 < K; ++k) std::memcpy(&pieces[k], src + k * P, P);
    std::memcpy(&pieces[K - 1], src + lastAt, P);
    for (std::size_t k = 0; k + 1 < K; ++k) std::memcpy(dst + k * P, &pieces[k], P);
    std::memcpy(dst + lastAt, &pieces[K - 1], P);
    out += rowBytes;
    in += step;
    ++merged;
  }
  return merged;
}

/// The merge, moving rows in pieces of `P` bytes.
template <std::size_t P>
[[gnu::always_inline]] inline std::uint32_t merge(stream::StreamView stream,
                                                  std::uint32_t bandRowLimit) {
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
        moveDown<P>(data + out, data + in, count);
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
    // The rows that follow at the same width, whole within the stream, merge alike, as
    // many as the band has room for. A header is known by its first five bytes, read as
    // one word; the counter is written once the run ends.
    const std::uint32_t step = kHeaderSize + rowBytes + 1;
    const std::uint32_t room = std::min(limit - std::min(rows, limit), (length - in) / step);
    const std::uint64_t header = headerWord(rowBytes);
    std::uint32_t merged = 0;
    // Rows of two or three pieces (48 to 95 bytes at 32-byte pieces: the common widths)
    // move without a loop.
    if (rowBytes + 1 > P && rowBytes + 1 <= 2 * P) {
      merged = moveRows<P, 2>(data, in, out, rowBytes, room, header);
    } else if (rowBytes + 1 > 2 * P && rowBytes + 1 <= 3 * P) {
      merged = moveRows<P, 3>(data, in, out, rowBytes, room, header);
    }
    while (merged < room && headerWordAt(data + in) == header) {
      moveDown<P>(data + out - 1, data + in + kHeaderSize, rowBytes + 1);
      out += rowBytes;
      in += step;
      ++merged;
    }
    rows += merged;
    *counter = static_cast<std::uint8_t>(rows);
  }
  take(length - in);
  return out;
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
/// The merge with 32-byte moves, for processors with AVX2. (64-byte moves measured no
/// faster: most rows are under 128 bytes.)
__attribute__((target("avx2"))) std::uint32_t mergeWide(stream::StreamView stream,
                                                        std::uint32_t bandRowLimit) {
  return merge<32>(stream, bandRowLimit);
}
#endif

}  // namespace

std::uint32_t mergeBands(stream::StreamView stream, std::uint32_t bandRowLimit) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
  if (base::usableVectors() >= base::Vectors::kAvx2) return mergeWide(stream, bandRowLimit);
#endif
  return merge<16>(stream, bandRowLimit);
}

void writeBandedPage(stream::StreamView stream, std::uint32_t bandRowLimit,
                     platform::Printer& printer) {
  const std::uint32_t merged = mergeBands(stream, bandRowLimit);
  (void)printer.write(std::span<const std::uint8_t>(stream.data, merged));
}

}  // namespace raster
