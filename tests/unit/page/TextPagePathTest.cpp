#include "page/TextPagePath.h"

#include <gtest/gtest.h>

#include <cstring>

#include "PageTestSupport.h"
#include "page/BarcodeBuilders.h"

namespace {

using fakes::Bytes;
using fakes::concat;
using fakes::hex;
using fakes::toHex;
using pagetest::digits;
using pagetest::placeholder;
using pagetest::text;

constexpr std::uint32_t kSize = page::OutputBuffer::kSize;

class TextPagePath : public ::testing::Test {
 protected:
  /// Runs `stream` as a page through writeTextPage and returns the one write it made.
  Bytes send(const Bytes& stream) {
    page::PageBuffer buffer = page::PageBuffer::fromFileBytes(fakes::pageFile(stream));
    p.output.reset();
    const std::size_t before = p.writes().size();
    page::writeTextPage(buffer.stream(), *p.printer, p.output, p.settings, heightClass_);
    EXPECT_EQ(p.writes().size(), before + 1) << "one write per page";
    return p.writes().back();
  }

  /// The bytes buildQrCode / buildBarcode1D make for `data`, as the oracle.
  Bytes qr(const Bytes& data) {
    Bytes out(2000);
    std::uint32_t count = 0, consumed = 0;
    const Bytes ended = concat({data, hex("00")});
    EXPECT_TRUE(page::buildQrCode(out, count, ended, consumed, p.settings));
    out.resize(count);
    return out;
  }
  Bytes bar1D(std::uint8_t type, std::uint8_t heightClass, const Bytes& data) {
    Bytes out(2000);
    std::uint32_t count = 0, consumed = 0;
    const Bytes ended = concat({data, hex("00")});
    EXPECT_TRUE(page::buildBarcode1D(out, count, type, heightClass, ended, consumed, p.settings));
    out.resize(count);
    return out;
  }

  pagetest::PrinterPage p;
  std::uint8_t heightClass_ = 0;
};

TEST_F(TextPagePath, ShortPagesSendZeroBytes) {
  EXPECT_TRUE(send(text("123456789012345")).empty());
  EXPECT_TRUE(send(Bytes{}).empty());
  EXPECT_EQ(send(text("1234567890123456")), text("1234567890123456"));
}

TEST_F(TextPagePath, RastersAreDroppedWithTheirSeparator) {
  const Bytes raster = hex("1D 76 30 00 03 00 02 00 | 01 02 03 04 05 06");
  EXPECT_EQ(toHex(send(concat({raster, hex("0D 41")}))), "41");
  EXPECT_EQ(toHex(send(concat({raster, hex("0A 41")}))), "0A 41");
  // yL 0: the header and its separator go, nothing else is skipped.
  EXPECT_EQ(send(concat({text("ABCD"), hex("1D 76 30 00 05 00 00 00 0D"), text("EFGH")})),
            text("ABCDEFGH"));
  // Marker bytes inside image data are skipped with the raster.
  const Bytes hidden = concat({hex("1D 76 30 00 10 00 01 00"), placeholder(9), hex("41 0D")});
  EXPECT_EQ(send(concat({text("X"), hidden, text("YZ")})), text("XYZ"));
  // Commands other than rasters and placeholders pass unchanged, cuts included.
  const Bytes others = hex("1B 4D 00 1B 74 10 1D 21 11 1B 4A 20 1D 56 42 00 0C 00 00 00 1D 76");
  EXPECT_EQ(send(others), others);
}

TEST_F(TextPagePath, PlaceholderFieldsAreRead) {
  // 1D entry 5, GS ! 2, ESC J 20, twelve digits, then the stream goes on at 0D.
  const Bytes twelve = text("123456789012");
  const Bytes page =
      concat({placeholder(5), hex("1D 21 02 1B 4A 20"), twelve, hex("0D"), text("end")});
  EXPECT_EQ(send(page), concat({hex("1B 4A 20"), bar1D(5, 2, twelve), hex("0D"), text("end")}));
  EXPECT_EQ(heightClass_, 2);

  // QR code after the separator 0D; the stream goes on at 0A.
  EXPECT_EQ(send(concat({placeholder(9), hex("0D 41 42 43 0A"), text("0123456789")})),
            concat({qr(text("ABC")), hex("0A"), text("0123456789")}));
  // No size, separator or feed: the data starts at offset 15.
  EXPECT_EQ(send(concat({placeholder(9), text("0AB"), hex("00"), text("0123456789")})),
            concat({qr(text("0AB")), hex("00"), text("0123456789")}));
  // Empty data: the builder's empty symbol, then the 0D that ended it is copied.
  EXPECT_EQ(send(concat({placeholder(9), hex("0D 0D"), text("0123456789")})),
            concat({qr({}), hex("0D"), text("0123456789")}));
  // No separator is skipped after GS !: a 0D there ends the data at once.
  EXPECT_EQ(send(concat({placeholder(9), hex("1D 21 01 0D 41"), text("0123456789")})),
            concat({qr({}), hex("0D 41"), text("0123456789")}));
}

TEST_F(TextPagePath, HeightClassCarriesAcrossPlaceholdersAndPages) {
  const Bytes withSize = concat({placeholder(2), hex("1D 21 03"), text("111"), hex("0D")});
  const Bytes without = concat({placeholder(2), hex("0D"), text("222"), hex("0D")});
  EXPECT_EQ(send(concat({withSize, without})),
            concat({bar1D(2, 3, text("111")), hex("0D"), bar1D(2, 3, text("222")), hex("0D")}));
  // A later page of the same job keeps it.
  EXPECT_EQ(send(concat({without, text("--")})),
            concat({bar1D(2, 3, text("222")), hex("0D"), text("--")}));
  // A QR placeholder's GS ! sets it too, for the 1D barcodes after it.
  EXPECT_EQ(send(concat({placeholder(9), hex("1D 21 02 41 0D"), without})),
            concat({qr(text("A")), hex("0D"), bar1D(2, 2, text("222")), hex("0D")}));
  EXPECT_EQ(heightClass_, 2);
}

TEST_F(TextPagePath, RefusedBarcodeLeavesFeedAndDataAfterItsFirstByte) {
  const Bytes data = digits(900);
  const Bytes sent = send(concat({placeholder(3), hex("1B 4A 20"), data, hex("0D")}));
  EXPECT_EQ(sent, concat({hex("1B 4A 20"), Bytes(data.begin() + 1, data.end()), hex("0D")}));
  // 899 characters are still a barcode (2D: 1D data that long builds no command).
  const Bytes ok = send(concat({placeholder(9), digits(899), hex("0D")}));
  EXPECT_EQ(ok, concat({qr(digits(899)), hex("0D")}));
}

// 1D data of 256 or more characters, or a type without a table entry: nothing at all is
// sent for the placeholder, and the walk goes on behind its data.
TEST_F(TextPagePath, UnbuildableOneDimensionalBarcodeIsDroppedWithItsData) {
  EXPECT_EQ(send(concat({text("<"), placeholder(4), hex("1B 4A 10"), digits(300), text("\r>")})),
            concat({text("<"), hex("1B 4A 10"), text("\r>")}));
  EXPECT_EQ(send(concat({text("0123456789<"), placeholder(11), hex("0D 41 42 0A")})),
            concat({text("0123456789<"), hex("0A")}));
}

// The page's opening plain bytes are sent from the page buffer itself when the whole
// output fits there (stream, margin and file tail); when the barcodes make it longer, the
// write comes from the output buffer. Both send the bytes the walk builds.
TEST_F(TextPagePath, OutputThatOutgrowsThePageBufferIsSentTheSame) {
  const Bytes qrEmpty = concat({placeholder(9), hex("0D")});  // 16 bytes become 49
  const Bytes code128 = concat({placeholder(8), hex("0D")});  // 16 bytes become 17
  for (int grown : {0, 1, 255, 256, 257, 300}) {
    Bytes page = text("Opening plain text that stays where it is.\n");
    for (int g = 0; g + 33 <= grown; g += 33) page = concat({page, qrEmpty});
    for (int g = grown / 33 * 33; g < grown; ++g) page = concat({page, code128});
    page = concat({page, text("\nclosing text")});

    page::PageBuffer oracle = page::PageBuffer::fromFileBytes(fakes::pageFile(page));
    page::OutputBuffer built = page::OutputBuffer::allocate();
    std::uint8_t hc = 0;
    page::buildTextPage(oracle.stream(), built, p.settings, hc);
    ASSERT_EQ(built.outLen, page.size() + static_cast<std::size_t>(grown));

    EXPECT_EQ(toHex(send(page)), toHex(Bytes(built.data(), built.data() + built.outLen)))
        << "grown by " << grown;
  }
}

TEST_F(TextPagePath, BytesAlreadyInTheOutputBufferGoFirst) {
  page::PageBuffer buffer = page::PageBuffer::fromFileBytes(
      fakes::pageFile(concat({text("0123456789ABCDEF"), placeholder(9), hex("0D")})));
  p.output.reset();
  std::memcpy(p.output.data(), "xyz", 3);
  p.output.outLen = 3;
  page::writeTextPage(buffer.stream(), *p.printer, p.output, p.settings, heightClass_);
  EXPECT_EQ(p.writes().back(), concat({text("xyz0123456789ABCDEF"), qr({})}));
}

/// Starts the walk with the output buffer already filled to `outLen`.
class TextPageBound : public TextPagePath {
 protected:
  Bytes appended(std::uint32_t outLen, const Bytes& stream) {
    page::PageBuffer buffer = page::PageBuffer::fromFileBytes(fakes::pageFile(stream));
    p.output.outLen = outLen;
    page::buildTextPage(buffer.stream(), p.output, p.settings, heightClass_);
    EXPECT_LE(p.output.outLen, kSize);
    const std::uint8_t* d = p.output.data();
    return Bytes(d + outLen, d + p.output.outLen);
  }
};

TEST_F(TextPageBound, FeedAndPlainBytesStopBelowTheBufferSize) {
  // Type 11 builds nothing, so only the feed and the 0D behind the data are appended.
  const Bytes feedPage = concat({placeholder(11), hex("1B 4A 20 0D")});
  EXPECT_EQ(toHex(appended(0x4FFFFD, feedPage)), "0D");  // 0x4FFFFD + 3 is not below
  EXPECT_EQ(toHex(appended(0x4FFFFC, feedPage)), "1B 4A 20");
  EXPECT_EQ(p.output.outLen, 0x4FFFFFu);
  EXPECT_EQ(toHex(appended(0x4FFFFE, text("ABCDEFGHIJKLMNOP"))), "41");
  EXPECT_EQ(toHex(appended(0x4FFFFF, text("ABCDEFGHIJKLMNOP"))), "");
  EXPECT_EQ(appended(0x4FFFF0, text("ABCDEFGHIJKLMNOPQRST")), text("ABCDEFGHIJKLMNO"));
}

// A barcode that would pass the end of the buffer is dropped whole with its data; one
// that ends exactly at the end is kept.
// A page longer than the buffer: its first 0x4FFFFF bytes are sent, and the placeholder
// behind them, with no room left, is dropped with its data.
TEST_F(TextPageBound, PageLongerThanTheBufferIsCutAtItsBound) {
  Bytes page(kSize + 10, 'a');
  page = concat({page, placeholder(9), text("DATA"), hex("0D")});
  const Bytes sent = send(page);
  ASSERT_EQ(sent.size(), kSize - 1);
  EXPECT_EQ(sent, Bytes(kSize - 1, 'a'));
}

TEST_F(TextPageBound, BarcodeThatDoesNotFitIsDroppedWhole) {
  const Bytes page = concat({placeholder(9), text("ABCD"), hex("0D"), text("0123456789")});
  const Bytes symbol = qr(text("ABCD"));  // 53 bytes
  EXPECT_EQ(appended(kSize - 53, page), symbol);
  EXPECT_EQ(p.output.outLen, kSize);
  EXPECT_EQ(toHex(appended(kSize - 52, page)), "0D 30 31 32 33 34 35 36 37 38 39");
  EXPECT_EQ(p.output.outLen, kSize - 52 + 11);
}

// A raster or placeholder that claims more than the buffer holds ends the page; every
// read stays inside (the sanitizer build checks this).
TEST_F(TextPagePath, ClaimsPastTheBufferEndThePage) {
  EXPECT_EQ(send(concat({text("0123456789ABCDEF"), hex("1D 76 30 00 FF 00 FF 00 41 42")})),
            text("0123456789ABCDEF"));
  // A stream ending in 1D 76 30 meets the margin's zero: a raster of no data.
  EXPECT_EQ(send(concat({text("0123456789ABCDEF"), hex("1D 76 30")})), text("0123456789ABCDEF"));
  // A bare marker at the very end of the buffer: the data run stops at the buffer end.
  Bytes bare = concat({text("0123456789"), placeholder(9)});
  stream::StreamView view{bare.data(), static_cast<std::uint32_t>(bare.size()), bare.size()};
  p.output.reset();
  page::buildTextPage(view, p.output, p.settings, heightClass_);
  EXPECT_EQ(Bytes(p.output.data(), p.output.data() + p.output.outLen),
            concat({text("0123456789"), qr({})}));
}

}  // namespace
