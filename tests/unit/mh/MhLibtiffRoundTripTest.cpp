// libtiff's CCITT Group 3 decoder reads back what the line encoder writes.
#include <gtest/gtest.h>

#include "fakes/RasterRows.h"
#include "mh/MhLineEncoder.h"
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

}  // namespace

#endif  // SPR_HAVE_LIBTIFF
