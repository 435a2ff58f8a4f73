#include "stream/PairScan.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using stream::BytePair;

/// The first position in [from, end) where a pair stands, written out plainly.
std::size_t expected(const std::vector<std::uint8_t>& data, std::size_t from, std::size_t end,
                     const std::vector<BytePair>& pairs) {
  for (std::size_t i = from; i < end; ++i) {
    for (const BytePair& p : pairs) {
      if (data[i] != p.first) continue;
      if (p.anySecond || (i + 1 < data.size() && data[i + 1] == p.second)) return i;
    }
  }
  return end;
}

/// A buffer of `size` bytes, mostly the pairs' bytes and their aliases 0x80 apart, so
/// that near misses (a first byte followed by another pair's second byte, or by an
/// alias of its own) are everywhere and real pairs are sparse.
std::vector<std::uint8_t> nearMisses(std::mt19937& rng, std::size_t size,
                                     const std::vector<BytePair>& pairs) {
  std::vector<std::uint8_t> pool;
  for (const BytePair& p : pairs) {
    for (std::uint8_t b : {p.first, p.second}) {
      pool.push_back(b);
      pool.push_back(static_cast<std::uint8_t>(b ^ 0x80));
    }
  }
  std::vector<std::uint8_t> data(size);
  for (auto& b : data) {
    b = rng() % 4 == 0 ? pool[rng() % pool.size()] : static_cast<std::uint8_t>(rng());
  }
  // Real pairs are mostly broken up again, so that long stretches hold none.
  for (std::size_t i = 0; i + 1 < size; ++i) {
    if (expected(data, i, i + 1, pairs) == i && rng() % 8 != 0) data[i] = 0x00;
  }
  return data;
}

TEST(PairScan, EveryKernelFindsWhatABytewiseSearchFinds) {
  const std::vector<std::vector<BytePair>> sets = {
      {{0x1D, 0x56}},
      {{0x1B, 0x4D}, {0x98, 0x07}},
      {{0x1D, 0x56}, {0x1B, 0x4D}, {0x98, 0x07}},
      {{0x1D, 0, true}, {0x98, 0x07}},
      {{0x98, 0x07}, {0x1D, 0, true}},  // the one of any second byte is not first
      {{0x0A, 0, true}},
      {{0x1D, 0x56}, {0x0A, 0, true}, {0x1B, 0, true}},  // two of any second byte
      {{0x80, 0x00}, {0x00, 0x80}, {0xFF, 0xFF}},
  };
  std::mt19937 rng(2024);
  for (const auto& pairs : sets) {
    const stream::PairSet set = stream::makePairSet(pairs);
    for (int round = 0; round < 60; ++round) {
      const std::size_t size = 1 + rng() % 700;
      // Each buffer is exactly as long as the bytes that may be read, so the sanitizer
      // build catches a read past `readable`.
      const std::vector<std::uint8_t> data = nearMisses(rng, size, pairs);
      for (int probe = 0; probe < 40; ++probe) {
        const std::size_t from = rng() % (size + 1);
        const std::size_t end = from + rng() % (size - from + 1);
        const std::size_t want = expected(data, from, end, pairs);
        for (const stream::NamedPairKernel& k : stream::usablePairKernels()) {
          ASSERT_EQ(k.kernel(data.data(), from, end, size, set), want)
              << k.name << ": size " << size << ", from " << from << ", end " << end;
        }
        EXPECT_EQ(stream::PairFinder(pairs).find(data.data(), from, end, size), want);
      }
    }
  }
}

TEST(PairScan, OnePairInALongStretchWithoutNearMissesIsFoundWhereverItStands) {
  // The wide kernels test several blocks at once while none may hold a hit; a lone pair
  // is placed at every offset of such a group, across each block boundary included.
  const std::vector<BytePair> pairs = {{0x1D, 0x56}, {0x1B, 0x4D}, {0x98, 0x07}};
  const stream::PairSet set = stream::makePairSet(pairs);
  std::mt19937 rng(7);
  std::vector<std::uint8_t> quiet(1400);
  // 0x20 to 0x5F: no byte that opens a pair.
  for (auto& b : quiet) b = static_cast<std::uint8_t>(0x20 + rng() % 0x40);
  for (std::size_t at = 0; at + 1 < quiet.size(); ++at) {
    for (const BytePair& p : pairs) {
      std::vector<std::uint8_t> data = quiet;
      data[at] = p.first;
      data[at + 1] = p.second;
      for (const stream::NamedPairKernel& k : stream::usablePairKernels()) {
        ASSERT_EQ(k.kernel(data.data(), 0, data.size(), data.size(), set), at)
            << k.name << ": pair at " << at;
        ASSERT_EQ(k.kernel(data.data(), at + 1, data.size(), data.size(), set), data.size())
            << k.name << ": pair at " << at;
      }
    }
  }
}

TEST(PairScan, APairWhoseSecondByteIsNotReadableDoesNotStand) {
  const std::vector<BytePair> pairs = {{0x1D, 0x56}};
  const stream::PairSet set = stream::makePairSet(pairs);
  for (std::size_t size : {1u, 2u, 63u, 64u, 65u, 127u, 128u, 129u, 200u}) {
    // 1D 56 fills the buffer; the last 1D has nothing readable after it.
    std::vector<std::uint8_t> data(size);
    for (std::size_t i = 0; i < size; ++i) data[i] = i % 2 == 0 ? 0x1D : 0x56;
    const std::size_t last = (size - 1) / 2 * 2;
    for (const stream::NamedPairKernel& k : stream::usablePairKernels()) {
      const std::size_t want = last + 1 < size ? last : size;
      EXPECT_EQ(k.kernel(data.data(), last, size, size, set), want) << k.name << " " << size;
      // Reading stops at `readable` even where the data goes on.
      EXPECT_EQ(k.kernel(data.data(), last, last + 1, last + 1, set), last + 1)
          << k.name << " " << size;
    }
  }
}

}  // namespace
