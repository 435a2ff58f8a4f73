#include "stream/ClassScan.h"

#include "base/CpuVectors.h"

#include <algorithm>
#include <bit>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define SPR_CLASS_SSE2 1
// The 32- and 64-byte kernels are left out where offeredVectors() never offers them.
#if !defined(_WIN32)
#define SPR_CLASS_WIDE 1
#endif
#endif

namespace stream {
namespace {

constexpr std::size_t kBlock = ClassHits::kBlock;

/// The hits of the block at `at` for positions below `limit` (at most kBlock on).
std::uint64_t bitsBytewise(const std::uint8_t* at, std::size_t limit, ByteClass c) {
  std::uint64_t bits = 0;
  for (std::size_t j = 0; j < limit && j < kBlock; ++j) {
    if (c.holds(at[j])) bits |= std::uint64_t{1} << j;
  }
  return bits;
}

// Every kernel lists in the same way: blocks of 64 bytes, aligned in memory after the
// first. While four blocks lie below `end` (and the list has room to spare), one test
// tells whether any of them holds a hit; when one does, all four are listed without a
// branch, so that where a hit stands in them costs no mispredicted jump. Past that, a
// block is read whole while it lies below `readable` and byte by byte after that. A
// Block type gives a block's hits as a bit mask (the lowest position in the lowest bit)
// and whether four blocks hold any; one that can also tell it for eight blocks at once
// passes quiet stretches eight blocks to a test, then four.

/// The pass, for the vectors of `Block`.
template <typename Block>
void listInBlocks(const Block& block, const std::uint8_t* data, std::size_t i, std::size_t end,
                  std::size_t readable, ByteClass c, ClassHits& hits) {
  constexpr std::size_t kFour = 4 * kBlock;
  std::size_t count = 0;
  // The first block reaches only to the next 64-byte boundary of memory, so that every
  // block after it is read from one cache line.
  if (const std::size_t misaligned = reinterpret_cast<std::uintptr_t>(data + i) % kBlock;
      misaligned != 0 && i < end) {
    const std::size_t head = std::min(kBlock - misaligned, end - i);
    const std::uint64_t bits =
        readable - i >= kBlock ? block.bits(data + i) : bitsBytewise(data + i, readable - i, c);
    hits.blocks[count] = {i, bits & ((std::uint64_t{1} << head) - 1)};
    count += hits.blocks[count].bits != 0 ? 1U : 0U;
    i += head;
  }
  while (i < end) {
    // Four blocks go together only while they cannot fill the list: the block that does
    // is the one below.
    if (end - i >= kFour && count + 4 < ClassHits::kMostBlocks) {
      // Quiet blocks are passed in a loop of their own, with no other test on the way.
      const std::size_t lastFour = end - kFour;  // the last start of four whole blocks
      if constexpr (requires { block.anyInEight(data); }) {
        while (end - i >= 2 * kFour && !block.anyInEight(data + i)) i += 2 * kFour;
      }
      while (i <= lastFour && !block.anyInFour(data + i)) i += kFour;
      if (i > lastFour) continue;
      for (std::size_t k = 0; k < 4; ++k, i += kBlock) {
        const std::uint64_t bits = block.bits(data + i);
        hits.blocks[count] = {i, bits};
        count += bits != 0 ? 1U : 0U;
      }
      continue;
    }
    std::uint64_t bits =
        readable - i >= kBlock ? block.bits(data + i) : bitsBytewise(data + i, readable - i, c);
    if (end - i < kBlock) bits &= (std::uint64_t{1} << (end - i)) - 1;
    if (bits != 0) {
      hits.blocks[count++] = {i, bits};
      if (count == ClassHits::kMostBlocks) {
        hits.count = count;
        hits.coveredTo = std::min(end, i + kBlock);
        return;
      }
    }
    i += kBlock;
  }
  hits.count = count;
  hits.coveredTo = end;
}

struct BytewiseBlock {
  explicit BytewiseBlock(ByteClass of) : c(of) {}
  [[nodiscard]] std::uint64_t bits(const std::uint8_t* at) const {
    return bitsBytewise(at, kBlock, c);
  }
  [[nodiscard]] bool anyInFour(const std::uint8_t* at) const {
    return (bits(at) | bits(at + kBlock) | bits(at + 2 * kBlock) | bits(at + 3 * kBlock)) != 0;
  }
  ByteClass c;
};

void listBytewise(const std::uint8_t* data, std::size_t from, std::size_t end, std::size_t readable,
                  ByteClass c, ClassHits& hits) {
  listInBlocks(BytewiseBlock(c), data, from, end, readable, c, hits);
}

#ifdef SPR_CLASS_SSE2
/// Four 16-byte vectors a block: (byte & mask) == value, compared per byte.
struct Sse2Block {
  explicit Sse2Block(ByteClass c)
      : mask(_mm_set1_epi8(static_cast<char>(c.mask))),
        value(_mm_set1_epi8(static_cast<char>(c.value))) {}
  [[nodiscard]] __m128i held(const std::uint8_t* at) const {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return _mm_cmpeq_epi8(_mm_and_si128(bytes, mask), value);
  }
  [[nodiscard]] std::uint64_t bits(const std::uint8_t* at) const {
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      bits |=
          static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(held(at + 16 * k))))
          << (16 * k);
    }
    return bits;
  }
  [[nodiscard]] bool anyInFour(const std::uint8_t* at) const {
    __m128i any = held(at);
    for (std::size_t k = 1; k < 16; ++k) any = _mm_or_si128(any, held(at + 16 * k));
    return _mm_movemask_epi8(any) != 0;
  }
  __m128i mask;
  __m128i value;
};

__attribute__((flatten)) void listSse2(const std::uint8_t* data, std::size_t from, std::size_t end,
                                       std::size_t readable, ByteClass c, ClassHits& hits) {
  listInBlocks(Sse2Block(c), data, from, end, readable, c, hits);
}
#endif

#ifdef SPR_CLASS_WIDE
/// Two 32-byte vectors a block.
struct Avx2Block {
  __attribute__((target("avx2"))) explicit Avx2Block(ByteClass c)
      : mask(_mm256_set1_epi8(static_cast<char>(c.mask))),
        value(_mm256_set1_epi8(static_cast<char>(c.value))) {}
  [[nodiscard]] __attribute__((target("avx2"))) __m256i held(const std::uint8_t* at) const {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    return _mm256_cmpeq_epi8(_mm256_and_si256(bytes, mask), value);
  }
  [[nodiscard]] __attribute__((target("avx2"))) std::uint64_t bits(const std::uint8_t* at) const {
    const auto low = static_cast<unsigned>(_mm256_movemask_epi8(held(at)));
    const auto high = static_cast<unsigned>(_mm256_movemask_epi8(held(at + 32)));
    return static_cast<std::uint64_t>(high) << 32 | low;
  }
  [[nodiscard]] __attribute__((target("avx2"))) bool anyInFour(const std::uint8_t* at) const {
    __m256i any = held(at);
    for (std::size_t k = 1; k < 8; ++k) any = _mm256_or_si256(any, held(at + 32 * k));
    return _mm256_testz_si256(any, any) == 0;
  }
  __m256i mask;
  __m256i value;
};

__attribute__((target("avx2"), flatten)) void listAvx2(const std::uint8_t* data, std::size_t from,
                                                       std::size_t end, std::size_t readable,
                                                       ByteClass c, ClassHits& hits) {
  listInBlocks(Avx2Block(c), data, from, end, readable, c, hits);
}

/// One 64-byte vector a block. One ternary operation gives (byte & mask) ^ value, zero
/// exactly where the byte is of the class; four blocks are joined by their smallest bytes,
/// so one test of the four writes a mask register, which fewer of the processor's units
/// can do than plain vector operations.
struct Avx512Block {
  __attribute__((target("avx512f,avx512bw"))) explicit Avx512Block(ByteClass c)
      : mask(_mm512_set1_epi8(static_cast<char>(c.mask))),
        value(_mm512_set1_epi8(static_cast<char>(c.value))) {}
  [[nodiscard]] __attribute__((target("avx512f,avx512bw"))) __m512i apart(
      const std::uint8_t* at) const {
    // 0x6A is (x & y) ^ z.
    return _mm512_ternarylogic_epi32(_mm512_loadu_si512(at), mask, value, 0x6A);
  }
  [[nodiscard]] __attribute__((target("avx512f,avx512bw"))) std::uint64_t bits(
      const std::uint8_t* at) const {
    const __m512i d = apart(at);
    return _mm512_testn_epi8_mask(d, d);
  }
  /// The smallest of four blocks' bytes from apart(): a zero where any of them holds a hit.
  [[nodiscard]] __attribute__((target("avx512f,avx512bw"))) __m512i leastOfFour(
      const std::uint8_t* at) const {
    return _mm512_min_epu8(_mm512_min_epu8(apart(at), apart(at + 64)),
                           _mm512_min_epu8(apart(at + 128), apart(at + 192)));
  }
  [[nodiscard]] __attribute__((target("avx512f,avx512bw"))) bool anyInFour(
      const std::uint8_t* at) const {
    const __m512i least = leastOfFour(at);
    return _mm512_testn_epi8_mask(least, least) != 0;
  }
  [[nodiscard]] __attribute__((target("avx512f,avx512bw"))) bool anyInEight(
      const std::uint8_t* at) const {
    const __m512i least = _mm512_min_epu8(leastOfFour(at), leastOfFour(at + 4 * kBlock));
    return _mm512_testn_epi8_mask(least, least) != 0;
  }
  __m512i mask;
  __m512i value;
};

__attribute__((target("avx512f,avx512bw"), flatten)) void listAvx512(const std::uint8_t* data,
                                                                     std::size_t from,
                                                                     std::size_t end,
                                                                     std::size_t readable,
                                                                     ByteClass c, ClassHits& hits) {
  listInBlocks(Avx512Block(c), data, from, end, readable, c, hits);
}
#endif

std::vector<NamedClassKernel> chooseKernels() {
  std::vector<NamedClassKernel> usable{{"bytewise", &listBytewise}};
#ifdef SPR_CLASS_SSE2
  usable.push_back({"sse2", &listSse2});
#endif
#ifdef SPR_CLASS_WIDE
  const base::Vectors vectors = base::offeredVectors();
  if (vectors >= base::Vectors::kAvx2) usable.push_back({"avx2", &listAvx2});
  if (vectors >= base::Vectors::kAvx512) usable.push_back({"avx512bw", &listAvx512});
#endif
  return usable;
}

ClassKernel chosenKernel() {
  static const ClassKernel chosen = chooseKernels().back().kernel;
  return chosen;
}

}  // namespace

void listClass(const std::uint8_t* data, std::size_t from, std::size_t end, std::size_t readable,
               ByteClass c, ClassHits& hits) {
  chosenKernel()(data, from, end, readable, c, hits);
}

std::span<const NamedClassKernel> usableClassKernels() {
  static const std::vector<NamedClassKernel> usable = chooseKernels();
  return usable;
}

}  // namespace stream
