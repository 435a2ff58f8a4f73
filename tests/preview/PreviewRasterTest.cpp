// Rasters, text, cuts and placeholders on the preview's paper.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "PreviewTestSupport.h"

namespace preview {
namespace {

using test::asciiArt;
using test::concat;
using test::hex;

/// True when both pictures have the same height and the same pixel everywhere, counting
/// dots beyond a picture's width as white.
::testing::AssertionResult samePixels(const Canvas& a, const Canvas& b) {
  if (a.height() != b.height()) {
    return ::testing::AssertionFailure() << "heights " << a.height() << " and " << b.height();
  }
  const std::uint32_t width = std::max(a.width(), b.width());
  for (std::uint32_t y = 0; y < a.height(); ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      if (a.pixel(x, y) != b.pixel(x, y)) {
        return ::testing::AssertionFailure() << "pixel " << x << ", " << y << " differs";
      }
    }
  }
  return ::testing::AssertionSuccess();
}

bool anyInk(const Canvas& canvas, std::uint32_t left, std::uint32_t top, std::uint32_t right,
            std::uint32_t bottom) {
  for (std::uint32_t y = top; y < bottom; ++y) {
    for (std::uint32_t x = left; x < right; ++x) {
      if (canvas.pixel(x, y) == Canvas::kBlack) return true;
    }
  }
  return false;
}

/// A banded raster: one GS v 0 command with all the rows.
std::vector<std::uint8_t> bandedPage(std::uint32_t bytesPerRow, std::uint32_t rows,
                                     const std::vector<std::uint8_t>& data) {
  const std::vector<std::uint8_t> header = {0x1D,
                                            0x76,
                                            0x30,
                                            0x00,
                                            static_cast<std::uint8_t>(bytesPerRow & 0xFF),
                                            static_cast<std::uint8_t>(bytesPerRow >> 8),
                                            static_cast<std::uint8_t>(rows & 0xFF),
                                            static_cast<std::uint8_t>(rows >> 8)};
  return concat({header, data});
}

TEST(PreviewRasterTest, BandedRasterDotsLandWhereTheBitsSay) {
  const PreviewResult result = test::render(hex("1D 76 30 00 02 00 03 00 0F F0 80 01 FF FF 0D"));
  EXPECT_EQ(result.canvas.width(), 576u);
  ASSERT_EQ(result.canvas.height(), 3u);
  EXPECT_EQ(asciiArt(result.canvas, 0, 0, 18, 3),
            "....########......\n"
            "#..............#..\n"
            "################..\n");
  EXPECT_TRUE(result.messages.empty());
}

TEST(PreviewRasterTest, RasterModeOneDoublesTheWidth) {
  const PreviewResult result = test::render(hex("1D 76 30 01 01 00 01 00 A0"));
  EXPECT_EQ(asciiArt(result.canvas, 0, 0, 8, 1), "##..##..\n");
}

TEST(PreviewRasterTest, TheWidestRasterSetsThePaperWidth) {
  const PreviewResult result = test::render(bandedPage(80, 1, std::vector<std::uint8_t>(80, 0x01)));
  EXPECT_EQ(result.canvas.width(), 640u);
  EXPECT_EQ(result.canvas.pixel(639, 0), Canvas::kBlack);
}

TEST(PreviewRasterTest, TheCompressedWorkedExampleDrawsTheRow0FF0) {
  const PreviewResult compressed = test::render(hex(
      "01 39 36 02 AA 1D 76 30 00 02 00 02 00 B1 5A 0D 40 1D 76 30 00 01 00 01 00 04 01 39 36 02 "
      "CC"));
  // As wide as its banded twin: the code's 12 white dots past 576 are left off.
  EXPECT_EQ(compressed.canvas.width(), 576u);
  ASSERT_EQ(compressed.canvas.height(), 1u);
  EXPECT_EQ(asciiArt(compressed.canvas, 0, 0, 20, 1), "....########........\n");
  EXPECT_FALSE(anyInk(compressed.canvas, 12, 0, 576, 1));

  const PreviewResult banded = test::render(hex("1D 76 30 00 02 00 01 00 0F F0 0D"));
  EXPECT_TRUE(samePixels(compressed.canvas, banded.canvas));
}

TEST(PreviewRasterTest, TwoCompressedRowsAcrossThreeBandsMatchTheBandedRows) {
  // The row 0F F0 twice, coded as one run of code over a band of three chunks, a band of
  // one chunk and the flush.
  const PreviewResult compressed = test::render(
      hex("01 39 36 02 AA | 1D 76 30 00 02 00 03 00 B1 5A 0D 40 06 C5 |"
          "1D 76 30 00 02 00 01 00 68 35 | 1D 76 30 00 02 00 01 00 00 10 | 01 39 36 02 CC"));
  const PreviewResult banded = test::render(hex("1D 76 30 00 02 00 02 00 0F F0 0F F0"));
  EXPECT_TRUE(samePixels(compressed.canvas, banded.canvas));
  EXPECT_EQ(banded.canvas.height(), 2u);
  EXPECT_TRUE(compressed.messages.empty());
}

#ifdef SPR_HAVE_LIBTIFF

/// 588-pixel rows of random runs, packed in 74 bytes with the last four bits white.
std::vector<std::uint8_t> randomRows(std::uint32_t rows, std::mt19937& random) {
  std::vector<std::uint8_t> image(std::size_t{74} * rows, 0);
  std::uniform_int_distribution<std::uint32_t> runLength(1, 90);
  for (std::uint32_t y = 0; y < rows; ++y) {
    bool black = false;
    for (std::uint32_t x = 0; x < 588;) {
      const std::uint32_t end = std::min(588u, x + runLength(random));
      for (; x < end; ++x) {
        if (black)
          image[std::size_t{y} * 74 + x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
      }
      black = !black;
    }
  }
  return image;
}

/// The code in the compressed framing, cut into chunks of `width` bytes carried in bands
/// of up to three chunks, the rest in a flush command.
std::vector<std::uint8_t> framed(const std::vector<std::uint8_t>& code, std::uint8_t width) {
  std::vector<std::uint8_t> stream = hex("01 39 36 02 AA");
  std::size_t at = 0;
  while (code.size() - at >= width) {
    const auto chunks =
        static_cast<std::uint8_t>(std::min<std::size_t>(3, (code.size() - at) / width));
    stream = concat({stream, bandedPage(width, chunks,
                                        {code.begin() + static_cast<long>(at),
                                         code.begin() + static_cast<long>(at + chunks * width)})});
    at += chunks * width;
  }
  if (at < code.size()) {
    stream = concat({stream, bandedPage(static_cast<std::uint32_t>(code.size() - at), 1,
                                        {code.begin() + static_cast<long>(at), code.end()})});
  }
  return concat({stream, hex("01 39 36 02 CC")});
}

TEST(PreviewRasterTest, RowsCodedByLibtiffDrawLikeTheSameRowsBanded) {
  std::mt19937 random(7);
  const std::uint32_t rows = 40;
  const auto image = randomRows(rows, random);
  const test::ScratchDir dir;
  const auto code = test::libtiffCode(image, 588, rows, dir.path("rows.tif"));
  ASSERT_FALSE(code.empty());

  const PreviewResult banded = test::render(bandedPage(74, rows, image));
  for (const int width : {1, 7, 74}) {
    const PreviewResult compressed = test::render(framed(code, static_cast<std::uint8_t>(width)));
    EXPECT_TRUE(samePixels(compressed.canvas, banded.canvas)) << "chunks of " << width;
  }
}

#endif

TEST(PreviewRasterTest, TextStaysInItsCharacterCells) {
  // "H" in font A (12 x 24), then "H" at double width and height (24 x 48)
  const PreviewResult normal = test::render(hex("48 0A"));
  EXPECT_TRUE(anyInk(normal.canvas, 0, 0, 12, 24));
  EXPECT_FALSE(anyInk(normal.canvas, 12, 0, 576, normal.canvas.height()));
  EXPECT_FALSE(anyInk(normal.canvas, 0, 24, 576, normal.canvas.height()));
  EXPECT_EQ(normal.canvas.height(), 30u) << "one line of the default spacing";

  const PreviewResult big = test::render(hex("1D 21 11 48 0A"));
  EXPECT_TRUE(anyInk(big.canvas, 12, 24, 24, 48));
  EXPECT_FALSE(anyInk(big.canvas, 24, 0, 576, big.canvas.height()));
  EXPECT_EQ(big.canvas.height(), 48u);
}

TEST(PreviewRasterTest, ALongLineWrapsAtThePaperEdge) {
  // 49 characters of 12 dots: 48 fit in 576 dots, the 49th starts the second line
  std::vector<std::uint8_t> stream(49, 'H');
  stream.push_back(0x0A);
  const PreviewResult result = test::render(stream);
  EXPECT_EQ(result.canvas.height(), 60u);
  EXPECT_TRUE(anyInk(result.canvas, 564, 0, 576, 24));
  EXPECT_TRUE(anyInk(result.canvas, 0, 30, 12, 54));
  EXPECT_FALSE(anyInk(result.canvas, 12, 30, 576, 60));
}

TEST(PreviewRasterTest, FeedsAdvanceThePaper) {
  // ESC J 40, ESC 3 10 with ESC d 3, then one raster row
  const PreviewResult result =
      test::render(hex("1B 4A 28 1B 33 0A 1B 64 03 1D 76 30 00 01 00 01 00 80"));
  ASSERT_EQ(result.canvas.height(), 71u);
  EXPECT_EQ(result.canvas.pixel(0, 70), Canvas::kBlack);
  EXPECT_FALSE(anyInk(result.canvas, 0, 0, 576, 70));
}

TEST(PreviewRasterTest, AMarginAroundTheLongestStripKeepsThePaperThatFits) {
  // A dot on the first row, then far more paper than the preview draws.
  std::vector<std::uint8_t> feeds = hex("1B 33 FF");
  for (int i = 0; i < 2000; ++i) feeds = concat({feeds, hex("1B 64 FF")});
  PreviewOptions options;
  options.margin = 10;
  PreviewResult result;
  std::string error;
  ASSERT_TRUE(
      renderPreview(concat({hex("1D 76 30 00 01 00 01 00 80"), feeds}), options, result, error))
      << error;
  EXPECT_EQ(result.canvas.width(), 596u);
  EXPECT_EQ(result.canvas.height(), Canvas::kMaxHeight);
  EXPECT_TRUE(result.canvas.clipped());
  EXPECT_EQ(result.messages,
            (std::vector<std::string>{"the preview stops after 100000 dots of paper",
                                      "with the margin, the preview stops after 99990 dots of "
                                      "paper"}));
  EXPECT_FALSE(anyInk(result.canvas, 0, 0, 596, 10));
  EXPECT_EQ(result.canvas.pixel(10, 10), Canvas::kBlack);

  // Paper 4096 dots wide in the widest margin: 12288 dots wide, so 5461 rows, of which the
  // top margin takes 4096. A larger margin is drawn as the widest.
  options.margin = 100000;
  ASSERT_TRUE(
      renderPreview(concat({bandedPage(512, 1, std::vector<std::uint8_t>(512, 0x80)), feeds}),
                    options, result, error))
      << error;
  EXPECT_EQ(result.canvas.width(), 12288u);
  EXPECT_EQ(result.canvas.height(), 5461u);
  EXPECT_EQ(result.messages,
            (std::vector<std::string>{"the preview stops after 16384 dots of paper",
                                      "with the margin, the preview stops after 1365 dots of "
                                      "paper"}));
  EXPECT_EQ(result.canvas.pixel(4096, 4096), Canvas::kBlack);
  EXPECT_EQ(result.canvas.pixel(4097, 4096), Canvas::kWhite);
}

TEST(PreviewRasterTest, EndlessFeedsStopAtTheLongestStrip) {
  // ESC 3 255, then 2000 times ESC d 255: far more paper than the preview draws
  std::vector<std::uint8_t> stream = hex("1B 33 FF");
  for (int i = 0; i < 2000; ++i) stream = concat({stream, hex("1B 64 FF")});
  stream = concat({stream, hex("1D 76 30 00 01 00 01 00 80")});
  const PreviewResult result = test::render(stream);
  EXPECT_EQ(result.canvas.height(), Canvas::kMaxHeight);
  EXPECT_EQ(result.messages,
            std::vector<std::string>{"the preview stops after 100000 dots of paper"});

  // On paper 4096 dots wide the canvas holds at most 64 Mi pixels: 16384 rows.
  const std::vector<std::uint8_t> wide =
      concat({bandedPage(512, 1, std::vector<std::uint8_t>(512, 0x80)), stream});
  const PreviewResult capped = test::render(wide);
  EXPECT_EQ(capped.canvas.width(), 4096u);
  EXPECT_EQ(capped.canvas.height(), 16384u);
  EXPECT_EQ(capped.messages,
            std::vector<std::string>{"the preview stops after 16384 dots of paper"});
}

TEST(PreviewRasterTest, ACutIsADashedLineWithItsLabel) {
  const PreviewResult result = test::render(hex("1D 56 42 00"));
  const Canvas& paper = result.canvas;
  ASSERT_GT(paper.height(), 10u);
  // Find the dashed line: a row black at x 0 to 11 and white at 12.
  std::uint32_t line = paper.height();
  for (std::uint32_t y = 0; y < paper.height() && line == paper.height(); ++y) {
    if (paper.pixel(0, y) == Canvas::kBlack && paper.pixel(11, y) == Canvas::kBlack &&
        paper.pixel(12, y) == Canvas::kWhite) {
      line = y;
    }
  }
  ASSERT_LT(line, paper.height()) << asciiArt(paper, 0, 0, 80, paper.height());
  EXPECT_EQ(paper.pixel(paper.width() - 10, line), Canvas::kBlack) << "dashes reach the far edge";
  EXPECT_TRUE(anyInk(paper, 20, 0, 47, paper.height())) << "the word cut in the gap";
}

TEST(PreviewRasterTest, AFormFeedWithThreeZerosIsACut) {
  EXPECT_TRUE(
      samePixels(test::render(hex("0C 00 00 00")).canvas, test::render(hex("1D 56 00")).canvas));
}

std::vector<std::uint8_t> pageFile(const std::vector<std::uint8_t>& stream, std::uint8_t state) {
  const auto length = static_cast<std::uint32_t>(stream.size());
  const std::vector<std::uint8_t> header = {
      static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
      static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24), state};
  return concat({header, stream});
}

TEST(PreviewRasterTest, APlaceholderInAPageFileIsALabelledBox) {
  const auto stream = hex(
      "98 07 98 07 98 07 98 07 98 07 98 07 98 07 05 1D 21 02 31 32 33 34 35 36 37 38 39 30 31 32 "
      "0D 1D 76 30 00 01 00 01 00 FF 0D");
  const PreviewResult result = test::render(pageFile(stream, 2), true);
  const Canvas& paper = result.canvas;
  // height class 2: a box 100 dots high, then the raster row
  ASSERT_EQ(paper.height(), 101u);
  EXPECT_EQ(paper.pixel(0, 0), Canvas::kBlack);
  EXPECT_EQ(paper.pixel(575, 99), Canvas::kBlack);
  EXPECT_EQ(paper.pixel(300, 50), Canvas::kWhite);
  EXPECT_TRUE(anyInk(paper, 10, 8, 300, 56)) << "the label and the data";
  EXPECT_EQ(asciiArt(paper, 0, 100, 10, 1), "########..\n");
  EXPECT_TRUE(result.messages.empty());
}

TEST(PreviewRasterTest, APageFileIsReadOnlyAsFarAsItsLength) {
  const auto file = concat(
      {pageFile(hex("1D 76 30 00 01 00 01 00 80"), 2), hex("1B 7A 1D 76 30 00 01 00 01 00 FF")});
  const PreviewResult result = test::render(file, true);
  EXPECT_EQ(result.canvas.height(), 1u);
  EXPECT_TRUE(result.messages.empty());
}

}  // namespace
}  // namespace preview
