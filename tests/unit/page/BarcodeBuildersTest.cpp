#include "page/BarcodeBuilders.h"

#include <gtest/gtest.h>

#include "PageTestSupport.h"

namespace {

using fakes::Bytes;
using fakes::concat;
using fakes::hex;
using fakes::toHex;
using pagetest::digits;

enum class Kind { k1D, kQr, kPdf417 };

/// What one builder call gave: its result, both counts and the bytes it wrote.
struct Built {
  bool ok = false;
  std::uint32_t outCount = 0xDEAD;  // a builder that fails must leave this alone
  std::uint32_t consumed = 0xDEAD;
  Bytes bytes;
};

class BarcodeBuilders : public ::testing::Test {
 protected:
  Built build(Kind kind, const Bytes& data, std::uint8_t type = 8, std::uint8_t heightClass = 0,
              std::size_t room = 2000) {
    Built r;
    Bytes out(room, 0xEE);
    switch (kind) {
      case Kind::k1D:
        r.ok = page::buildBarcode1D(out, r.outCount, type, heightClass, data, r.consumed, settings);
        break;
      case Kind::kQr:
        r.ok = page::buildQrCode(out, r.outCount, data, r.consumed, settings);
        break;
      case Kind::kPdf417:
        r.ok = page::buildPdf417(out, r.outCount, data, r.consumed, settings);
        break;
    }
    // Whatever was written lies before the first untouched byte.
    std::size_t used = out.size();
    while (used > 0 && out[used - 1] == 0xEE) --used;
    r.bytes.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(used));
    return r;
  }

  page::PrinterSettings settings = pagetest::defaultSettings();
};

TEST_F(BarcodeBuilders, WorkedExamplesWithDefaultSettings) {
  const Bytes data = hex("41 42 31 32 0D");
  Built qr = build(Kind::kQr, data);
  ASSERT_TRUE(qr.ok);
  EXPECT_EQ(qr.outCount, 53u);
  EXPECT_EQ(qr.consumed, 4u);
  EXPECT_EQ(toHex(qr.bytes),
            "1D 28 6B 04 00 31 41 32 00 1D 28 6B 03 00 31 43 03 1D 28 6B 03 00 31 45 30 "
            "1D 28 6B 07 00 31 50 30 41 42 31 32 1D 28 6B 03 00 31 51 30 1D 28 6B 03 00 31 52 30");

  Built pdf = build(Kind::kPdf417, data);
  ASSERT_TRUE(pdf.ok);
  EXPECT_EQ(pdf.outCount, 77u);
  EXPECT_EQ(pdf.consumed, 4u);
  EXPECT_EQ(toHex(pdf.bytes),
            "1D 28 6B 03 00 30 41 00 1D 28 6B 03 00 30 42 00 1D 28 6B 03 00 30 43 03 "
            "1D 28 6B 03 00 30 44 03 1D 28 6B 04 00 30 45 30 01 1D 28 6B 03 00 30 46 00 "
            "1D 28 6B 07 00 30 50 30 41 42 31 32 1D 28 6B 03 00 30 51 30 1D 28 6B 03 00 30 52 30");

  Built bar = build(Kind::k1D, data, 8, 2);
  ASSERT_TRUE(bar.ok);
  EXPECT_EQ(bar.outCount, 21u);
  EXPECT_EQ(bar.consumed, 4u);
  EXPECT_EQ(toHex(bar.bytes), "1D 68 64 1D 77 03 1D 66 00 1D 48 02 1D 6B 49 04 41 42 31 32 0A");
}

TEST_F(BarcodeBuilders, EmptyDataBuildsEmptySymbols) {
  const Bytes cr = hex("0D 41");
  Built bar = build(Kind::k1D, cr, 0);
  ASSERT_TRUE(bar.ok);
  EXPECT_EQ(bar.outCount, 17u);
  EXPECT_EQ(bar.consumed, 0u);
  EXPECT_EQ(toHex(Bytes(bar.bytes.end() - 5, bar.bytes.end())), "1D 6B 41 00 0A");

  Built qr = build(Kind::kQr, cr);
  ASSERT_TRUE(qr.ok);
  EXPECT_EQ(qr.outCount, 49u);
  EXPECT_EQ(toHex(Bytes(qr.bytes.begin() + 25, qr.bytes.begin() + 33)), "1D 28 6B 03 00 31 50 30");

  Built pdf = build(Kind::kPdf417, cr);
  ASSERT_TRUE(pdf.ok);
  EXPECT_EQ(pdf.outCount, 73u);
  EXPECT_EQ(toHex(Bytes(pdf.bytes.begin() + 49, pdf.bytes.begin() + 57)),
            "1D 28 6B 03 00 30 50 30");
  EXPECT_EQ(pdf.consumed, 0u);
}

TEST_F(BarcodeBuilders, DataIsTheRunFromAsteriskToClosingBrace) {
  EXPECT_EQ(page::barcodeDataLength(hex("2A 7D 41 29")), 3u);
  EXPECT_EQ(page::barcodeDataLength(hex("2A 7D 41 7E")), 3u);
  EXPECT_EQ(page::barcodeDataLength(hex("29 41")), 0u);
  EXPECT_EQ(page::barcodeDataLength(hex("41 42")), 2u);  // the end of the bytes ends it too
  EXPECT_EQ(page::barcodeDataLength(concat({digits(5000), hex("00")})), 900u);  // stops at 900

  // Every byte value at every place of longer runs, which are counted in words and in
  // blocks of 64, alone and with a byte that ends the run two places further on, in the
  // same word or block or the next.
  for (std::size_t length : {20u, 150u}) {
    for (int b = 0; b < 256; ++b) {
      const bool isData = b >= 0x2A && b <= 0x7D;
      for (std::size_t k = 0; k < length; ++k) {
        Bytes data = concat({digits(length), hex("0D")});
        data[k] = static_cast<std::uint8_t>(b);
        ASSERT_EQ(page::barcodeDataLength(data), isData ? length : k) << b << " at " << k;
        if (k + 2 >= length) continue;
        data[k + 2] = 0x7E;
        ASSERT_EQ(page::barcodeDataLength(data), isData ? k + 2 : k) << b << " at " << k;
      }
    }
  }

  Built qr = build(Kind::kQr, hex("2A 7D 7E"));
  ASSERT_TRUE(qr.ok);
  EXPECT_EQ(qr.consumed, 2u);
  EXPECT_EQ(toHex(Bytes(qr.bytes.begin() + 33, qr.bytes.begin() + 36)), "2A 7D 1D");
}

TEST_F(BarcodeBuilders, NineHundredCharactersAreRefused) {
  for (Kind kind : {Kind::kQr, Kind::kPdf417, Kind::k1D}) {
    Built ok = build(kind, concat({digits(899), hex("0D")}));
    Built refused = build(kind, concat({digits(900), hex("0D")}));
    EXPECT_TRUE(ok.ok);
    EXPECT_EQ(ok.consumed, 899u);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.consumed, 0u);
    EXPECT_EQ(refused.outCount, 0xDEADu);
    EXPECT_TRUE(refused.bytes.empty());
  }
  Built qr = build(Kind::kQr, concat({digits(899), hex("0D")}));
  EXPECT_EQ(qr.outCount, 899u + 49);
  EXPECT_EQ(toHex(Bytes(qr.bytes.begin() + 28, qr.bytes.begin() + 30)), "86 03");  // 902
}

TEST_F(BarcodeBuilders, TwoDimensionalCountsAreSixteenBit) {
  const Bytes data = concat({digits(300), hex("00")});
  Built qr = build(Kind::kQr, data);
  Built pdf = build(Kind::kPdf417, data);
  ASSERT_TRUE(qr.ok && pdf.ok);
  EXPECT_EQ(toHex(Bytes(qr.bytes.begin() + 28, qr.bytes.begin() + 30)), "2F 01");
  EXPECT_EQ(toHex(Bytes(pdf.bytes.begin() + 52, pdf.bytes.begin() + 54)), "2F 01");
  EXPECT_EQ(pdf.outCount, 373u);
  EXPECT_EQ(Bytes(qr.bytes.begin() + 33, qr.bytes.begin() + 333), digits(300));
}

TEST_F(BarcodeBuilders, BarHeightFollowsTheHeightClass) {
  const std::pair<std::uint8_t, std::uint8_t> cases[] = {
      {0, 0xFA}, {1, 0x32}, {2, 0x64}, {3, 0x96}, {4, 0xC8}, {5, 0xFA}, {255, 0xFA}};
  for (auto [heightClass, dots] : cases) {
    Built bar = build(Kind::k1D, hex("31 00"), 4, heightClass);
    ASSERT_TRUE(bar.ok);
    EXPECT_EQ(bar.bytes[2], dots) << int{heightClass};
  }
}

TEST_F(BarcodeBuilders, OneDimensionalParametersComeFromTheTypesEntry) {
  EXPECT_EQ(build(Kind::k1D, hex("31 00"), 2).bytes[14], 0x43);
  // Entry 6 rewritten: barcodeSystem 200 (+65 wraps to 9), width 5, position 1, font 1.
  settings.barcodeTable[8 + 16 * 6] = 200;
  settings.barcodeTable[17 + 16 * 6] = 5;
  settings.barcodeTable[18 + 16 * 6] = 1;
  settings.barcodeTable[19 + 16 * 6] = 1;
  EXPECT_EQ(toHex(build(Kind::k1D, hex("31 32 00"), 6, 1).bytes),
            "1D 68 32 1D 77 05 1D 66 01 1D 48 01 1D 6B 09 02 31 32 0A");
}

TEST_F(BarcodeBuilders, TwoDimensionalParametersWrap) {
  settings.twoDCode = {0xFF, 0x03, 0xFE, 0x10, 0xD0};
  Built qr = build(Kind::kQr, hex("41 00"));
  EXPECT_EQ(qr.bytes[16], 0x00);  // module size 255 + 1
  EXPECT_EQ(qr.bytes[24], 0x33);  // error level 3 + 48
  Built pdf = build(Kind::kPdf417, hex("41 00"));
  EXPECT_EQ(pdf.bytes[23], 0x00);  // module width 254 + 2
  EXPECT_EQ(pdf.bytes[31], 0x12);  // row height 16 + 2
  EXPECT_EQ(pdf.bytes[39], 0x00);  // error mode 208 + 48
  EXPECT_EQ(pdf.bytes[40], 0x01);
}

// GS k counts in one byte. 255 characters still fit; from 256 on no symbol is sent
// (a cut one would encode other content), and the whole run is consumed.
TEST_F(BarcodeBuilders, OneDimensionalDataBeyondTheCountByteBuildsNothing) {
  Built full = build(Kind::k1D, concat({digits(255), hex("00")}), 8);
  ASSERT_TRUE(full.ok);
  EXPECT_EQ(full.outCount, 272u);
  EXPECT_EQ(full.bytes[15], 0xFF);
  for (std::size_t n : {256u, 511u, 899u}) {
    Built over = build(Kind::k1D, concat({digits(n), hex("00")}), 8);
    EXPECT_TRUE(over.ok);
    EXPECT_EQ(over.outCount, 0u);
    EXPECT_EQ(over.consumed, n);
    EXPECT_TRUE(over.bytes.empty());
  }
}

// The table holds entries 0..10; a type above that builds nothing and consumes its data.
TEST_F(BarcodeBuilders, TypeWithoutTableEntryBuildsNothing) {
  for (int type : {11, 12, 255}) {
    Built bar = build(Kind::k1D, hex("31 32 33 0D"), static_cast<std::uint8_t>(type));
    EXPECT_TRUE(bar.ok);
    EXPECT_EQ(bar.outCount, 0u);
    EXPECT_EQ(bar.consumed, 3u);
    EXPECT_TRUE(bar.bytes.empty());
  }
  // Entries 9 and 10 exist in the table and are used as they stand.
  settings.barcodeTable[8 + 16 * 10] = 3;
  EXPECT_EQ(build(Kind::k1D, hex("31 00"), 10).bytes[14], 0x44);
}

TEST_F(BarcodeBuilders, MissingPositionsAndShortRoomWriteNothing) {
  std::uint32_t count = 7;
  std::uint32_t consumed = 9;
  Bytes out(100, 0xEE);
  const Bytes data = hex("41 42 00");
  EXPECT_FALSE(page::buildQrCode({}, count, data, consumed, settings));
  EXPECT_FALSE(page::buildPdf417(out, count, {}, consumed, settings));
  EXPECT_FALSE(page::buildBarcode1D({}, count, 1, 0, data, consumed, settings));
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(consumed, 9u);

  // One byte short of the sequence: nothing is written.
  EXPECT_FALSE(page::buildQrCode(std::span(out).first(50), count, data, consumed, settings));
  EXPECT_FALSE(
      page::buildBarcode1D(std::span(out).first(18), count, 1, 0, data, consumed, settings));
  EXPECT_EQ(consumed, 0u);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(out, Bytes(100, 0xEE));
  // Exactly the sequence's size is enough.
  EXPECT_TRUE(page::buildPdf417(std::span(out).first(75), count, data, consumed, settings));
  EXPECT_EQ(count, 75u);
}

}  // namespace
