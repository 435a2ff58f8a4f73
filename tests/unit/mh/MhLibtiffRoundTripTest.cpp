// libtiff's CCITT Group 3 decoder reads back what the line encoder writes.
#include <gtest/gtest.h>

#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakeSpooler.h"
#include "fakes/RasterRows.h"
#include "mh/MhLineEncoder.h"
#include "page/PageBuffer.h"
#include "raster/CompressedRasterWriter.h"
#include "unit/mh/G3Decoder.h"

#if SPR_HAVE_LIBTIFF

namespace {

using fakes::Row;

/// What a row's line holds: its first min(8 * size, 588) pixels, then white, in 74 bytes.
Row linePixels(const Row& row) {
  Row line(74, 0);
  std::copy_n(row.begin(), std::min<std::size_t>(row.size(), 74), line.begin());
  line[73] &= 0xF0;
  return line;
}

TEST(MhLibtiffRoundTrip, RandomAndReceiptRowsDecodeToTheirFirst588Pixels) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    const std::vector<Row> rows = fakes::mixedRows(seed, 1500);
    std::vector<std::uint8_t> code((rows.size() * mh::kMaxLineBits + 7) / 8 + 1, 0);
    std::uint32_t pos = 0;
    for (const Row& row : rows) mh::encodeLine(row, code.data(), pos);
    code.resize((pos + 7) / 8);

    const g3::Decoded decoded =
        g3::decode(code, mh::kLineWidth, static_cast<std::uint32_t>(rows.size()));
    EXPECT_TRUE(decoded.messages.empty()) << decoded.messages.front();
    ASSERT_EQ(decoded.rows.size(), rows.size());
    for (std::size_t y = 0; y < rows.size(); ++y) {
      Row got = decoded.rows[y];
      got[73] &= 0xF0;
      ASSERT_EQ(got, linePixels(rows[y]))
          << "seed " << seed << " row " << y << " of width " << rows[y].size();
    }
  }
}

TEST(MhLibtiffRoundTrip, LongRunsUseEveryMakeupAndExtendedCode) {
  // White and black runs through every make-up code of both colours and every extended
  // make-up code, then runs longer than 2560, coded with the run coder on one wide line.
  std::vector<std::pair<std::uint16_t, mh::MhColour>> runs;
  for (std::uint16_t k = 1; k <= 40; ++k) {
    runs.emplace_back(static_cast<std::uint16_t>(64 * k + k % 64), mh::kWhite);
    runs.emplace_back(static_cast<std::uint16_t>(64 * k + (7 * k) % 64), mh::kBlack);
  }
  for (std::uint16_t length :
       {std::uint16_t{2560}, std::uint16_t{5000}, std::uint16_t{7743}, std::uint16_t{65535}}) {
    runs.emplace_back(length, mh::kWhite);
    runs.emplace_back(length, mh::kBlack);
  }
  runs.emplace_back(37, mh::kWhite);
  std::uint32_t width = 0;
  for (const auto& r : runs) width += r.first;

  std::vector<std::uint8_t> code(width / 2 + 64, 0);
  std::uint32_t pos = 0;
  for (const auto& [length, colour] : runs) mh::codeRun(code.data(), pos, length, colour);
  mh::codeRun(code.data(), pos, 0, mh::kWhite);
  code.resize((pos + 7) / 8);

  const g3::Decoded decoded = g3::decode(code, width, 1);
  EXPECT_TRUE(decoded.messages.empty()) << decoded.messages.front();
  ASSERT_EQ(decoded.rows.size(), 1u);
  std::uint32_t x = 0;
  for (const auto& [length, colour] : runs) {
    for (std::uint32_t end = x + length; x < end; ++x) {
      ASSERT_EQ(fakes::pixel(decoded.rows[0], x), colour == mh::kBlack) << "pixel " << x;
    }
  }
}

/// A page whose rows are cut into segments by copied bytes: each segment's rows, and
/// the page's stream.
struct SegmentedPage {
  std::vector<std::vector<Row>> segments;
  fakes::Bytes stream;
};

SegmentedPage randomPage(fakes::RowMaker& maker) {
  SegmentedPage page;
  const std::size_t width = 1 + maker.below(60);
  page.segments.emplace_back();
  for (std::uint32_t rows = 1 + maker.below(80); rows > 0; --rows) {
    const Row row = maker.busy(width, 0.6 + 0.01 * maker.below(35));
    const bool copied = maker.below(8) == 0;  // a separator other than 0D is copied
    const fakes::Bytes command = fakes::rasterRow(row, copied ? 0x0A : 0x0D);
    page.stream.insert(page.stream.end(), command.begin(), command.end());
    page.segments.back().push_back(row);
    if (copied && rows > 1) page.segments.emplace_back();
  }
  return page;
}

/// The MH code of each segment of a framed page: the data of consecutive GS v 0 commands
/// joined, up to a copied byte or the end.
std::vector<fakes::Bytes> unpack(const fakes::Bytes& framed) {
  std::vector<fakes::Bytes> segments(1);
  for (std::size_t q = 5; q < framed.size() - 5;) {
    if (framed[q] == 0x1D && framed[q + 1] == 0x76 && framed[q + 2] == 0x30 && framed[q + 3] == 0) {
      const std::size_t data =
          std::size_t{framed[q + 4]} * (framed[q + 6] | std::size_t{framed[q + 7]} << 8);
      const auto from = framed.begin() + static_cast<std::ptrdiff_t>(q + 8);
      segments.back().insert(segments.back().end(), from, from + static_cast<std::ptrdiff_t>(data));
      q += 8 + data;
    } else {
      if (!segments.back().empty()) segments.emplace_back();
      ++q;
    }
  }
  if (segments.back().empty()) segments.pop_back();
  return segments;
}

TEST(MhLibtiffRoundTrip, FramedPagesDecodeSegmentBySegment) {
  fakes::RowMaker maker(77);
  for (int i = 0; i < 60; ++i) {
    const SegmentedPage page = randomPage(maker);
    fakes::FakeSpooler spooler;
    auto& state = spooler.addPrinter(u"P");
    auto printer = spooler.open(u"P");
    ASSERT_TRUE(printer->startDoc({u"d", std::nullopt, u"RAW"}) && printer->startPage());
    page::PageBuffer buffer = page::PageBuffer::fromFileBytes(fakes::pageFile(page.stream));
    fakes::FakeDebugOutput debug;
    ASSERT_TRUE(raster::writeCompressedPage(buffer.stream(), 1 + maker.below(30), *printer, debug));

    const std::vector<fakes::Bytes> code = unpack(state.documents[0].bytes());
    ASSERT_EQ(code.size(), page.segments.size()) << "page " << i;
    for (std::size_t s = 0; s < code.size(); ++s) {
      const auto& rows = page.segments[s];
      const g3::Decoded decoded =
          g3::decode(code[s], mh::kLineWidth, static_cast<std::uint32_t>(rows.size()));
      EXPECT_TRUE(decoded.messages.empty()) << decoded.messages.front();
      ASSERT_EQ(decoded.rows.size(), rows.size()) << "page " << i << " segment " << s;
      // libtiff does not look at the last EOL: the decoded rows, coded again, must give
      // the segment's bytes exactly, the last completed with zero bits.
      fakes::Bytes again(code[s].size() + mh::kMaxLineBits / 8 + 1, 0);
      std::uint32_t bits = 0;
      for (std::size_t y = 0; y < rows.size(); ++y) {
        ASSERT_EQ(decoded.rows[y], linePixels(rows[y]))
            << "page " << i << " segment " << s << " row " << y;
        mh::encodeLine(decoded.rows[y], again.data(), bits);
      }
      again.resize((bits + 7) / 8);
      EXPECT_EQ(again, code[s]) << "page " << i << " segment " << s;
    }
  }
}

}  // namespace

#endif  // SPR_HAVE_LIBTIFF
