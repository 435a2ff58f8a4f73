// Little-endian fields: the low byte comes first, whatever the machine's own order.
#include "base/LittleEndian.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

TEST(LittleEndianTest, LowByteFirstInBothDirections) {
  const std::array<std::uint8_t, 4> bytes{0x78, 0x56, 0x34, 0x92};
  EXPECT_EQ(base::readU16(bytes.data()), 0x5678u);
  EXPECT_EQ(base::readU32(bytes.data()), 0x92345678u);  // the top bit survives

  std::array<std::uint8_t, 6> out{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  base::writeU32(out.data() + 1, 0x92345678u);
  EXPECT_EQ(out, (std::array<std::uint8_t, 6>{0xEE, 0x78, 0x56, 0x34, 0x92, 0xEE}));
  EXPECT_EQ(base::readU32(out.data() + 1), 0x92345678u);
}

}  // namespace
