// The Modified Huffman decoder against hand-coded lines and against libtiff's encoder.
#include "MhDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "PreviewTestSupport.h"

namespace preview {
namespace {

using test::bits;
using test::hex;

/// Row n of a result, as bytes.
std::vector<std::uint8_t> rowOf(const MhDecodeResult& result, std::uint32_t n) {
  const auto first = result.rows.begin() + static_cast<long>(n * result.bytesPerRow);
  return {first, first + result.bytesPerRow};
}

/// A 588-pixel row that starts with `head` and is white after it.
std::vector<std::uint8_t> rowStarting(std::vector<std::uint8_t> head) {
  head.resize((kMhLineWidth + 7) / 8, 0);
  return head;
}

TEST(MhDecoderTest, DecodesTheRowOfTwoBytes0FF0) {
  // white 4, black 8, white 576 (make-up 576 and terminating 0), EOL
  const MhDecodeResult result = decodeMh(hex("B1 5A 0D 40 04"));
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.rowCount, 1u);
  EXPECT_EQ(result.width, 588u);
  EXPECT_EQ(rowOf(result, 0), rowStarting(hex("0F F0")));
  EXPECT_EQ(result.linesWithoutEol, 0u);
}

TEST(MhDecoderTest, DecodesARowThatStartsBlack) {
  // white 0, black 1, white 587, EOL
  const MhDecodeResult result = decodeMh(hex("35 4D 08 00 10"));
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.rowCount, 1u);
  EXPECT_EQ(rowOf(result, 0), rowStarting(hex("80")));
}

TEST(MhDecoderTest, DecodesAWhiteLine) {
  const MhDecodeResult result = decodeMh(hex("68 20 00 40"));
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.rowCount, 1u);
  EXPECT_EQ(rowOf(result, 0), rowStarting({}));
}

TEST(MhDecoderTest, ContinuesTheNextLineInsideAByte) {
  // The row 0F F0 twice: the second line starts at bit 38.
  const MhDecodeResult result = decodeMh(hex("B1 5A 0D 40 06 C5 68 35 00 10"));
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.rowCount, 2u);
  EXPECT_EQ(rowOf(result, 0), rowStarting(hex("0F F0")));
  EXPECT_EQ(rowOf(result, 1), rowStarting(hex("0F F0")));
}

TEST(MhDecoderTest, DecodesBlackMakeUpCodes) {
  // white 0, black 576 (0000001101101 then 0000110111), white 12 (001000), EOL
  const MhDecodeResult result =
      decodeMh(bits("00110101 0000001101101 0000110111 001000 000000000001"));
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.rowCount, 1u);
  std::vector<std::uint8_t> expected(72, 0xFF);
  EXPECT_EQ(rowOf(result, 0), rowStarting(expected));
}

TEST(MhDecoderTest, ReportsAnEndOfLineInsideALine) {
  // white 4, then EOL where the black run should be
  const MhDecodeResult result = decodeMh(bits("1011 000000000001 0000"));
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.rowCount, 0u);
  EXPECT_EQ(result.error, "end of line after 4 of 588 pixels at bit 4");
}

TEST(MhDecoderTest, ReportsARunPastTheLine) {
  // a white line (576 + 12) and EOL; then white 576 + 10 and a black run of 3 that does
  // not fit in the 2 pixels left
  const MhDecodeResult result = decodeMh(bits("01101000 001000 000000000001 01101000 00111 10"));
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.rowCount, 1u);
  EXPECT_EQ(result.error, "bad black code word or run past 588 pixels at bit 39");
}

TEST(MhDecoderTest, CountsLinesWithoutEol) {
  // two white lines (576 + 12) with no EOL between or after them
  const MhDecodeResult result = decodeMh(bits("01101000 001000 01101000 001000"));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.rowCount, 2u);
  EXPECT_EQ(result.linesWithoutEol, 2u);
}

TEST(MhDecoderTest, AcceptsFillBitsAndALeadingEol) {
  // fill, EOL, a white line, fill, EOL
  const MhDecodeResult result =
      decodeMh(bits("0000 000000000001 01101000 001000 000000 000000000001"));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.rowCount, 1u);
  EXPECT_EQ(result.linesWithoutEol, 0u);
}

TEST(MhDecoderTest, StopsAtReturnToControl) {
  std::string code;
  for (int i = 0; i < 6; ++i) code += "000000000001 ";
  code += "1011";  // not decoded: it follows RTC
  const MhDecodeResult result = decodeMh(bits(code));
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.rowCount, 0u);
}

TEST(MhDecoderTest, DecodesExtendedMakeUpCodesOnAWideLine) {
  // 2600 pixels: white 2560 (000000011111) + 40 (00101001), EOL
  const MhDecodeResult result = decodeMh(bits("000000011111 00101001 000000000001"), 2600);
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.rowCount, 1u);
  EXPECT_EQ(result.bytesPerRow, 325u);
}

#ifdef SPR_HAVE_LIBTIFF

/// Rows of random runs: short, medium and long ones, starting with either colour.
std::vector<std::uint8_t> randomRows(std::uint32_t width, std::uint32_t rows,
                                     std::mt19937& random) {
  const std::uint32_t bytesPerRow = (width + 7) / 8;
  std::vector<std::uint8_t> image(std::size_t{bytesPerRow} * rows, 0);
  std::uniform_int_distribution<std::size_t> kind(0, 3);
  for (std::uint32_t y = 0; y < rows; ++y) {
    bool black = (random() & 1u) != 0;
    for (std::uint32_t x = 0; x < width;) {
      const std::uint32_t limit = std::array<std::uint32_t, 4>{4, 70, 700, width}[kind(random)];
      std::uint32_t run = std::uniform_int_distribution<std::uint32_t>(1, limit)(random);
      run = std::min(run, width - x);
      for (std::uint32_t i = x; black && i < x + run; ++i) {
        image[std::size_t{y} * bytesPerRow + i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
      }
      x += run;
      black = !black;
    }
  }
  return image;
}

void expectRoundTrip(std::uint32_t width, std::uint32_t rows, std::uint32_t seed) {
  std::mt19937 random(seed);
  const test::ScratchDir dir;
  const auto image = randomRows(width, rows, random);
  const auto code = test::libtiffCode(image, width, rows, dir.path("rows.tif"));
  ASSERT_FALSE(code.empty());
  const MhDecodeResult result = decodeMh(code, width);
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.rowCount, rows);
  for (std::uint32_t y = 0; y < rows; ++y) {
    const std::uint32_t bytesPerRow = (width + 7) / 8;
    const std::vector<std::uint8_t> expected(
        image.begin() + static_cast<long>(y * bytesPerRow),
        image.begin() + static_cast<long>((y + 1) * bytesPerRow));
    ASSERT_EQ(rowOf(result, y), expected) << "row " << y << " of seed " << seed;
  }
}

TEST(MhDecoderTest, DecodesWhatLibtiffCodesFor588PixelRows) {
  for (std::uint32_t seed = 1; seed <= 5; ++seed) expectRoundTrip(kMhLineWidth, 300, seed);
}

TEST(MhDecoderTest, DecodesWhatLibtiffCodesForRowsWithLongRuns) {
  // 3000-pixel rows reach the make-up codes above 576 and the extended ones.
  for (std::uint32_t seed = 11; seed <= 13; ++seed) expectRoundTrip(3000, 200, seed);
}

#endif

}  // namespace
}  // namespace preview
