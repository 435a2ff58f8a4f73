// The preview's use of libtiff's Group 3 decoder: hand-coded lines come back as their
// rows, lines are counted by their EOLs, problems and caps are said, and the white
// padding past the printable width is left off.
#include "G3Decoder.h"

#include <gtest/gtest.h>

#include "PreviewTestSupport.h"

namespace preview {
namespace {

using test::bits;
using test::hex;

/// Row n of a result, as bytes.
std::vector<std::uint8_t> rowOf(const G3DecodeResult& result, std::uint32_t n) {
  const auto first = result.rows.begin() + static_cast<long>(n * result.bytesPerRow);
  return {first, first + result.bytesPerRow};
}

/// A 588-pixel row that starts with `head` and is white after it.
std::vector<std::uint8_t> rowStarting(std::vector<std::uint8_t> head) {
  head.resize((kMhLineWidth + 7) / 8, 0);
  return head;
}

TEST(G3DecoderTest, DecodesHandCodedLines) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> code;
    std::vector<std::vector<std::uint8_t>> rows;
  };
  const std::vector<Case> cases{
      // white 4, black 8, white 576 (make-up 576 and terminating 0), EOL
      {"0F F0", hex("B1 5A 0D 40 04"), {rowStarting(hex("0F F0"))}},
      // white 0, black 1, white 587, EOL
      {"starts black", hex("35 4D 08 00 10"), {rowStarting(hex("80"))}},
      {"white", hex("68 20 00 40"), {rowStarting({})}},
      // the row 0F F0 twice: the second line starts at bit 38
      {"two lines",
       hex("B1 5A 0D 40 06 C5 68 35 00 10"),
       {rowStarting(hex("0F F0")), rowStarting(hex("0F F0"))}},
      // white 0, black 576 (0000001101101 then 0000110111), white 12 (001000), EOL
      {"black make-up",
       bits("00110101 0000001101101 0000110111 001000 000000000001"),
       {rowStarting(std::vector<std::uint8_t>(72, 0xFF))}},
      // fill bits before an EOL, and a last line that has none
      {"fill and no last EOL",
       bits("01101000 001000 000000 000000000001 01101000 001000"),
       {rowStarting({}), rowStarting({})}},
  };
  for (const Case& c : cases) {
    const G3DecodeResult result = decodeG3(c.code);
    EXPECT_TRUE(result.problems.empty()) << c.what << ": " << result.problems.front();
    EXPECT_EQ(result.width, 588u) << c.what;
    ASSERT_EQ(result.rowCount, c.rows.size()) << c.what;
    for (std::uint32_t y = 0; y < result.rowCount; ++y)
      EXPECT_EQ(rowOf(result, y), c.rows[y]) << c.what;
  }
}

TEST(G3DecoderTest, CountsLinesByTheirEols) {
  EXPECT_EQ(countLines({}), 0u);
  EXPECT_EQ(countLines(hex("00 00 00")), 0u);  // padding only
  EXPECT_EQ(countLines(hex("B1 5A 0D 40 04")), 1u);
  EXPECT_EQ(countLines(hex("B1 5A 0D 40 06 C5 68 35 00 10")), 2u);
  // Ten zeros are the most two code words can put side by side: no EOL.
  EXPECT_EQ(countLines(bits("001000 00000001 0000")), 1u);
  // EOLs before the lines, as libtiff's encoder writes them, and RTC: still lines.
  EXPECT_EQ(countLines(bits("0000 000000000001 0000 000000000001")), 0u);
  EXPECT_EQ(countLines(bits("000000000001 01101000 001000 000000000001 01101000 001000 "
                            "000000000001 000000000001")),
            2u);
  EXPECT_EQ(leadingEolBits(bits("0000 000000000001 000000000001 00110101")), 28u);
  EXPECT_EQ(leadingEolBits(bits("00110101")), 0u);
}

TEST(G3DecoderTest, SaysWhatDidNotDecodeAndKeepsTheRowsBefore) {
  // A white line and EOL, then white 4 and code that runs out: libtiff reports it, and
  // only the whole line is kept.
  const G3DecodeResult result = decodeG3(bits("01101000 001000 000000000001 1011 0000"));
  EXPECT_EQ(result.rowCount, 1u);
  ASSERT_FALSE(result.problems.empty());
  EXPECT_NE(result.problems[0].find("Fax3"), std::string::npos) << result.problems[0];
}

TEST(G3DecoderTest, StopsAtTheCapAndSaysSo) {
  std::string lines;
  for (int i = 0; i < 10; ++i) lines += "01101000 001000 000000000001 ";  // white, EOL
  const G3DecodeResult result = decodeG3(bits(lines), kMhLineWidth, 4);
  EXPECT_EQ(result.rowCount, 4u);
  EXPECT_EQ(result.problems, std::vector<std::string>{"only the first 4 of 10 lines are drawn"});
}

TEST(G3DecoderTest, LeavesOffTheWhitePaddingPastThePrintableWidth) {
  G3DecodeResult result = decodeG3(hex("B1 5A 0D 40 04"));
  EXPECT_EQ(printedWidth(result), 576u);
  // White 587 (576 + 11), then black 1: ink in the last pixel keeps the full width.
  result = decodeG3(bits("01101000 01000 010 000000000001"));
  ASSERT_EQ(result.rowCount, 1u) << (result.problems.empty() ? "" : result.problems[0]);
  EXPECT_EQ(printedWidth(result), 588u);
}

}  // namespace
}  // namespace preview
