// The stream parser: which items come out of which bytes, and what it reports.
#include "StreamParser.h"

#include <gtest/gtest.h>

#include "PreviewTestSupport.h"

namespace preview {
namespace {

using test::concat;
using test::hex;

ParseResult parse(const std::vector<std::uint8_t>& stream, bool placeholders = false) {
  ParseOptions options;
  options.placeholders = placeholders;
  return parseStream(stream, options);
}

template <typename T>
std::vector<T> itemsOf(const ParseResult& result) {
  std::vector<T> found;
  for (const PrintItem& item : result.items) {
    if (const T* each = std::get_if<T>(&item)) found.push_back(*each);
  }
  return found;
}

std::u32string allText(const ParseResult& result) {
  std::u32string text;
  for (const TextItem& item : itemsOf<TextItem>(result)) text += item.text;
  return text;
}

bool hasMessage(const ParseResult& result, const std::string& line) {
  return std::find(result.messages.begin(), result.messages.end(), line) != result.messages.end();
}

std::string allMessages(const ParseResult& result) {
  std::string text;
  for (const std::string& line : result.messages) text += line + "\n";
  return text;
}

const auto kQrSequence =
    hex("1D 28 6B 04 00 31 41 32 00 | 1D 28 6B 03 00 31 43 03 | 1D 28 6B 03 00 31 45 30 |"
        "1D 28 6B 07 00 31 50 30 41 42 31 32 | 1D 28 6B 03 00 31 51 30 | 1D 28 6B 03 00 31 52 30");
const auto kPdf417Sequence = hex(
    "1D 28 6B 03 00 30 41 00 1D 28 6B 03 00 30 42 00 1D 28 6B 03 00 30 43 03 1D 28 6B 03 00 30 "
    "44 03 1D 28 6B 04 00 30 45 30 01 1D 28 6B 03 00 30 46 00 1D 28 6B 07 00 30 50 30 41 42 31 32 "
    "1D 28 6B 03 00 30 51 30 1D 28 6B 03 00 30 52 30");
const auto kCode128Sequence = hex("1D 68 64 1D 77 03 1D 66 00 1D 48 02 1D 6B 49 04 41 42 31 32 0A");

TEST(StreamParserTest, ListsUnknownCommandsWithTheirOffsets) {
  // "AB", ESC z, 01, "C", GS 0x99, NUL (the end-of-document byte), BEL, "D"
  const ParseResult result = parse(hex("41 42 1B 7A 01 43 1D 99 00 07 44"));
  EXPECT_EQ(result.messages,
            (std::vector<std::string>{
                "unknown command 1B 7A at offset 2", "unknown command 01 at offset 4",
                "unknown command 1D 99 at offset 6", "unknown command 07 at offset 9"}))
      << allMessages(result);
  EXPECT_EQ(allText(result), U"ABCD");
}

TEST(StreamParserTest, ReportsOffsetsInThePageFile) {
  ParseOptions options;
  options.baseOffset = 5;
  const ParseResult result = parseStream(hex("41 1B 7A"), options);
  EXPECT_TRUE(hasMessage(result, "unknown command 1B 7A at offset 6")) << allMessages(result);
}

TEST(StreamParserTest, StepsOverKnownCommandsAndCountsThemOnce) {
  const ParseResult result = parse(hex("1B 61 01 41 1B 61 00 42 1B 45 01 43 1B 70 00 19 FA 44"));
  EXPECT_EQ(allText(result), U"ABCD");
  EXPECT_TRUE(hasMessage(result, "skipped 1B 61 (justification): 2 times, first at offset 0"))
      << allMessages(result);
  EXPECT_TRUE(hasMessage(result, "skipped 1B 45 (emphasis): 1 time, first at offset 8"))
      << allMessages(result);
  EXPECT_EQ(result.messages.size(), 2u) << "the drawer pulse changes nothing on paper";
}

TEST(StreamParserTest, ReadsTheQrSequence) {
  const ParseResult result = parse(kQrSequence);
  const auto symbols = itemsOf<QrItem>(result);
  ASSERT_EQ(symbols.size(), 1u);
  EXPECT_EQ(symbols[0].data, "AB12");
  EXPECT_EQ(symbols[0].model, 0x32);
  EXPECT_EQ(symbols[0].moduleSize, 3u);
  EXPECT_EQ(symbols[0].errorLevel, 0);
  EXPECT_TRUE(result.messages.empty()) << allMessages(result);
}

TEST(StreamParserTest, ReadsThePdf417Sequence) {
  const ParseResult result = parse(kPdf417Sequence);
  const auto symbols = itemsOf<Pdf417Item>(result);
  ASSERT_EQ(symbols.size(), 1u);
  EXPECT_EQ(symbols[0].data, "AB12");
  EXPECT_EQ(symbols[0].columns, 0u);
  EXPECT_EQ(symbols[0].rows, 0u);
  EXPECT_EQ(symbols[0].moduleWidth, 3u);
  EXPECT_EQ(symbols[0].rowHeight, 3u);
  EXPECT_EQ(symbols[0].errorLevel, -1);
  EXPECT_FALSE(symbols[0].truncated);
  // The relay's own 30 01 is drawn with the automatic level, as the legend says: the
  // stream is correct, so nothing is reported.
  EXPECT_TRUE(result.messages.empty()) << allMessages(result);
}

TEST(StreamParserTest, ReadsAPdf417ErrorLevel) {
  // error correction level 5, store "XY", print
  const ParseResult result =
      parse(hex("1D 28 6B 04 00 30 45 30 35 | 1D 28 6B 05 00 30 50 30 58 59 | "
                "1D 28 6B 03 00 30 51 30"));
  const auto symbols = itemsOf<Pdf417Item>(result);
  ASSERT_EQ(symbols.size(), 1u);
  EXPECT_EQ(symbols[0].errorLevel, 5);
  EXPECT_EQ(symbols[0].data, "XY");
  EXPECT_TRUE(result.messages.empty()) << allMessages(result);
}

TEST(StreamParserTest, ReadsTheCode128Sequence) {
  const ParseResult result = parse(kCode128Sequence);
  const auto barcodes = itemsOf<Barcode1DItem>(result);
  ASSERT_EQ(barcodes.size(), 1u);
  EXPECT_EQ(barcodes[0].system, 0x49);
  EXPECT_EQ(barcodes[0].data, "AB12");
  EXPECT_EQ(barcodes[0].height, 100u);
  EXPECT_EQ(barcodes[0].moduleWidth, 3u);
  EXPECT_EQ(barcodes[0].hriFont, 0);
  EXPECT_EQ(barcodes[0].hriPosition, 2);
  EXPECT_EQ(itemsOf<LineFeedItem>(result).size(), 1u);
}

TEST(StreamParserTest, ReadsTheOlderBarcodeFormWithATerminatingNul) {
  // GS k 2 (EAN-13) with its data ended by NUL
  const ParseResult result = parse(hex("1D 6B 02 34 39 30 31 32 33 34 35 36 37 38 39 00 41"));
  const auto barcodes = itemsOf<Barcode1DItem>(result);
  ASSERT_EQ(barcodes.size(), 1u);
  EXPECT_EQ(barcodes[0].system, 0x43);
  EXPECT_EQ(barcodes[0].data, "490123456789");
  EXPECT_EQ(allText(result), U"A");
}

TEST(StreamParserTest, InitialisingForgetsTheBarcodeSettings) {
  const ParseResult result = parse(hex("1D 68 64 1D 48 02 1B 40 1D 6B 49 02 41 42"));
  const auto barcodes = itemsOf<Barcode1DItem>(result);
  ASSERT_EQ(barcodes.size(), 1u);
  EXPECT_EQ(barcodes[0].height, 162u);
  EXPECT_EQ(barcodes[0].hriPosition, 0);
}

TEST(StreamParserTest, QrPrintWithoutDataIsReported) {
  const ParseResult result = parse(hex("1D 28 6B 03 00 31 51 30"));
  EXPECT_TRUE(itemsOf<QrItem>(result).empty());
  EXPECT_TRUE(hasMessage(result, "QR code print without stored data at offset 0"))
      << allMessages(result);
}

TEST(StreamParserTest, ReadsEveryFormOfCut) {
  const ParseResult result =
      parse(hex("1D 56 42 00 | 0C 00 00 00 | 1D 56 00 | 1D 56 31 | 1D 56 41 20 | 1B 69 | 1B 6D"));
  const auto cuts = itemsOf<CutItem>(result);
  ASSERT_EQ(cuts.size(), 7u) << allMessages(result);
  EXPECT_TRUE(cuts[0].partial);
  EXPECT_FALSE(cuts[1].partial);
  EXPECT_FALSE(cuts[2].partial);
  EXPECT_TRUE(cuts[3].partial);
  EXPECT_EQ(cuts[4].feedDots, 0x20u);
  EXPECT_TRUE(result.messages.empty()) << allMessages(result);
}

TEST(StreamParserTest, ReadsABandedRaster) {
  const ParseResult result = parse(hex("1D 76 30 00 02 00 03 00 0F F0 80 01 FF FF 0D"));
  const auto rasters = itemsOf<RasterItem>(result);
  ASSERT_EQ(rasters.size(), 1u);
  EXPECT_EQ(rasters[0].widthDots, 16u);
  EXPECT_EQ(rasters[0].rows, 3u);
  EXPECT_EQ(rasters[0].bits, hex("0F F0 80 01 FF FF"));
  EXPECT_TRUE(result.messages.empty()) << allMessages(result);
}

TEST(StreamParserTest, ReportsATruncatedRaster) {
  const ParseResult result = parse(hex("41 1D 76 30 00 02 00 03 00 0F F0"));
  EXPECT_TRUE(itemsOf<RasterItem>(result).empty());
  EXPECT_TRUE(hasMessage(result, "truncated command 1D 76 at offset 1: needs 14 bytes, 10 left"))
      << allMessages(result);
}

TEST(StreamParserTest, DecodesTheCompressedRasterStream) {
  const ParseResult result = parse(hex(
      "01 39 36 02 AA 1D 76 30 00 02 00 02 00 B1 5A 0D 40 1D 76 30 00 01 00 01 00 04 01 39 36 02 "
      "CC"));
  const auto rasters = itemsOf<RasterItem>(result);
  ASSERT_EQ(rasters.size(), 1u) << allMessages(result);
  // The 12 white dots of padding past the printable width are left off.
  EXPECT_EQ(rasters[0].widthDots, 576u);
  EXPECT_EQ(rasters[0].rows, 1u);
  std::vector<std::uint8_t> expected = hex("0F F0");
  expected.resize(74, 0);
  EXPECT_EQ(rasters[0].bits, expected);
  EXPECT_TRUE(result.messages.empty()) << allMessages(result);
}

TEST(StreamParserTest, ACopiedByteEndsACompressedSegment) {
  // A white line (68 20 00 40) in two chunks, a copied ESC J 10, then the row 80 alone:
  // each segment is decoded on its own and the feed comes between them.
  const ParseResult result = parse(
      hex("01 39 36 02 AA 1D 76 30 00 02 00 01 00 68 20 1D 76 30 00 02 00 01 00 00 40 1B 4A 10 "
          "1D 76 30 00 05 00 01 00 35 4D 08 00 10 01 39 36 02 CC"));
  ASSERT_EQ(result.items.size(), 3u) << allMessages(result);
  EXPECT_EQ(std::get<RasterItem>(result.items[0]).rows, 1u);
  EXPECT_EQ(std::get<FeedItem>(result.items[1]).dots, 0x10u);
  EXPECT_EQ(std::get<RasterItem>(result.items[2]).bits[0], 0x80);
  EXPECT_TRUE(result.messages.empty()) << allMessages(result);
}

TEST(StreamParserTest, ReportsCompressedCodeThatDoesNotDecode) {
  const ParseResult result =
      parse(hex("01 39 36 02 AA 1D 76 30 00 02 00 01 00 B0 00 01 39 36 02 CC"));
  EXPECT_TRUE(itemsOf<RasterItem>(result).empty());
  // White 4, then code that runs out: libtiff's decoder says so.
  ASSERT_FALSE(result.messages.empty());
  EXPECT_EQ(result.messages[0].rfind("compressed raster at offset 5: Fax3Decode1D: ", 0), 0u)
      << allMessages(result);
}

TEST(StreamParserTest, ReportsAnUnclosedCompressedStream) {
  const ParseResult result = parse(hex("01 39 36 02 AA 1D 76 30 00 04 00 01 00 68 20 00 40"));
  EXPECT_EQ(itemsOf<RasterItem>(result).size(), 1u);
  EXPECT_TRUE(
      hasMessage(result, "compressed raster stream from offset 0 has no end (01 39 36 02 CC)"))
      << allMessages(result);
}

TEST(StreamParserTest, ReadsAPlaceholderInAPageFile) {
  const auto stream =
      hex("98 07 98 07 98 07 98 07 98 07 98 07 98 07 05 1D 21 02 1B 4A 20 "
          "31 32 33 34 35 36 37 38 39 30 31 32 0D 41");
  const ParseResult result = parse(stream, true);
  ASSERT_EQ(result.items.size(), 3u) << allMessages(result);
  EXPECT_EQ(std::get<FeedItem>(result.items[0]).dots, 0x20u);
  const auto& placeholder = std::get<PlaceholderItem>(result.items[1]);
  EXPECT_EQ(placeholder.barcodeType, 5);
  EXPECT_EQ(placeholder.heightClass, 2);
  EXPECT_EQ(placeholder.data, "123456789012");
  EXPECT_EQ(std::get<TextItem>(result.items[2]).text, U"A");
}

TEST(StreamParserTest, ReadsAQrPlaceholderAfterItsSeparator) {
  const auto stream = hex("98 07 98 07 98 07 98 07 98 07 98 07 98 07 09 0D 41 42 43 0A");
  const auto placeholders = itemsOf<PlaceholderItem>(parse(stream, true));
  ASSERT_EQ(placeholders.size(), 1u);
  EXPECT_EQ(placeholders[0].barcodeType, 9);
  EXPECT_EQ(placeholders[0].heightClass, -1);
  EXPECT_EQ(placeholders[0].data, "ABC");
}

TEST(StreamParserTest, TextFollowsTheCharacterSizeAndCodeTable) {
  // GS ! 0x11, "A", GS ! 0, ESC t 16, 0x80 (the euro sign in WPC1252), ESC t 0, 0x80
  const ParseResult result = parse(hex("1D 21 11 41 1D 21 00 1B 74 10 80 1B 74 00 80"));
  const auto texts = itemsOf<TextItem>(result);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].text, U"A");
  EXPECT_EQ(texts[0].style.widthScale, 2);
  EXPECT_EQ(texts[0].style.heightScale, 2);
  EXPECT_EQ(texts[1].text, U"\u20AC\u00C7");
  EXPECT_EQ(texts[1].style.widthScale, 1);
}

}  // namespace
}  // namespace preview
