#include "page/PageBuffer.h"

#include <gtest/gtest.h>

#include "fakes/Bytes.h"

namespace {

using fakes::Bytes;
using fakes::hex;

TEST(PageBuffer, HeaderFieldsAndMargin) {
  Bytes file = fakes::pageFile(hex("41 42 43"), 2);
  file.insert(file.end(), 10, 0x55);  // bytes past `length` are kept but not processed
  page::PageBuffer buffer = page::PageBuffer::fromFileBytes(file);
  ASSERT_TRUE(buffer.ok());
  EXPECT_EQ(buffer.length(), 3u);
  EXPECT_EQ(buffer.state(), 2);
  stream::StreamView s = buffer.stream();
  EXPECT_EQ(s.length, 3u);
  EXPECT_EQ(s.capacity, 3u + 10 + 256);
  EXPECT_EQ(s.at(3), 0x55);
  EXPECT_EQ(s.at(13), 0x00);
  EXPECT_EQ(s.at(1'000'000), 0x00);  // beyond the block reads as margin, never out of it
}

TEST(PageBuffer, LengthBeyondTheFileIsLoweredToWhatTheFileHolds) {
  Bytes file = fakes::pageFile(hex("41 42 43"), 0);
  file[0] = 0xFF;
  file[1] = 0xFF;  // claims 65535 stream bytes
  page::PageBuffer buffer = page::PageBuffer::fromFileBytes(file);
  EXPECT_EQ(buffer.length(), 3u);
  EXPECT_EQ(buffer.state(), 0);
  // A file shorter than its header holds no stream at all.
  page::PageBuffer tiny = page::PageBuffer::fromFileBytes(hex("09 00"));
  ASSERT_TRUE(tiny.ok());
  EXPECT_EQ(tiny.length(), 0u);
}

TEST(PageBuffer, ShortReadKeepsOnlyTheBytesRead) {
  base::HeapBlock block = base::HeapBlock::zeroed(5 + 8 + 256);
  const Bytes file = fakes::pageFile(hex("01 02 03 04 05 06 07 08"));
  std::copy(file.begin(), file.begin() + 7, block.data());  // only 7 of 13 bytes arrived
  page::PageBuffer buffer = page::PageBuffer::adopt(std::move(block), 7);
  EXPECT_EQ(buffer.length(), 2u);
}

TEST(PageMarkers, MatchingNeverLeavesTheBuffer) {
  Bytes data = hex("00 1D 76 30 00 98 07");
  stream::StreamView s{data.data(), 7, data.size()};
  EXPECT_TRUE(s.rasterAt(1));
  EXPECT_FALSE(s.rasterAt(0));
  EXPECT_FALSE(s.matches(5, stream::PageMarkers::kPlaceholderMarker));  // would run past the end
  EXPECT_FALSE(s.matches(7, stream::PageMarkers::kFeed));
  EXPECT_FALSE(s.matches(100, stream::PageMarkers::kFeed));
}

}  // namespace
