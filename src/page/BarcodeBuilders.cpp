#include "page/BarcodeBuilders.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

#include "base/ShortCopy.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define SPR_DATA_SSE2 1
#endif

namespace page {
namespace {

constexpr std::uint8_t kFirstDataByte = 0x2A;  // '*'
constexpr std::uint8_t kLastDataByte = 0x7D;   // '}'

// Each sequence is a fixed head, the data and a fixed tail. The heads are written from
// these images, then their parameter and count bytes (0 here) are filled in.

// GS h, GS w, GS f, GS H, GS k m n.
constexpr std::array<std::uint8_t, 16> k1DHead{
    0x1D, 0x68, 0x00,       // GS h: bar height, offset 2
    0x1D, 0x77, 0x00,       // GS w: module width, offset 5
    0x1D, 0x66, 0x00,       // GS f: font of the readable text, offset 8
    0x1D, 0x48, 0x00,       // GS H: position of the readable text, offset 11
    0x1D, 0x6B, 0x00, 0x00  // GS k: system m at 14, count n at 15
};
constexpr std::array<std::uint8_t, 1> k1DTail{0x0A};  // LF

// GS ( k with cn 0x31 (QR code).
constexpr std::array<std::uint8_t, 33> kQrHead{
    0x1D, 0x28, 0x6B, 0x04, 0x00, 0x31, 0x41, 0x32, 0x00,  // model 2
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x43, 0x00,        // module size, offset 16
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x45, 0x00,        // error level, offset 24
    0x1D, 0x28, 0x6B, 0x00, 0x00, 0x31, 0x50, 0x30         // store: pL pH at 28, 29
};
constexpr std::array<std::uint8_t, 16> kQrTail{
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x51, 0x30,  // print the stored symbol
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x31, 0x52, 0x30   // transmit its size information
};

// GS ( k with cn 0x30 (PDF417).
constexpr std::array<std::uint8_t, 57> kPdf417Head{
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x41, 0x00,        // columns: automatic
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x42, 0x00,        // rows: automatic
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x43, 0x00,        // module width, offset 23
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x44, 0x00,        // row height, offset 31
    0x1D, 0x28, 0x6B, 0x04, 0x00, 0x30, 0x45, 0x00, 0x01,  // error correction, offset 39
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x46, 0x00,        // options: standard PDF417
    0x1D, 0x28, 0x6B, 0x00, 0x00, 0x30, 0x50, 0x30         // store: pL pH at 52, 53
};
constexpr std::array<std::uint8_t, 16> kPdf417Tail{
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x51, 0x30,  // print the stored symbol
    0x1D, 0x28, 0x6B, 0x03, 0x00, 0x30, 0x52, 0x30   // transmit its size information
};

static_assert(k1DHead.size() + k1DTail.size() == kBarcode1DFrame);
static_assert(kQrHead.size() + kQrTail.size() == kQrCodeFrame);
static_assert(kPdf417Head.size() + kPdf417Tail.size() == kPdf417Frame);

/// Writes head, data and tail to `out` (which the builder has checked holds them all)
/// and returns the head's copy for its parameters to be filled in.
/// Copies a byte image in 16-byte pieces: one copy of an odd size such as 33 or 57 may
/// be compiled into a string move, which costs more than the whole sequence.
template <std::size_t N>
void copyImage(std::uint8_t* out, const std::array<std::uint8_t, N>& image) {
  std::size_t i = 0;
  for (; i + 16 <= N; i += 16) std::memcpy(out + i, image.data() + i, 16);
  std::memcpy(out + i, image.data() + i, N - i);
}

template <std::size_t H, std::size_t T>
std::uint8_t* writeSequence(std::uint8_t* out, const std::array<std::uint8_t, H>& head,
                            std::span<const std::uint8_t> data,
                            const std::array<std::uint8_t, T>& tail) {
  copyImage(out, head);
  base::copyShort(out + H, data.data(), data.size());
  copyImage(out + H + data.size(), tail);
  return out;
}

/// The top bit of each byte of `word` that lies outside 0x2A..0x7D. Each byte's low
/// seven bits x are tested on their own: x + 0x56 reaches the top bit exactly from 0x2A on
/// and x + 0x02 exactly from 0x7E on, and neither sum carries into the next byte.
std::uint64_t nonDataBytes(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kTopBits = 0x80 * kOnes;
  const std::uint64_t low = word & ~kTopBits;
  return (word | ~(low + 0x56 * kOnes) | (low + 0x02 * kOnes)) & kTopBits;
}

/// The index, in stream order, of the first byte flagged in a nonDataBytes() mask.
std::uint32_t firstFlagged(std::uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<std::uint32_t>(std::countr_zero(mask)) / 8;
  } else {
    return static_cast<std::uint32_t>(std::countl_zero(mask)) / 8;
  }
}

#ifdef SPR_DATA_SSE2
/// One bit for each of the 64 bytes at `p` that lies outside 0x2A..0x7D, the first byte's
/// in the lowest bit. A byte b is inside when b - 0x2A, taken modulo 256, is at most 0x53.
std::uint64_t nonDataBits64(const std::uint8_t* p) {
  const __m128i first = _mm_set1_epi8(static_cast<char>(kFirstDataByte));
  const __m128i span = _mm_set1_epi8(static_cast<char>(kLastDataByte - kFirstDataByte));
  std::uint64_t outside = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i x = _mm_sub_epi8(bytes, first);
    const auto inside =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(x, span), x)));
    outside |= static_cast<std::uint64_t>(~inside & 0xFFFFU) << (16 * k);
  }
  return outside;
}
#endif

/// The data count when a symbol with `frame` bytes around the data can be built into
/// `out`; false when the data is too long or the room too short.
bool admit(std::span<std::uint8_t> out, std::span<const std::uint8_t> data, std::uint32_t frame,
           std::uint32_t& n) {
  n = barcodeDataLength(data);
  return n <= kMaxBarcodeData && out.size() >= std::size_t{n} + frame;
}

/// The 16-bit little-endian count of a 2D store command: the data plus cn, fn and m.
void putStoreCount(std::uint8_t* at, std::uint32_t n) {
  at[0] = static_cast<std::uint8_t>(n + 3);
  at[1] = static_cast<std::uint8_t>((n + 3) >> 8);
}

/// Bar height in dots for a height class: 1..4 give 50..200, anything else 250.
std::uint8_t barHeight(std::uint8_t heightClass) {
  switch (heightClass) {
    case 1:
      return 50;
    case 2:
      return 100;
    case 3:
      return 150;
    case 4:
      return 200;
    default:
      return 250;
  }
}

std::uint8_t plus(std::uint8_t value, std::uint8_t add) {
  return static_cast<std::uint8_t>(value + add);
}

}  // namespace

std::uint32_t barcodeDataLength(std::span<const std::uint8_t> data) {
  const std::size_t limit = std::min<std::size_t>(data.size(), kMaxBarcodeData + 1);
  std::size_t n = 0;
#ifdef SPR_DATA_SSE2
  // Sixty-four bytes at a time: the data of a symbol mostly ends in the first 64, and
  // where it ends in them is found without a branch.
  for (; n + 64 <= limit; n += 64) {
    const std::uint64_t outside = nonDataBits64(data.data() + n);
    if (outside != 0) {
      return static_cast<std::uint32_t>(n + static_cast<std::size_t>(std::countr_zero(outside)));
    }
  }
#endif
  // Eight bytes at a time; the first word with a byte outside the range tells where.
  for (; n + 8 <= limit; n += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, data.data() + n, 8);
    const std::uint64_t outside = nonDataBytes(word);
    if (outside != 0) return static_cast<std::uint32_t>(n + firstFlagged(outside));
  }
  while (n < limit && data[n] >= kFirstDataByte && data[n] <= kLastDataByte) ++n;
  return static_cast<std::uint32_t>(n);
}

bool buildBarcode1D(std::span<std::uint8_t> out, std::uint32_t& outCount, std::uint8_t barcodeType,
                    std::uint8_t heightClass, std::span<const std::uint8_t> data,
                    std::uint32_t& consumed, const page::PrinterSettings& settings) {
  if (out.data() == nullptr || data.data() == nullptr) return false;
  consumed = 0;
  const std::uint32_t n = barcodeDataLength(data);
  if (n > kMaxBarcodeData) return false;
  const std::optional<page::BarcodeTypeEntry> entry = settings.barcodeEntry(barcodeType);
  if (!entry || n > kMaxBarcode1DData) {
    // No symbol can carry this: the placeholder goes, and its data with it.
    outCount = 0;
    consumed = n;
    return true;
  }
  if (out.size() < std::size_t{n} + kBarcode1DFrame) return false;

  std::uint8_t* head = writeSequence(out.data(), k1DHead, data.first(n), k1DTail);
  head[2] = barHeight(heightClass);
  head[5] = entry->moduleWidth;
  head[8] = entry->hriFont;
  head[11] = entry->hriPosition;
  head[14] = plus(entry->barcodeSystem, 65);
  head[15] = static_cast<std::uint8_t>(n);
  outCount = n + kBarcode1DFrame;
  consumed = n;
  return true;
}

bool buildQrCode(std::span<std::uint8_t> out, std::uint32_t& outCount,
                 std::span<const std::uint8_t> data, std::uint32_t& consumed,
                 const page::PrinterSettings& settings) {
  if (out.data() == nullptr || data.data() == nullptr) return false;
  consumed = 0;
  std::uint32_t n = 0;
  if (!admit(out, data, kQrCodeFrame, n)) return false;

  std::uint8_t* head = writeSequence(out.data(), kQrHead, data.first(n), kQrTail);
  head[16] = plus(settings.qrModuleSize(), 1);
  head[24] = plus(settings.qrErrorLevel(), 0x30);
  putStoreCount(head + 28, n);
  outCount = n + kQrCodeFrame;
  consumed = n;
  return true;
}

bool buildPdf417(std::span<std::uint8_t> out, std::uint32_t& outCount,
                 std::span<const std::uint8_t> data, std::uint32_t& consumed,
                 const page::PrinterSettings& settings) {
  if (out.data() == nullptr || data.data() == nullptr) return false;
  consumed = 0;
  std::uint32_t n = 0;
  if (!admit(out, data, kPdf417Frame, n)) return false;

  std::uint8_t* head = writeSequence(out.data(), kPdf417Head, data.first(n), kPdf417Tail);
  head[23] = plus(settings.pdf417ModuleWidth(), 2);
  head[31] = plus(settings.pdf417RowHeight(), 2);
  head[39] = plus(settings.pdf417ErrorMode(), 0x30);
  putStoreCount(head + 52, n);
  outCount = n + kPdf417Frame;
  consumed = n;
  return true;
}

}  // namespace page
