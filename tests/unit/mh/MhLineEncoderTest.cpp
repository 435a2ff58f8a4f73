#include "mh/MhLineEncoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/Bytes.h"
#include "fakes/RasterRows.h"
#include "unit/mh/SimpleLineCoder.h"

namespace {

using fakes::Bytes;
using fakes::hex;
using fakes::Row;

/// Codes one row from bit 0 of a zeroed buffer; returns the started bytes, `bits` the count.
Bytes encode(const Row& row, std::uint32_t* bits = nullptr) {
  Bytes buffer(mh::kMaxLineBits / 8 + 1, 0);
  std::uint32_t pos = 0;
  mh::encodeLine(row, buffer.data(), pos);
  if (bits) *bits = pos;
  buffer.resize((pos + 7) / 8);
  return buffer;
}

/// Bits `from` to `to` of `buffer` as text.
std::string bitText(const Bytes& buffer, std::uint32_t to, std::uint32_t from = 0) {
  std::string s;
  for (std::uint32_t n = from; n < to; ++n) s += (buffer[n / 8] & 0x80 >> (n % 8)) ? '1' : '0';
  return s;
}

std::string runBits(std::uint16_t length, mh::MhColour colour) {
  Bytes buffer(128, 0);
  std::uint32_t pos = 0;
  mh::codeRun(buffer.data(), pos, length, colour);
  return bitText(buffer, pos);
}

std::string entryBits(const mh::MhCodeEntry& e) {
  std::string s;
  for (int k = e.bitCount - 1; k >= 0; --k) s += ((e.code >> k) & 1) ? '1' : '0';
  return s;
}

TEST(MhLineEncoder, WorkedExamples) {
  std::uint32_t bits = 0;
  EXPECT_EQ(encode(hex("0F F0"), &bits), hex("B1 5A 0D 40 04"));
  EXPECT_EQ(bits, 38u);
  EXPECT_EQ(encode(hex("80"), &bits), hex("35 4D 08 00 10"));
  EXPECT_EQ(bits, 36u);
  EXPECT_EQ(encode(Row(72, 0x00), &bits), hex("68 20 00 40"));
  EXPECT_EQ(bits, 26u);
  // White 0, black 576 (make-up 576, terminating 0), white 12, EOL.
  const Bytes black = encode(Row(72, 0xFF), &bits);
  EXPECT_EQ(bits, 49u);
  EXPECT_EQ(bitText(black, bits),
            "00110101"
            "0000001101101"
            "0000110111"
            "001000"
            "000000000001");
  EXPECT_EQ(black, hex("35 03 68 6E 40 00 80"));
}

TEST(MhLineEncoder, RowsArePaddedOrCutToExactly588Pixels) {
  fakes::RowMaker maker(7);
  const Row wide = maker.noise(200);
  EXPECT_EQ(encode(wide), encode(Row(wide.begin(), wide.begin() + 74)));
  // Byte 73's four low bits are pixels 588..591 and are never coded.
  Row edge(74, 0x00);
  edge[73] = 0x0F;
  EXPECT_EQ(encode(edge), encode(Row(74, 0x00)));
  // Pixel 587 black: its run ends the line with no white after it, then EOL.
  edge[73] = 0x10;
  std::uint32_t bits = 0;
  const Bytes code = encode(edge, &bits);
  EXPECT_EQ(bitText(code, bits),
            "01101000"
            "01000"
            "010"
            "000000000001");
  // The longest line: 588 runs of one pixel, beginning black.
  encode(Row(74, 0xAA), &bits);
  EXPECT_EQ(bits, mh::kMaxLineBits);
}

TEST(MhLineEncoder, ConsecutiveLinesRunOnInsideBytes) {
  Bytes buffer(16, 0);
  std::uint32_t pos = 0;
  mh::encodeLine(hex("0F F0"), buffer.data(), pos);
  mh::encodeLine(hex("0F F0"), buffer.data(), pos);
  EXPECT_EQ(pos, 76u);
  const std::string line =
      "1011"
      "000101"
      "01101000"
      "00110101"
      "000000000001";
  EXPECT_EQ(bitText(buffer, 76), line + line);
  EXPECT_EQ(bitText(buffer, 128, 76), std::string(52, '0'));
}

TEST(MhLineEncoder, RunCodesMakeupThenTerminating) {
  EXPECT_EQ(runBits(0, mh::kWhite), "000000000001");
  EXPECT_EQ(runBits(0, mh::kBlack), "000000000001");
  EXPECT_EQ(runBits(0, 7), "000000000001");
  EXPECT_EQ(runBits(576, mh::kWhite),
            "01101000"
            "00110101");
  for (std::uint16_t k = 1; k <= 27; ++k) {
    const auto run = static_cast<std::uint16_t>(64 * k);
    for (mh::MhColour c : {mh::kWhite, mh::kBlack}) {
      EXPECT_EQ(runBits(run, c),
                entryBits(mh::colourCodes(c)[63u + k]) + entryBits(mh::colourCodes(c)[0]));
    }
  }
  // Colour 2 codes black.
  EXPECT_EQ(runBits(5, 2), runBits(5, mh::kBlack));
  // Extended make-up codes, shared by both colours.
  EXPECT_EQ(runBits(1792, mh::kWhite),
            "00000001000"
            "00110101");
  EXPECT_EQ(runBits(2560, mh::kBlack),
            "000000011111"
            "0000110111");
  // 5000 = 2560 + 2432 + 8.
  EXPECT_EQ(runBits(5000, mh::kWhite),
            "000000011111"
            "000000011101"
            "10011");
  // 65535 = 25 * 2560 + 1472 + 63.
  std::string longest;
  for (int i = 0; i < 25; ++i) longest += "000000011111";
  EXPECT_EQ(runBits(65535, mh::kBlack), longest +
                                            "0000001010101"
                                            "000001100111");
}

TEST(MhLineEncoder, WriteCodeOnlySetsItsBits) {
  Bytes buffer = hex("F0 00 00 00");
  std::uint32_t pos = 4;
  mh::writeCode(buffer.data(), pos, 0x0000, 0);
  EXPECT_EQ(pos, 4u);
  mh::writeCode(buffer.data(), pos, 0xFFFF, 3);  // bits above bitCount are not written
  EXPECT_EQ(pos, 7u);
  EXPECT_EQ(buffer, hex("FE 00 00 00"));
  mh::writeCode(buffer.data(), pos, 0x8001, 18);  // two zero bits, then the 16 bits
  EXPECT_EQ(pos, 25u);
  EXPECT_EQ(bitText(buffer, 32),
            "1111111"
            "00"
            "1000000000000001"
            "0000000");
}

TEST(MhLineEncoder, MissingInputsWriteNothing) {
  Bytes buffer(400, 0);
  std::uint32_t pos = 5;
  mh::encodeLine({}, buffer.data(), pos);
  mh::encodeLine(hex("0F"), nullptr, pos);
  mh::codeRun(nullptr, pos, 10, mh::kWhite);
  mh::writeCode(nullptr, pos, 1, 12);
  EXPECT_EQ(pos, 5u);
  EXPECT_EQ(buffer, Bytes(400, 0));
}

TEST(MhLineEncoder, MatchesTheSimplePerPixelCoderAtAnyStartingBit) {
  fakes::RowMaker pick(99);
  for (const Row& row : fakes::mixedRows(20240501, 4000)) {
    // Random bits before the start position must survive; bytes past the line's last
    // bit hold a canary that must not be touched.
    const std::uint32_t start = pick.below(4000);
    Bytes expected(start / 8 + mh::kMaxLineBits / 8 + 2, 0);
    for (std::uint32_t n = 0; n < start; ++n) {
      if (pick.below(2))
        expected[n / 8] = static_cast<std::uint8_t>(expected[n / 8] | 0x80 >> (n % 8));
    }
    Bytes actual = expected;
    const std::uint32_t end = simple::codeLine(row, expected, start);
    for (std::size_t i = (end + 7) / 8; i < actual.size(); ++i) actual[i] = 0xA5;
    std::uint32_t pos = start;
    mh::encodeLine(row, actual.data(), pos);
    ASSERT_EQ(pos, end) << fakes::toHex(row);
    ASSERT_LE(end - start, mh::kMaxLineBits);
    for (std::size_t i = (end + 7) / 8; i < actual.size(); ++i) {
      ASSERT_EQ(actual[i], 0xA5) << "byte " << i << " written past the line";
      actual[i] = 0;
    }
    ASSERT_EQ(actual, expected) << fakes::toHex(row) << " from bit " << start;
  }
}

}  // namespace
