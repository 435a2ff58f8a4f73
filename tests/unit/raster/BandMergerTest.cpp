#include "raster/BandMerger.h"

#include <gtest/gtest.h>

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

}  // namespace
