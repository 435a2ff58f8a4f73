// Previews of what the relay itself sends, read back by machines: the barcodes of a page
// with placeholders decode to the placeholders' data, and a page of one-row rasters draws
// the same pixels whether it went out banded or as the compressed stream.
#include <ZXing/ReadBarcode.h>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "PreviewTestSupport.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakeSpooler.h"
#include "page/PageBuffer.h"
#include "page/PageProcessor.h"
#include "page/PrinterSettings.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

/// The bytes the relay sends for one page stream with the given high-speed mode.
Bytes relayPage(const Bytes& stream, std::uint32_t highSpeedMode) {
  fakes::FakeSpooler spooler;
  auto& state = spooler.addPrinter(u"P");
  auto printer = spooler.open(u"P");
  EXPECT_TRUE(printer->startDoc({u"My Document", std::nullopt, u"RAW"}));
  EXPECT_TRUE(printer->startPage());
  page::PrinterSettings settings;
  page::applyBarcodeDefaults(settings.barcodeTable);
  settings.twoDCode = {0x02, 0x00, 0x01, 0x01, 0x00};
  settings.bandRowLimit = 20;
  settings.highSpeedMode = highSpeedMode;
  page::OutputBuffer output = page::OutputBuffer::allocate();
  fakes::FakeDebugOutput debug;
  Bytes file{static_cast<std::uint8_t>(stream.size()),
             static_cast<std::uint8_t>(stream.size() >> 8),
             static_cast<std::uint8_t>(stream.size() >> 16), 0, 2};
  file.resize(5 + stream.size());
  std::copy(stream.begin(), stream.end(), file.begin() + 5);
  page::PageBuffer buffer = page::PageBuffer::fromFileBytes(file);
  page::PageJob job{u'P', 0, settings, output, 0, *printer, debug};
  page::processPage(buffer, job);
  return state.documents.at(0).bytes();
}

void append(Bytes& to, std::initializer_list<std::uint8_t> bytes) {
  to.insert(to.end(), bytes);
}
void append(Bytes& to, const std::string& text) {
  to.insert(to.end(), text.begin(), text.end());
}
void placeholder(Bytes& to, std::uint8_t type, const std::string& data) {
  for (int i = 0; i < 7; ++i) append(to, {0x98, 0x07});
  append(to, {type, 0x0D});
  append(to, data);
  append(to, {0x0D, 0x0A, 0x0A});
}

TEST(PreviewOfRelayOutput, BarcodesDecodeToThePlaceholdersData) {
  Bytes stream;
  append(stream, "RECEIPT\n\n");
  placeholder(stream, 8, "ORDER-0042");  // CODE128 in the default table
  placeholder(stream, 9, "HTTPS://EXAMPLE.COM/0042");
  placeholder(stream, 10, "TOTAL:5.70");
  const preview::PreviewResult result = preview::test::render(relayPage(stream, 0));
  const preview::Canvas& canvas = result.canvas;
  std::vector<std::uint8_t> pixels;
  for (std::uint32_t y = 0; y < canvas.height(); ++y) {
    const auto row = canvas.row(y);
    pixels.insert(pixels.end(), row.begin(), row.end());
  }
  // One format at a time: zxing-cpp 1.4 asserts when it compares a linear result with a
  // two-dimensional one while merging the results of one pass.
  std::set<std::string> found;
  const ZXing::ImageView view(pixels.data(), static_cast<int>(canvas.width()),
                              static_cast<int>(canvas.height()), ZXing::ImageFormat::Lum);
  for (const auto format : {ZXing::BarcodeFormat::Code128, ZXing::BarcodeFormat::QRCode,
                            ZXing::BarcodeFormat::PDF417}) {
    const auto read = ZXing::ReadBarcode(view, ZXing::DecodeHints().setFormats(format));
    if (read.isValid()) {
      found.insert(std::string(ZXing::ToString(read.format())) + ":" + read.text());
    }
  }
  EXPECT_EQ(found, (std::set<std::string>{"Code128:ORDER-0042", "QRCode:HTTPS://EXAMPLE.COM/0042",
                                          "PDF417:TOTAL:5.70"}));
}

TEST(PreviewOfRelayOutput, BandedAndCompressedPagesDrawThePagesOwnRows) {
  std::mt19937 rng(7);
  const std::size_t width = 8;
  const int rows = 60;
  Bytes stream;
  std::vector<Bytes> image;
  for (int y = 0; y < rows; ++y) {
    Bytes row(width);
    for (auto& b : row) b = static_cast<std::uint8_t>(rng());  // narrow noise codes long
    image.push_back(row);
    append(stream, {0x1D, 0x76, 0x30, 0x00, static_cast<std::uint8_t>(width), 0x00, 0x01, 0x00});
    stream.insert(stream.end(), row.begin(), row.end());
    stream.push_back(0x0D);
  }
  const Bytes banded = relayPage(stream, 0);
  const Bytes compressed = relayPage(stream, 1);
  ASSERT_EQ(Bytes(compressed.begin(), compressed.begin() + 5),
            (Bytes{0x01, 0x39, 0x36, 0x02, 0xAA}));
  ASSERT_NE(banded, compressed);
  for (const Bytes& sent : {banded, compressed}) {
    const preview::Canvas canvas = preview::test::render(sent).canvas;
    ASSERT_GE(canvas.height(), static_cast<std::uint32_t>(rows));
    for (int y = 0; y < rows; ++y) {
      for (std::uint32_t x = 0; x < width * 8; ++x) {
        const bool black = image[static_cast<std::size_t>(y)][x / 8] & (0x80 >> (x % 8));
        ASSERT_EQ(canvas.pixel(x, static_cast<std::uint32_t>(y)) == preview::Canvas::kBlack, black)
            << "row " << y << " pixel " << x << (sent == banded ? " banded" : " compressed");
      }
    }
  }
}

}  // namespace
