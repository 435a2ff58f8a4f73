// Barcodes in the preview, read back from the PNG file by zxing-cpp's reader and by the
// ZXingReader program.
#include <ZXing/ReadBarcode.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <utility>

#include "PreviewTestSupport.h"

namespace preview {
namespace {

using test::concat;
using test::hex;

const auto kQrSequence =
    hex("1D 28 6B 04 00 31 41 32 00 | 1D 28 6B 03 00 31 43 03 | 1D 28 6B 03 00 31 45 30 |"
        "1D 28 6B 07 00 31 50 30 41 42 31 32 | 1D 28 6B 03 00 31 51 30 | 1D 28 6B 03 00 31 52 30");
const auto kPdf417Sequence = hex(
    "1D 28 6B 03 00 30 41 00 1D 28 6B 03 00 30 42 00 1D 28 6B 03 00 30 43 03 1D 28 6B 03 00 30 "
    "44 03 1D 28 6B 04 00 30 45 30 01 1D 28 6B 03 00 30 46 00 1D 28 6B 07 00 30 50 30 41 42 31 32 "
    "1D 28 6B 03 00 30 51 30 1D 28 6B 03 00 30 52 30");
const auto kCode128Sequence = hex("1D 68 64 1D 77 03 1D 66 00 1D 48 02 1D 6B 49 04 41 42 31 32 0A");
const auto kLineFeed = hex("0A");

using Found = std::set<std::pair<std::string, std::string>>;

ZXing::Results readAll(const test::GreyImage& image) {
  return ZXing::ReadBarcodes(ZXing::ImageView(image.pixels.data(), static_cast<int>(image.width),
                                              static_cast<int>(image.height),
                                              ZXing::ImageFormat::Lum));
}

/// Every symbol zxing-cpp finds in the picture: format and text.
Found readSymbols(const test::GreyImage& image) {
  Found found;
  for (const auto& result : readAll(image)) {
    found.insert({ZXing::ToString(result.format()), result.text()});
  }
  return found;
}

/// The preview of `stream` written by the command and read back from its PNG file.
test::GreyImage previewPng(const test::ScratchDir& dir, const std::vector<std::uint8_t>& stream) {
  dir.write("in.bin", stream);
  std::string diagnostics;
  const int code = test::runCommand({dir.path("in.bin"), "-o", dir.path("out.png")}, diagnostics);
  EXPECT_EQ(code, 0) << diagnostics;
  return test::readPng(dir.path("out.png"));
}

struct Box {
  std::uint32_t left = UINT32_MAX, top = UINT32_MAX, right = 0, bottom = 0;
  std::uint32_t width() const { return right >= left ? right - left + 1 : 0; }
  std::uint32_t height() const { return bottom >= top ? bottom - top + 1 : 0; }
};

/// The smallest box around every black dot.
Box inkBox(const Canvas& canvas) {
  Box box;
  for (std::uint32_t y = 0; y < canvas.height(); ++y) {
    for (std::uint32_t x = 0; x < canvas.width(); ++x) {
      if (canvas.pixel(x, y) != Canvas::kBlack) continue;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
      box.top = std::min(box.top, y);
      box.bottom = std::max(box.bottom, y);
    }
  }
  return box;
}

bool anyInk(const Canvas& canvas, std::uint32_t top, std::uint32_t bottom) {
  for (std::uint32_t y = top; y < bottom; ++y) {
    for (std::uint32_t x = 0; x < canvas.width(); ++x) {
      if (canvas.pixel(x, y) == Canvas::kBlack) return true;
    }
  }
  return false;
}

TEST(PreviewBarcodeTest, TheQrPdf417AndCode128SequencesReadBackFromThePng) {
  const test::ScratchDir dir;
  const auto image = previewPng(
      dir, concat({kQrSequence, kLineFeed, kPdf417Sequence, kLineFeed, kCode128Sequence}));
  ASSERT_GT(image.width, 0u);
  EXPECT_EQ(readSymbols(image),
            (Found{{"QRCode", "AB12"}, {"PDF417", "AB12"}, {"Code128", "AB12"}}));
}

TEST(PreviewBarcodeTest, ZXingReaderReadsThePng) {
#ifndef SPR_ZXING_READER
  GTEST_SKIP() << "ZXingReader (zxing-cpp-tools) is not installed";
#else
  const test::ScratchDir dir;
  previewPng(dir, concat({kQrSequence, kLineFeed, kPdf417Sequence, kLineFeed, kCode128Sequence}));
  const std::string command = std::string(SPR_ZXING_READER) + " -1 '" + dir.path("out.png") + "'";
  struct Closer {
    void operator()(std::FILE* f) const { pclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> pipe(popen(command.c_str(), "r"));
  ASSERT_TRUE(pipe);
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) output += buffer;
  EXPECT_NE(output.find("QRCode \"AB12\""), std::string::npos) << output;
  EXPECT_NE(output.find("PDF417 \"AB12\""), std::string::npos) << output;
  EXPECT_NE(output.find("Code128 \"AB12\""), std::string::npos) << output;
#endif
}

TEST(PreviewBarcodeTest, QrModuleSizeAndErrorLevelComeFromTheCommands) {
  // module size 5, level H: "AB12" fits version 1, 21 modules of 5 dots
  const auto stream = hex(
      "1D 28 6B 03 00 31 43 05 | 1D 28 6B 03 00 31 45 33 | 1D 28 6B 07 00 31 50 30 41 42 31 32 |"
      "1D 28 6B 03 00 31 51 30");
  const Box box = inkBox(test::render(stream).canvas);
  EXPECT_EQ(box.left, 0u);
  EXPECT_EQ(box.top, 0u);
  EXPECT_EQ(box.width(), 105u);
  EXPECT_EQ(box.height(), 105u);

  const test::ScratchDir dir;
  const auto results = readAll(previewPng(dir, stream));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].ecLevel(), "H");
}

TEST(PreviewBarcodeTest, BarHeightComesFromGsHAndTheTextGoesBelow) {
  const PreviewResult result = test::render(kCode128Sequence);
  // CODE128 starts with a bar: dot column 0 is black for the 100 rows of GS h 100.
  for (std::uint32_t y = 0; y < 100; ++y) ASSERT_EQ(result.canvas.pixel(0, y), Canvas::kBlack) << y;
  EXPECT_EQ(result.canvas.pixel(0, 100), Canvas::kWhite);
  EXPECT_TRUE(anyInk(result.canvas, 100, 124)) << "the human-readable AB12 under the bars";

  // GS H 0: no text under the bars.
  auto silent = kCode128Sequence;
  silent[11] = 0x00;
  EXPECT_FALSE(anyInk(test::render(silent).canvas, 100, 124));
}

TEST(PreviewBarcodeTest, ModuleWidthComesFromGsW) {
  auto narrow = kCode128Sequence;
  narrow[5] = 2;
  auto wide = kCode128Sequence;
  wide[5] = 4;
  const Box narrowBars = inkBox(test::render(narrow).canvas);
  const Box wideBars = inkBox(test::render(wide).canvas);
  EXPECT_EQ(wideBars.width(), 2 * narrowBars.width());
}

TEST(PreviewBarcodeTest, Code128CodeSetsAreReadAsThePrinterWould) {
  // {B "AB", then {C with the bytes 12 and 34: the digits 1234
  const test::ScratchDir dir;
  const auto image = previewPng(dir, hex("1D 48 02 1D 6B 49 08 7B 42 41 42 7B 43 0C 22 0A"));
  EXPECT_EQ(readSymbols(image), (Found{{"Code128", "AB1234"}}));
}

TEST(PreviewBarcodeTest, Ean13GetsItsCheckDigit) {
  const test::ScratchDir dir;
  const auto image = previewPng(dir, hex("1D 6B 43 0C 34 39 30 31 32 33 34 35 36 37 38 39 0A"));
  EXPECT_EQ(readSymbols(image), (Found{{"EAN-13", "4901234567894"}}));
}

TEST(PreviewBarcodeTest, DataTheSymbologyRefusesIsReportedAndBoxed) {
  const PreviewResult result = test::render(hex("1D 6B 43 03 41 42 43 0A"));
  ASSERT_FALSE(result.messages.empty());
  EXPECT_EQ(result.messages[0].rfind("EAN-13 at offset 0 not drawn: ", 0), 0u)
      << result.messages[0];
  EXPECT_EQ(result.canvas.pixel(0, 0), Canvas::kBlack) << "the box's corner";
}

TEST(PreviewBarcodeTest, QrDataBytesAreKeptAsTheyAre) {
  // store the bytes 41 E9 42 (A, e acute in Latin-1, B)
  const test::ScratchDir dir;
  const auto results =
      readAll(previewPng(dir, hex("1D 28 6B 06 00 31 50 30 41 E9 42 | 1D 28 6B 03 00 31 51 30")));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].bytes(), ZXing::ByteArray({0x41, 0xE9, 0x42}));
}

}  // namespace
}  // namespace preview
