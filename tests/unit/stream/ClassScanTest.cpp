#include "stream/ClassScan.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using stream::ByteClass;

TEST(ClassScan, TheClassOfTwoValuesHoldsExactlyTheValuesThatAgreeWithBoth) {
  const ByteClass c = stream::classOf(0x1D, 0x98);  // 0x1D ^ 0x98 = 0x85: three bits apart
  std::vector<int> held;
  for (int v = 0; v < 256; ++v) {
    if (c.holds(static_cast<std::uint8_t>(v))) held.push_back(v);
  }
  EXPECT_EQ(held, (std::vector<int>{0x18, 0x19, 0x1C, 0x1D, 0x98, 0x99, 0x9C, 0x9D}));
  const ByteClass one = stream::classOf(0x0A, 0x0A);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(one.holds(static_cast<std::uint8_t>(v)), v == 0x0A);
}

/// Every position a kernel's list gives, read back through ClassHitReader from `from`.
std::vector<std::size_t> readBack(const stream::ClassHits& hits, std::size_t from) {
  std::vector<std::size_t> positions;
  stream::ClassHitReader reader(hits);
  for (std::size_t p = reader.next(from); p < hits.coveredTo; p = reader.next(p + 1)) {
    positions.push_back(p);
  }
  return positions;
}

TEST(ClassScan, EveryKernelListsWhatABytewiseSearchFinds) {
  std::mt19937 rng(7);
  for (const ByteClass c :
       {stream::classOf(0x1D, 0x98), stream::classOf(0x00, 0x00), stream::classOf(0xFF, 0x7F)}) {
    for (int round = 0; round < 120; ++round) {
      // Sparse hits (about one in 300 bytes, or none) let the pass go through empty
      // blocks two at a time; dense ones (one in 3) fill the list before the end.
      const std::size_t size = 1 + rng() % (round % 4 == 3 ? 9000 : 900);
      const unsigned oneIn = round % 4 == 3 ? 3 : 300;
      std::vector<std::uint8_t> members;
      std::vector<std::uint8_t> others;
      for (int v = 0; v < 256; ++v) {
        (c.holds(static_cast<std::uint8_t>(v)) ? members : others)
            .push_back(static_cast<std::uint8_t>(v));
      }
      std::vector<std::uint8_t> data(size);
      const bool none = round % 5 == 0;
      for (auto& b : data) {
        b = !none && rng() % oneIn == 0 ? members[rng() % members.size()]
                                        : others[rng() % others.size()];
      }
      for (int probe = 0; probe < 30; ++probe) {
        // The buffer is exactly as long as the bytes that may be read, so the sanitizer
        // build catches a read past `readable`.
        const std::size_t readable = size - (probe % 3 == 0 ? rng() % (size / 2 + 1) : 0);
        std::size_t from = rng() % (readable + 1);
        // Every other probe starts on a 64-byte boundary of memory, where the list has no
        // short first block.
        if (probe % 2 == 0) {
          from -= std::min(from, reinterpret_cast<std::uintptr_t>(data.data() + from) % 64);
        }
        const std::size_t end = from + rng() % (readable - from + 1);
        for (const stream::NamedClassKernel& k : stream::usableClassKernels()) {
          stream::ClassHits hits;
          k.kernel(data.data(), from, end, readable, c, hits);
          ASSERT_GE(hits.coveredTo, from) << k.name;
          ASSERT_LE(hits.coveredTo, end) << k.name;
          // The list covers the whole stretch unless it is full.
          if (hits.count < stream::ClassHits::kMostBlocks) {
            ASSERT_EQ(hits.coveredTo, end) << k.name;
          }
          std::vector<std::size_t> want;
          for (std::size_t i = from; i < hits.coveredTo; ++i) {
            if (c.holds(data[i])) want.push_back(i);
          }
          ASSERT_EQ(readBack(hits, from), want) << k.name << ": size " << size << ", from " << from
                                                << ", end " << end << ", readable " << readable;
        }
      }
    }
  }
}

// Long quiet stretches go eight blocks to one test, then four: a lone hit must be listed
// wherever it stands among them, and wherever the stretch starts against memory.
TEST(ClassScan, EveryKernelFindsALoneHitInALongQuietStretch) {
  const ByteClass c = stream::classOf(0x1D, 0x98);
  std::vector<std::uint8_t> data(1500, 0x41);
  for (std::size_t from : {0u, 5u, 64u}) {
    for (std::size_t pos = from; pos < data.size(); ++pos) {
      data[pos] = pos % 2 == 0 ? 0x1D : 0x98;
      for (const stream::NamedClassKernel& k : stream::usableClassKernels()) {
        stream::ClassHits hits;
        k.kernel(data.data(), from, data.size(), data.size(), c, hits);
        ASSERT_EQ(readBack(hits, from), std::vector<std::size_t>{pos})
            << k.name << ": from " << from << ", hit at " << pos;
      }
      data[pos] = 0x41;
    }
  }
}

TEST(ClassScan, AReaderSkipsWhatLiesBeforeItsStartingPoint) {
  std::vector<std::uint8_t> data(300, 0x41);
  for (std::size_t i : {3u, 64u, 65u, 130u, 299u}) data[i] = 0x1D;
  stream::ClassHits hits;
  stream::listClass(data.data(), 0, data.size(), data.size(), stream::classOf(0x1D, 0x1D), hits);
  stream::ClassHitReader reader(hits);
  EXPECT_EQ(reader.next(4), 64u);
  EXPECT_EQ(reader.next(65), 65u);
  EXPECT_EQ(reader.next(131), 299u);
  EXPECT_EQ(reader.next(300), 300u);  // none left: the end of what is covered
}

}  // namespace
