#include "page/PageProcessor.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "PageTestSupport.h"
#include "raster/BandMerger.h"

namespace {

using fakes::Bytes;
using fakes::concat;
using fakes::hex;
using fakes::rasterRow;
using fakes::toHex;
using pagetest::placeholder;
using pagetest::text;

const Bytes kCut = hex("1D 56 42 00");
const std::vector<std::string> kNoLines;

/// `size` bytes of lower-case letters with cut commands at `cuts`.
Bytes withCuts(std::size_t size, std::initializer_list<std::ptrdiff_t> cuts) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>('a' + i % 26);
  for (std::ptrdiff_t at : cuts) std::copy(kCut.begin(), kCut.end(), b.begin() + at);
  return b;
}

Bytes replaced(Bytes b, std::ptrdiff_t at) {
  const Bytes ff = hex("0C 00 00 00");
  std::copy(ff.begin(), ff.end(), b.begin() + at);
  return b;
}

Bytes removed(Bytes b, std::ptrdiff_t at) {
  b.erase(b.begin() + at, b.begin() + at + 4);
  return b;
}

/// What the band merger makes of `stream`, the oracle for the raster route.
Bytes merged(Bytes stream, std::uint32_t bandRowLimit) {
  stream.resize(stream.size() + 256);
  stream::StreamView view{stream.data(), static_cast<std::uint32_t>(stream.size() - 256),
                          stream.size()};
  stream.resize(raster::mergeBands(view, bandRowLimit));
  return stream;
}

class PageProcessor : public ::testing::Test {
 protected:
  pagetest::PrinterPage p;
};

TEST_F(PageProcessor, FirstCutReplacedAndThirdRemovedForModelP) {
  const Bytes page = withCuts(120, {10, 50, 90});
  p.job.cutMode = 4;
  p.job.modelFirstUnit = u'P';
  page::PageBuffer buffer = p.process(page);
  EXPECT_EQ(buffer.length(), 116u);
  EXPECT_EQ(p.bytes(), removed(replaced(page, 10), 90));
}

TEST_F(PageProcessor, SecondCutRemovedWithoutReplacement) {
  const Bytes page = withCuts(120, {10, 50, 90});
  for (auto [cutMode, model] : {std::pair{0u, u'P'}, {4u, u'T'}, {3u, u'P'}}) {
    pagetest::PrinterPage q;
    q.job.cutMode = cutMode;
    q.job.modelFirstUnit = model;
    page::PageBuffer buffer = q.process(page);
    EXPECT_EQ(buffer.length(), 116u);
    EXPECT_EQ(q.bytes(), removed(page, 50)) << cutMode;
  }
}

TEST_F(PageProcessor, FirmwareVersionStartingWithPAlsoReplaces) {
  const Bytes page = withCuts(40, {4, 20});
  p.job.cutMode = 4;
  p.job.modelFirstUnit = u'T';
  p.settings.firmwareVersion[0] = 0x50;
  page::PageBuffer buffer = p.process(page);
  EXPECT_EQ(buffer.length(), 40u);  // the second cut is now the first standing: it stays
  EXPECT_EQ(p.bytes(), replaced(page, 4));
}

TEST_F(PageProcessor, CutInTheLastFourBytesIsNeverFound) {
  const Bytes alone = withCuts(24, {20});
  p.job.cutMode = 4;
  p.job.modelFirstUnit = u'P';
  EXPECT_EQ(p.process(alone).length(), 24u);
  EXPECT_EQ(p.bytes(), alone);

  pagetest::PrinterPage q;
  const Bytes second = withCuts(24, {2, 20});
  EXPECT_EQ(q.process(second).length(), 24u);
  EXPECT_EQ(q.bytes(), second);
}

TEST_F(PageProcessor, AdjacentSecondCutIsRemoved) {
  const Bytes page = withCuts(17, {8, 12});
  page::PageBuffer buffer = p.process(page);
  EXPECT_EQ(buffer.length(), 13u);
  EXPECT_EQ(p.bytes(), Bytes{});  // 13 bytes is a short text page: a write of nothing
  ASSERT_EQ(p.writes().size(), 1u);
  EXPECT_EQ(toHex(Bytes(buffer.stream().data, buffer.stream().data + 17)),
            toHex(concat({Bytes(page.begin(), page.begin() + 12), hex("71 00 00 00 00")})));
}

TEST_F(PageProcessor, RemovalPullsInTheBytesThatFollowedTheOldEnd) {
  // The file holds four bytes beyond `length`; they close up behind the new end.
  const Bytes stream = withCuts(30, {0, 10});
  Bytes file = concat({fakes::pageFile(stream), hex("F1 F2 F3 F4")});
  page::PageBuffer buffer = page::PageBuffer::fromFileBytes(file);
  page::processPage(buffer, p.job);
  ASSERT_EQ(buffer.length(), 26u);
  const stream::StreamView s = buffer.stream();
  // Positions 22..25 hold the old tail, 26..29 the four bytes behind the old end; from
  // the old end on the buffer is as it was.
  EXPECT_EQ(toHex(Bytes(s.data + 22, s.data + 31)), "61 62 63 64 F1 F2 F3 F4 F1");
}

// The page is classified as the fix-ups left it: closing the gap of a removed cut can
// join the bytes around it into a raster header.
TEST_F(PageProcessor, RemovedCutCanJoinARasterHeader) {
  const Bytes page = concat({kCut, text("ABCDEFGHIJ"), hex("1D 76"), kCut,
                             hex("30 00 02 00 01 00 AA BB 0D"), text("xyz")});
  p.settings.bandRowLimit = 1;
  p.process(page);
  EXPECT_EQ(p.bytes(), removed(page, 16));  // sent by the band merger, the raster kept
  EXPECT_EQ(p.debug.lines, kNoLines);
}

TEST_F(PageProcessor, CutsInsideImageDataCount) {
  const Bytes page =
      concat({rasterRow(concat({hex("FF"), kCut, hex("FF")})), rasterRow(concat({kCut, kCut}))});
  p.job.cutMode = 4;
  p.job.modelFirstUnit = u'P';
  p.settings.bandRowLimit = 1;  // no merging: the stream goes out as fixed
  page::PageBuffer buffer = p.process(page);
  EXPECT_EQ(buffer.length(), page.size() - 4);
  EXPECT_EQ(p.bytes(), removed(replaced(page, 9), 27));
}

TEST_F(PageProcessor, RasterHeaderOnlyPageGoesToTheTextPath) {
  p.process(hex("1D 76 30 00 00 00 01 00"));
  ASSERT_EQ(p.writes().size(), 1u);
  EXPECT_TRUE(p.writes()[0].empty());
  EXPECT_EQ(p.debug.lines, kNoLines);
}

TEST_F(PageProcessor, FontSelectionAnywhereMakesATextPage) {
  const Bytes row = rasterRow(hex("AA BB CC"));
  const Bytes font = hex("1B 4D 00 1B 74 10");
  for (const Bytes& page : {concat({font, text("Total"), row}), concat({row, text("Total"), font}),
                            concat({rasterRow(concat({font, hex("55")})), text("0123456789")})}) {
    pagetest::PrinterPage q;
    q.process(page);
    EXPECT_EQ(q.debug.lines, std::vector<std::string>{"Image + Font !! \n"});
    Bytes expected = page;  // the text path drops the raster and its separator
    auto at = std::search(expected.begin(), expected.end(), row.begin(), row.begin() + 4);
    expected.erase(at, at + 8 + (at[4] * at[6]) + 1);
    EXPECT_EQ(q.bytes(), expected);
  }
}

TEST_F(PageProcessor, SplitFontSelectionDoesNotCount) {
  const Bytes page = concat(
      {hex("1B 4D 00 0D 1B 74 10"), rasterRow(hex("01 02")), rasterRow(hex("03 04")), text("z")});
  p.settings.bandRowLimit = 20;
  p.process(page);
  EXPECT_EQ(p.debug.lines, kNoLines);
  EXPECT_EQ(toHex(p.bytes()), "1B 4D 00 0D 1B 74 10 1D 76 30 00 02 00 02 00 01 02 03 04 0D 7A");
}

TEST_F(PageProcessor, FirstFindingIsTheOneReported) {
  Bytes page = concat({rasterRow(Bytes(20, 0x11)), Bytes(120, 0x20)});
  const Bytes marker = placeholder(9);
  const Bytes font = hex("1B 4D 00 1B 74 10");
  std::copy(marker.begin(), marker.end() - 1, page.begin() + 40);
  std::copy(font.begin(), font.end(), page.begin() + 100);
  p.process(page);
  EXPECT_EQ(p.debug.lines, std::vector<std::string>{"Image + Barcode !! \n"});
}

TEST_F(PageProcessor, PlaceholdersWithoutRasterGoQuietlyToTheTextPath) {
  p.process(concat({text("Receipt"), placeholder(9), hex("0D 41 0A"), placeholder(9), hex("0D")}));
  EXPECT_EQ(p.debug.lines, kNoLines);
  EXPECT_EQ(p.bytes().size(), 7u + 50 + 1 + 49);
}

TEST_F(PageProcessor, AMarkerInsideADroppedPlaceholderDoesNotHideTheNextOne) {
  // Fifteen 98 07 pairs hold markers at 0, 2, 4, ... 16. The first placeholder's type is
  // the 0x98 at 14 and it is dropped without data; the walk goes on at 15 and meets the
  // marker at 16, whose type 09 makes a QR code of "ABC".
  Bytes run;
  for (int i = 0; i < 15; ++i) run = concat({run, hex("98 07")});
  p.process(concat({run, hex("09 0D"), text("ABC"), hex("0A")}));
  const Bytes out = p.bytes();
  ASSERT_EQ(out.size(), 1u + 49 + 3 + 1);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), hex("07 1D 28 6B"));
  EXPECT_EQ(std::count(out.begin(), out.end(), 0x98), 0);
}

TEST_F(PageProcessor, ImageOnlyPagesGoToTheBandMerger) {
  // White 72-byte rows: the compressed writer declines them, so high-speed mode 1 falls
  // back to the band merger with the page as it was.
  Bytes page;
  for (int i = 0; i < 25; ++i) page = concat({page, rasterRow(Bytes(72, 0x00))});
  page = concat({page, text("cut"), kCut});
  for (std::uint32_t mode : {0u, 1u, 2u, 7u}) {
    pagetest::PrinterPage q;
    q.settings.highSpeedMode = mode;
    q.settings.bandRowLimit = 20;
    q.process(page);
    ASSERT_EQ(q.writes().size(), 1u) << mode;
    EXPECT_EQ(q.bytes(), merged(page, 20)) << mode;
    EXPECT_EQ(q.bytes().size(), page.size() - 9 * 23) << mode;  // bands of 20 and 5 rows
  }
}

TEST_F(PageProcessor, HeaderComparisonReadsIntoTheMargin) {
  // 1D 76 30 at the very end meets the margin's 00: the page holds a raster, and the band
  // merger sends it as it stands (the text path would have dropped those bytes).
  const Bytes page = concat({text("ABCDEFGHIJKLMNOP"), hex("1D 76 30")});
  p.process(page);
  EXPECT_EQ(p.bytes(), page);
}

TEST_F(PageProcessor, HeightClassStaysWithTheJob) {
  const Bytes sized = concat({placeholder(1), hex("1D 21 04"), text("12345678901"), hex("0D")});
  const Bytes plain = concat({placeholder(1), hex("0D"), text("12345678901"), hex("0D")});
  p.process(sized);
  p.process(plain);
  EXPECT_EQ(p.job.heightClass, 4);
  ASSERT_EQ(p.writes().size(), 2u);
  EXPECT_EQ(toHex(Bytes(p.writes()[1].begin(), p.writes()[1].begin() + 3)), "1D 68 C8");
}

}  // namespace
