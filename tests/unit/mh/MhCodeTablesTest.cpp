#include "mh/MhCodeTables.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using mh::MhCodeEntry;

/// The code word as its bits, e.g. "00110101".
std::string bits(const MhCodeEntry& e) {
  std::string s;
  for (int k = e.bitCount - 1; k >= 0; --k) s += ((e.code >> k) & 1) ? '1' : '0';
  return s;
}

TEST(MhCodeTables, EdgeEntriesAreTheT4CodeWords) {
  EXPECT_EQ(bits(mh::whiteCodes[0]), "00110101");
  EXPECT_EQ(mh::whiteCodes[0].code, 0x35);
  EXPECT_EQ(bits(mh::blackCodes[0]), "0000110111");
  EXPECT_EQ(mh::blackCodes[0].code, 0x37);
  EXPECT_EQ(bits(mh::whiteCodes[63]), "00110100");
  EXPECT_EQ(bits(mh::blackCodes[63]), "000001100111");
  EXPECT_EQ(bits(mh::whiteCodes[64]), "11011");  // 64
  EXPECT_EQ(bits(mh::blackCodes[64]), "0000001111");
  EXPECT_EQ(bits(mh::whiteCodes[72]), "01101000");  // 576
  EXPECT_EQ(bits(mh::blackCodes[72]), "0000001101101");
  EXPECT_EQ(mh::whiteCodes[90].runLength, 1728);
  EXPECT_EQ(bits(mh::whiteCodes[90]), "010011011");
  EXPECT_EQ(mh::blackCodes[90].runLength, 1728);
  EXPECT_EQ(bits(mh::blackCodes[90]), "0000001100101");
  EXPECT_EQ(bits(mh::extendedMakeupCodes[0]), "00000001000");  // 1792
  EXPECT_EQ(mh::extendedMakeupCodes[12].runLength, 2560);
  EXPECT_EQ(bits(mh::extendedMakeupCodes[12]), "000000011111");
  EXPECT_EQ(bits(mh::kEndOfLine), "000000000001");
}

TEST(MhCodeTables, LookupsIndexTheEntriesTheSearchesWouldFind) {
  // The make-up search: the entry among 64..90 with runLength <= d < runLength + 64.
  for (std::uint32_t d = 64; d <= 1791; ++d) {
    const MhCodeEntry& e = mh::makeupCode(mh::kWhite, d);
    EXPECT_TRUE(e.runLength <= d && d < e.runLength + 64u) << d;
    EXPECT_EQ(&mh::makeupCode(mh::kBlack, d), &mh::blackCodes[63 + d / 64]);
  }
  EXPECT_EQ(mh::makeupCode(mh::kWhite, 64).runLength, 64);
  EXPECT_EQ(mh::makeupCode(mh::kWhite, 127).runLength, 64);
  EXPECT_EQ(mh::makeupCode(mh::kBlack, 1791).runLength, 1728);
  for (std::uint32_t d = 1792; d <= 2559; ++d) {
    const MhCodeEntry& e = mh::extendedMakeupCode(d);
    EXPECT_TRUE(e.runLength <= d && d < e.runLength + 64u) << d;
  }
  for (std::uint32_t r = 0; r < 64; ++r) {
    EXPECT_EQ(mh::terminatingCode(mh::kWhite, r).runLength, r);
    EXPECT_EQ(&mh::terminatingCode(mh::kBlack, r), &mh::blackCodes[r]);
  }
}

TEST(MhCodeTables, BuildersAndColoursSelectTheTables) {
  EXPECT_EQ(&mh::buildWhiteCodes(), &mh::whiteCodes);
  EXPECT_EQ(&mh::buildBlackCodes(), &mh::blackCodes);
  EXPECT_EQ(&mh::buildExtendedMakeupCodes(), &mh::extendedMakeupCodes);
  EXPECT_EQ(&mh::colourCodes(1), &mh::whiteCodes);
  EXPECT_EQ(&mh::colourCodes(0), &mh::blackCodes);
  EXPECT_EQ(&mh::colourCodes(2), &mh::blackCodes);
  EXPECT_EQ(&mh::colourCodes(255), &mh::blackCodes);
  EXPECT_EQ(bits(mh::terminatingCode(2, 0)), "0000110111");
}

}  // namespace
