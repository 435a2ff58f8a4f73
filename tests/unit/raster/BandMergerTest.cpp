#include "raster/BandMerger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "base/CpuVectors.h"
#include "fakes/Bytes.h"
#include "fakes/FakeSpooler.h"
#include "page/PageBuffer.h"

namespace {

using fakes::Bytes;
using fakes::hex;

/// Runs the merger on `stream` as a loaded page and returns what the spooler received.
Bytes merge(const Bytes& stream, std::uint32_t limit, int* writes = nullptr) {
  fakes::FakeSpooler spooler;
  auto& state = spooler.addPrinter(u"P");
  auto printer = spooler.open(u"P");
  printer->startDoc({u"d", std::nullopt, u"RAW"});
  printer->startPage();
  page::PageBuffer buffer = page::PageBuffer::fromFileBytes(fakes::pageFile(stream));
  raster::writeBandedPage(buffer.stream(), limit, *printer);
  if (writes) *writes = static_cast<int>(state.documents[0].writes.size());
  return state.documents[0].bytes();
}

/// Each vector level the processor offers, narrowest first; the merger is held to the
/// same results on each.
std::vector<base::Vectors> offeredLevels() {
  std::vector<base::Vectors> levels;
  for (base::Vectors v : {base::Vectors::kBaseline, base::Vectors::kAvx2, base::Vectors::kAvx512,
                          base::Vectors::kAvx512Vbmi}) {
    if (v <= base::offeredVectors()) levels.push_back(v);
  }
  return levels;
}

/// Caps the vectors the core uses while it lives.
struct VectorCap {
  explicit VectorCap(base::Vectors most) { base::capVectors(most); }
  ~VectorCap() { base::capVectors(base::Vectors::kAvx512Vbmi); }
  VectorCap(const VectorCap&) = delete;
  VectorCap& operator=(const VectorCap&) = delete;
};

Bytes rows(int count, std::uint8_t sep = 0x0D) {
  Bytes all;
  for (int i = 0; i < count; ++i) {
    auto row = fakes::rasterRow({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(~i)}, sep);
    all.insert(all.end(), row.begin(), row.end());
  }
  return all;
}

TEST(BandMerger, WorkedExamples) {
  EXPECT_EQ(merge(hex("1D 76 30 00 02 00 01 00 AA BB 0D 1D 76 30 00 02 00 01 00 CC DD 0D"), 20),
            hex("1D 76 30 00 02 00 02 00 AA BB CC DD 0D"));
  EXPECT_EQ(merge(hex("1D 76 30 00 02 00 01 00 01 02 0D 1D 76 30 00 02 00 01 00 03 04 0D"
                      "1D 76 30 00 02 00 01 00 05 06 0D"),
                  2),
            hex("1D 76 30 00 02 00 02 00 01 02 03 04 0D 1D 76 30 00 02 00 01 00 05 06 0D"));
}

TEST(BandMerger, StreamsLeftUnchangedAreStillWrittenOnce) {
  int writes = 0;
  EXPECT_EQ(merge(hex("1D 76 30"), 20, &writes), hex("1D 76 30"));
  EXPECT_EQ(writes, 1);
  EXPECT_EQ(merge(Bytes{}, 20, &writes), Bytes{});
  EXPECT_EQ(writes, 1);
  const Bytes text = hex("41 42 43 1D 21 00 0A 1D 56 42 00 0A");
  EXPECT_EQ(merge(text, 20), text);
  EXPECT_EQ(merge(rows(5), 1), rows(5));
}

TEST(BandMerger, FortyFiveRowsMakeBandsOfTwentyTwentyAndFive) {
  const Bytes in = rows(45);
  const Bytes out = merge(in, 20);
  ASSERT_EQ(out.size(), in.size() - 9 * 42);
  // Band headers sit at 0, 8 + 20*2 + 1 = 49 and 98, with counters 20, 20 and 5.
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), hex("1D 76 30 00 02 00 14 00"));
  EXPECT_EQ(Bytes(out.begin() + 49, out.begin() + 57), hex("1D 76 30 00 02 00 14 00"));
  EXPECT_EQ(Bytes(out.begin() + 98, out.begin() + 106), hex("1D 76 30 00 02 00 05 00"));
  // The rows' data stand back to back, the band's last separator after them.
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(out[static_cast<std::size_t>(8 + 2 * i)], static_cast<std::uint8_t>(i));
  }
  EXPECT_EQ(out[48], 0x0D);
  EXPECT_EQ(out.back(), 0x0D);
}

TEST(BandMerger, BandsCloseWhereTheNextHeaderIsNotWhereExpected) {
  // Mode byte 1 is not a raster command and closes the band.
  const Bytes mode1 = hex("1D 76 30 00 01 00 01 00 AA 0D 1D 76 30 01 01 00 01 00 BB 0D");
  EXPECT_EQ(merge(mode1, 20), mode1);
  // No separator: the second header is one byte early, so it is neither merged nor
  // opens a band, and the third row (properly placed after it) opens a new one.
  const Bytes noSep =
      hex("1D 76 30 00 01 00 01 00 AA 1D 76 30 00 01 00 01 00 BB 0D"
          "1D 76 30 00 01 00 01 00 CC 0D");
  EXPECT_EQ(merge(noSep, 20), noSep);
  // Text between two runs closes the first band; the next run opens its own.
  const Bytes twoRuns = fakes::concat({rows(2), hex("41"), rows(2)});
  EXPECT_EQ(
      merge(twoRuns, 20),
      hex("1D 76 30 00 02 00 02 00 00 FF 01 FE 0D 41 1D 76 30 00 02 00 02 00 00 FF 01 FE 0D"));
}

TEST(BandMerger, RowsOfDifferentWidthsAreSteppedByTheirOwnWidth) {
  const Bytes in =
      hex("1D 76 30 00 02 00 01 00 AA BB 0D 1D 76 30 00 03 00 01 00 01 02 03 0D"
          "1D 76 30 00 01 00 01 00 FF 0D");
  EXPECT_EQ(merge(in, 20), hex("1D 76 30 00 02 00 03 00 AA BB 01 02 03 FF 0D"));
}

TEST(BandMerger, SeparatorValueIsNotExamined) {
  EXPECT_EQ(merge(hex("1D 76 30 00 01 00 01 00 AA 0A 1D 76 30 00 01 00 01 00 BB 0A"), 20),
            hex("1D 76 30 00 01 00 02 00 AA BB 0A"));
}

TEST(BandMerger, LimitAboveTheOneByteCounterStopsAt255Rows) {
  const Bytes in = rows(300);
  const Bytes out = merge(in, 1000);
  // 255 rows fit the first band's counter; the other 45 form a second band.
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), hex("1D 76 30 00 02 00 FF 00"));
  const std::size_t second = 8 + 255 * 2 + 1;
  EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(second),
                  out.begin() + static_cast<std::ptrdiff_t>(second) + 8),
            hex("1D 76 30 00 02 00 2D 00"));
  EXPECT_EQ(out.size(), in.size() - 9 * 298);
}

TEST(BandMerger, HeaderCutShortAtTheEndIsLeftAsItStands) {
  // The stream ends 6 bytes into the second header: it is not merged, and nothing past
  // the stream is sent.
  const Bytes in = hex("1D 76 30 00 01 00 01 00 AA 0D 1D 76 30 00 01 00");
  EXPECT_EQ(merge(in, 20), in);
  // A whole header whose row runs past the end is merged; only stream bytes are sent.
  const Bytes rowCut = hex("1D 76 30 00 01 00 01 00 AA 0D 1D 76 30 00 05 00 01 00 BB");
  EXPECT_EQ(merge(rowCut, 20), hex("1D 76 30 00 01 00 02 00 AA BB"));
}

/// The merge as the steps describe it: every merge deletes the header and the separator
/// before it from the stream at once, and the scan goes on byte by byte elsewhere.
Bytes stepByStep(Bytes s, std::uint32_t limit) {
  const Bytes header = hex("1D 76 30 00");
  limit = std::min<std::uint32_t>(limit, 255);
  if (s.size() <= 4) return s;
  std::size_t counter = SIZE_MAX;
  for (std::size_t p = 0; p + 4 < s.size();) {
    if (!std::equal(header.begin(), header.end(), s.begin() + static_cast<std::ptrdiff_t>(p))) {
      counter = SIZE_MAX;
      ++p;
      continue;
    }
    const std::size_t x = s[p + 4];
    const bool whole = s.size() - p >= 8;
    if (counter != SIZE_MAX && s[counter] < limit && whole) {
      const auto at = s.begin() + static_cast<std::ptrdiff_t>(p);
      s.erase(at, at + 8);
      s.erase(s.begin() + static_cast<std::ptrdiff_t>(p) - 1);
      ++s[counter];
      p += x;
    } else {
      counter = whole ? p + 6 : SIZE_MAX;
      p += 8 + x + 1;
    }
  }
  return s;
}

/// Runs of one-row commands of mixed widths (some kept for several rows, some of 16 bytes
/// or more, which the merger copies in pieces), separators of any value, commands with
/// other row counts or mode bytes, plain bytes and long plain runs between them.
Bytes randomRasterStream(std::mt19937& rng) {
  auto roll = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto bytes = [&](int n) {
    Bytes b(static_cast<std::size_t>(n));
    for (auto& v : b) v = static_cast<std::uint8_t>(roll(0, 255));
    return b;
  };
  Bytes s;
  int width = roll(0, 40);
  for (int pieces = roll(0, 40); pieces > 0; --pieces) {
    switch (roll(0, 9)) {
      case 0:
        s = fakes::concat({s, bytes(roll(1, 6))});
        break;
      case 1:
        s = fakes::concat({s, bytes(roll(250, 600))});
        break;
      case 2:
        s = fakes::concat({s, hex("1D 76 30"), Bytes{static_cast<std::uint8_t>(roll(0, 1))}});
        break;
      default: {
        if (roll(0, 3) == 0) width = roll(0, 3) == 0 ? roll(200, 255) : roll(0, 40);
        Bytes row = fakes::rasterRow(bytes(width),
                                     static_cast<std::uint8_t>(roll(0, 3) ? 0x0D : roll(0, 255)));
        if (roll(0, 9) == 0) row[6] = static_cast<std::uint8_t>(roll(0, 255));  // yL
        if (roll(0, 19) == 0) row.pop_back();                                   // no separator
        s = fakes::concat({s, row});
      }
    }
  }
  return s;
}

TEST(BandMerger, RandomStreamsMatchTheStepByStepMerge) {
  for (base::Vectors level : offeredLevels()) {
    const VectorCap cap(level);
    std::mt19937 rng(31337);
    const std::uint32_t limits[] = {0, 1, 2, 3, 20, 255, 1000};
    for (int round = 0; round < 400; ++round) {
      const Bytes full = randomRasterStream(rng);
      const std::uint32_t limit = limits[rng() % std::size(limits)];
      // Every length the stream can be cut at near its end, so rows, headers and pieces end
      // on every byte; the buffer ends right after the stream, so a read past it is caught
      // by the sanitizer build.
      for (std::size_t cut = 0; cut <= std::min<std::size_t>(full.size(), 24); ++cut) {
        const Bytes in(full.begin(), full.end() - static_cast<std::ptrdiff_t>(cut));
        std::vector<std::uint8_t> buffer(in);
        const stream::StreamView view{buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                      buffer.size()};
        const std::uint32_t merged = raster::mergeBands(view, limit);
        ASSERT_EQ(fakes::toHex(Bytes(buffer.begin(), buffer.begin() + merged)),
                  fakes::toHex(stepByStep(in, limit)))
            << "level " << static_cast<int>(level) << ", limit " << limit << ", stream "
            << fakes::toHex(in);
      }
    }
  }
}

TEST(BandMerger, RowsOfEveryWidthMergeAtEveryOffset) {
  // Wide and narrow rows, the stream starting at every offset of the buffer, so the
  // pieces the merger copies fall at every alignment.
  for (base::Vectors level : offeredLevels()) {
    const VectorCap cap(level);
    for (std::uint32_t width : {0u, 1u, 3u, 4u, 7u, 8u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u,
                                72u, 127u, 128u, 255u}) {
      Bytes rowsOfWidth;
      for (int i = 0; i < 25; ++i) {
        Bytes data(width);
        for (std::uint32_t k = 0; k < width; ++k)
          data[k] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(i) * 7 + k);
        rowsOfWidth = fakes::concat({rowsOfWidth, fakes::rasterRow(data)});
      }
      for (std::size_t offset = 0; offset < 16; ++offset) {
        Bytes buffer(offset, 0xEE);
        buffer = fakes::concat({buffer, rowsOfWidth});
        const stream::StreamView view{buffer.data() + offset,
                                      static_cast<std::uint32_t>(rowsOfWidth.size()),
                                      rowsOfWidth.size()};
        const std::uint32_t merged = raster::mergeBands(view, 20);
        EXPECT_EQ(Bytes(buffer.begin() + static_cast<std::ptrdiff_t>(offset),
                        buffer.begin() + static_cast<std::ptrdiff_t>(offset + merged)),
                  stepByStep(rowsOfWidth, 20))
            << "level " << static_cast<int>(level) << ", width " << width << ", offset " << offset;
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(offset)),
                  Bytes(offset, 0xEE));
      }
    }
  }
}

}  // namespace
