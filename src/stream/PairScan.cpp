#include "stream/PairScan.h"

#include "base/CpuVectors.h"

#include <bit>
#include <utility>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define SPR_PAIR_SSE2 1
// The 32- and 64-byte kernels are left out where offeredVectors() never offers them.
#if !defined(_WIN32)
#define SPR_PAIR_WIDE 1
#endif
#endif

namespace stream {
namespace {

/// Whether a pair of `set` starts at `i`, reading below `readable` only.
bool pairAt(const std::uint8_t* data, std::size_t i, std::size_t readable, const PairSet& set) {
  for (std::size_t k = 0; k < set.count; ++k) {
    const BytePair& pair = set.pairs[k];
    if (data[i] != pair.first) continue;
    if (pair.anySecond || (i + 1 < readable && data[i + 1] == pair.second)) return true;
  }
  return false;
}

std::size_t findBytewise(const std::uint8_t* data, std::size_t from, std::size_t end,
                         std::size_t readable, const PairSet& set) {
  for (std::size_t i = from; i < end; ++i) {
    if (pairAt(data, i, readable, set)) return i;
  }
  return end;
}

/// The position of the lowest set bit of a hit mask for the block at `base`, held to `end`.
template <typename Mask>
std::size_t firstHit(std::size_t base, Mask mask, std::size_t end) {
  const std::size_t p = base + static_cast<std::size_t>(std::countr_zero(mask));
  return p < end ? p : end;
}

/// The kernel of `Kernel<N, FirstAny>` for `count` pairs.
template <template <std::size_t, bool> class Kernel>
PairKernel pick(std::size_t count, bool firstAny) {
  switch (count) {
    case 1:
      return firstAny ? &Kernel<1, true>::find : &Kernel<1, false>::find;
    case 2:
      return firstAny ? &Kernel<2, true>::find : &Kernel<2, false>::find;
    default:
      return firstAny ? &Kernel<3, true>::find : &Kernel<3, false>::find;
  }
}

/// Whether more than one pair of the set stands wherever its first byte does; the vector
/// kernels know only the first one so, and such a set is searched byte by byte.
bool severalAny(const PairSet& set) {
  std::size_t any = 0;
  for (std::size_t k = 0; k < set.count; ++k) any += set.pairs[k].anySecond ? 1U : 0U;
  return any > 1;
}

/// Any set, through the kernel made for its shape.
template <template <std::size_t, bool> class Kernel>
std::size_t findAny(const std::uint8_t* data, std::size_t from, std::size_t end,
                    std::size_t readable, const PairSet& set) {
  if (set.count == 0 || from >= end) return end;
  if (severalAny(set)) return findBytewise(data, from, end, readable, set);
  return pick<Kernel>(set.count, set.pairs[0].anySecond)(data, from, end, readable, set);
}

#ifdef SPR_PAIR_SSE2
// Each kernel compares a block at i with the pairs' first bytes and the block at i + 1
// with their second bytes, so it needs a block and one byte more below `readable`; the
// rest goes byte by byte.

template <std::size_t N, bool FirstAny>
struct Sse2 {
  static std::size_t find(const std::uint8_t* data, std::size_t i, std::size_t end,
                          std::size_t readable, const PairSet& set) {
    __m128i first[N];
    __m128i second[N];
    for (std::size_t k = 0; k < N; ++k) {
      first[k] = _mm_set1_epi8(static_cast<char>(set.pairs[k].first));
      second[k] = _mm_set1_epi8(static_cast<char>(set.pairs[k].second));
    }
    for (; i < end && readable - i > 16; i += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
      __m128i hit = _mm_setzero_si128();
      for (std::size_t k = 0; k < N; ++k) {
        __m128i here = _mm_cmpeq_epi8(a, first[k]);
        if (!(FirstAny && k == 0)) here = _mm_and_si128(here, _mm_cmpeq_epi8(b, second[k]));
        hit = _mm_or_si128(hit, here);
      }
      const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
      if (mask != 0) return firstHit(i, mask, end);
    }
    return findBytewise(data, i, end, readable, set);
  }
};
#endif

#ifdef SPR_PAIR_WIDE
template <std::size_t N, bool FirstAny>
struct Avx2 {
  __attribute__((target("avx2"))) static std::size_t find(const std::uint8_t* data, std::size_t i,
                                                          std::size_t end, std::size_t readable,
                                                          const PairSet& set) {
    __m256i first[N];
    __m256i second[N];
    for (std::size_t k = 0; k < N; ++k) {
      first[k] = _mm256_set1_epi8(static_cast<char>(set.pairs[k].first));
      second[k] = _mm256_set1_epi8(static_cast<char>(set.pairs[k].second));
    }
    for (; i < end && readable - i > 32; i += 32) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 1));
      __m256i hit = _mm256_setzero_si256();
      for (std::size_t k = 0; k < N; ++k) {
        __m256i here = _mm256_cmpeq_epi8(a, first[k]);
        if (!(FirstAny && k == 0)) here = _mm256_and_si256(here, _mm256_cmpeq_epi8(b, second[k]));
        hit = _mm256_or_si256(hit, here);
      }
      const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(hit));
      if (mask != 0) return firstHit(i, mask, end);
    }
    return findBytewise(data, i, end, readable, set);
  }
};

/// The smallest byte, over the pairs, of (a ^ first) | (b ^ second): zero where a pair
/// stands. Only the caller's last test writes a mask register, which fewer of the
/// processor's units can do than plain vector operations.
template <std::size_t N, bool FirstAny>
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i leastOf(
    __m512i a, __m512i b, const __m512i* first, const __m512i* second) {
  __m512i least = _mm512_setzero_si512();
  for (std::size_t k = 0; k < N; ++k) {
    __m512i here = _mm512_xor_si512(a, first[k]);
    // 0xF6 is x | (y ^ z).
    if (!(FirstAny && k == 0)) here = _mm512_ternarylogic_epi32(here, b, second[k], 0xF6);
    least = k == 0 ? here : _mm512_min_epu8(least, here);
  }
  return least;
}

/// 64 bytes a block, the pair test in plain vector operations (above).
template <std::size_t N, bool FirstAny>
struct Avx512 {
  __attribute__((target("avx512f,avx512bw"))) static std::size_t find(const std::uint8_t* data,
                                                                      std::size_t i,
                                                                      std::size_t end,
                                                                      std::size_t readable,
                                                                      const PairSet& set) {
    __m512i first[N];
    __m512i second[N];
    for (std::size_t k = 0; k < N; ++k) {
      first[k] = _mm512_set1_epi8(static_cast<char>(set.pairs[k].first));
      second[k] = _mm512_set1_epi8(static_cast<char>(set.pairs[k].second));
    }
    for (; i < end && readable - i > 64; i += 64) {
      const __m512i a = _mm512_loadu_si512(data + i);
      const __m512i b = _mm512_loadu_si512(data + i + 1);
      const __m512i least = leastOf<N, FirstAny>(a, b, first, second);
      const __mmask64 hit = _mm512_testn_epi8_mask(least, least);
      if (hit != 0) return firstHit(i, static_cast<std::uint64_t>(hit), end);
    }
    return findBytewise(data, i, end, readable, set);
  }
};

/// The table's lookups of the aligned block at `at`.
__attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) inline __m512i lookUp(
    __m512i table0, __m512i table1, const std::uint8_t* at) {
  return _mm512_permutex2var_epi8(table0, _mm512_load_si512(at), table1);
}

/// A block's lookups with its bits moved to meet its successors', from its lookups and the
/// next block's: each eight-byte lane shifted down four bits, with the low four bits of
/// the byte after the lane (the next lane's first) coming in at its top. So each byte's
/// successor's closing bits stand in the byte's high four bits, and the byte's own
/// opening bits come down into its low four bits, where they meet its closing bits: a
/// byte that may both open and close one pair is a possible hit too, put aside byte by
/// byte. `here & successorsBelow(here, next)` is nonzero where a pair may start.
__attribute__((target("avx512f,avx512bw,avx512vbmi2"), always_inline)) inline __m512i
successorsBelow(__m512i here, __m512i next) {
  // The zero-masking form with every lane kept: GCC 12 warns of the plain one's unset
  // operand.
  const __m512i lanesOn = _mm512_maskz_alignr_epi64(0xFF, next, here, 1);
  return _mm512_shrdi_epi64(here, lanesOn, 4);
}

/// The positions of a block where a pair may start.
__attribute__((target("avx512f,avx512bw,avx512vbmi2"), always_inline)) inline __mmask64
possibleHits(__m512i here, __m512i next) {
  return _mm512_test_epi8_mask(here, successorsBelow(here, next));
}

/// Each byte is looked up by its low seven bits in the set's table: the pairs it may
/// open in bits 4 to 6, those it may close in bits 0 to 2. A pair may start where a
/// byte's high bits and the next byte's low bits share a bit; aliases
/// of bytes 0x80 apart are put aside byte by byte. Each aligned block is read and
/// looked up once; the next byte's lookups come from this block's and the next one's by
/// a lane shift and a double shift (VBMI2).
template <std::size_t N, bool FirstAny>
struct Avx512Vbmi {
  __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2"))) static std::size_t find(
      const std::uint8_t* data, std::size_t i, std::size_t end, std::size_t readable,
      const PairSet& set) {
    const auto address = reinterpret_cast<std::uintptr_t>(data + i);
    const std::size_t aligned = i + (64 - static_cast<std::size_t>(address % 64)) % 64;
    if (aligned >= end || readable - aligned <= 128) {
      return Avx512<N, FirstAny>::find(data, i, end, readable, set);
    }
    if (aligned > i) {
      const std::size_t hit = Avx512<N, FirstAny>::find(data, i, aligned, readable, set);
      if (hit < aligned) return hit;
      i = aligned;
    }
    const __m512i table0 = _mm512_loadu_si512(set.classes.data());
    const __m512i table1 = _mm512_loadu_si512(set.classes.data() + 64);
    __m512i classes = lookUp(table0, table1, data + i);
    for (;;) {
      // Four blocks to a test while they lie before `end` and the block after them may be
      // read: a block with no hit is the rule. Their meeting bits are gathered into one
      // vector, (a & b) | c block after block, and tested once: a test writes a mask
      // register, which fewer of the processor's units can do than plain vector operations.
      while (end - i > 256 && readable - i > 320) {
        const __m512i b1 = lookUp(table0, table1, data + i + 64);
        const __m512i b2 = lookUp(table0, table1, data + i + 128);
        const __m512i b3 = lookUp(table0, table1, data + i + 192);
        const __m512i b4 = lookUp(table0, table1, data + i + 256);
        // 0xEA is (x & y) | z.
        __m512i met = _mm512_and_si512(classes, successorsBelow(classes, b1));
        met = _mm512_ternarylogic_epi64(b1, successorsBelow(b1, b2), met, 0xEA);
        met = _mm512_ternarylogic_epi64(b2, successorsBelow(b2, b3), met, 0xEA);
        met = _mm512_ternarylogic_epi64(b3, successorsBelow(b3, b4), met, 0xEA);
        if (_mm512_test_epi8_mask(met, met) != 0) break;
        i += 256;
        classes = b4;
      }
      // The four blocks where a possible hit was met, or the last ones, one at a time.
      if (i >= end || readable - i <= 128) break;
      for (const std::size_t stop = i + 256; i < stop && i < end && readable - i > 128; i += 64) {
        const __m512i next = lookUp(table0, table1, data + i + 64);
        auto hit = static_cast<std::uint64_t>(possibleHits(classes, next));
        for (; hit != 0; hit &= hit - 1) {
          const std::size_t p = i + static_cast<std::size_t>(std::countr_zero(hit));
          if (p >= end) return end;
          if (pairAt(data, p, readable, set)) return p;
        }
        classes = next;
      }
    }
    return Avx512<N, FirstAny>::find(data, i, end, readable, set);
  }
};
#endif

struct Choice {
  std::vector<NamedPairKernel> usable;
  PairKernel (*pick)(std::size_t count, bool firstAny) = nullptr;
};

template <std::size_t N, bool FirstAny>
struct Bytewise {
  static std::size_t find(const std::uint8_t* data, std::size_t from, std::size_t end,
                          std::size_t readable, const PairSet& set) {
    return findBytewise(data, from, end, readable, set);
  }
};

const Choice& choice() {
  static const Choice chosen = [] {
    Choice c;
    c.usable.push_back({"bytewise", &findAny<Bytewise>});
    c.pick = &pick<Bytewise>;
#ifdef SPR_PAIR_SSE2
    c.usable.push_back({"sse2", &findAny<Sse2>});
    c.pick = &pick<Sse2>;
#endif
#ifdef SPR_PAIR_WIDE
    const base::Vectors vectors = base::offeredVectors();
    if (vectors >= base::Vectors::kAvx2) {
      c.usable.push_back({"avx2", &findAny<Avx2>});
      c.pick = &pick<Avx2>;
    }
    if (vectors >= base::Vectors::kAvx512) {
      c.usable.push_back({"avx512bw", &findAny<Avx512>});
      c.pick = &pick<Avx512>;
    }
    if (vectors >= base::Vectors::kAvx512Vbmi) {
      // The table lookups pay for themselves only on three pairs.
      c.usable.push_back({"avx512vbmi", &findAny<Avx512Vbmi>});
      c.pick = [](std::size_t count, bool firstAny) {
        return count >= 3 ? pick<Avx512Vbmi>(count, firstAny) : pick<Avx512>(count, firstAny);
      };
    }
#endif
    return c;
  }();
  return chosen;
}

std::size_t findNothing(const std::uint8_t*, std::size_t, std::size_t end, std::size_t,
                        const PairSet&) {
  return end;
}

}  // namespace

PairSet makePairSet(std::span<const BytePair> pairs) {
  PairSet set;
  for (const BytePair& pair : pairs) {
    if (set.count == set.pairs.size()) break;
    set.pairs[set.count++] = pair;
  }
  for (std::size_t k = 1; k < set.count && !set.pairs[0].anySecond; ++k) {
    if (set.pairs[k].anySecond) std::swap(set.pairs[0], set.pairs[k]);
  }
  for (std::size_t k = 0; k < set.count; ++k) {
    const auto bit = static_cast<std::uint8_t>(1U << k);
    set.classes[set.pairs[k].first & 0x7FU] |= static_cast<std::uint8_t>(bit << 4);
    if (set.pairs[k].anySecond) {
      for (std::uint8_t& c : set.classes) c |= bit;
    } else {
      set.classes[set.pairs[k].second & 0x7FU] |= bit;
    }
  }
  return set;
}

PairFinder::PairFinder(std::span<const BytePair> pairs)
    : set_(makePairSet(pairs)), kernel_(&findNothing) {
  if (set_.count == 0) return;
  kernel_ = severalAny(set_) ? &findBytewise : choice().pick(set_.count, set_.pairs[0].anySecond);
}

std::span<const NamedPairKernel> usablePairKernels() {
  return choice().usable;
}

}  // namespace stream
