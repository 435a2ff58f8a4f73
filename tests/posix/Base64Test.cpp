// Base64 as the CUPS spooler stores printer-data values: the RFC 4648 test vectors, the
// canonical-form checks of the decoder, and round trips.
#include "platform/posix/Base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// RFC 4648 section 10.
struct Vector {
  const char* plain;
  const char* encoded;
};
constexpr Vector kRfc4648[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64, EncodesTheRfc4648TestVectors) {
  for (const Vector& v : kRfc4648) EXPECT_EQ(posix::base64Encode(bytesOf(v.plain)), v.encoded);
}

TEST(Base64, DecodesTheRfc4648TestVectors) {
  for (const Vector& v : kRfc4648) {
    Bytes out{0xEE};
    ASSERT_TRUE(posix::base64Decode(v.encoded, out)) << v.encoded;
    EXPECT_EQ(out, bytesOf(v.plain)) << v.encoded;
  }
}

TEST(Base64, UsesTheStandardAlphabetWithPlusAndSlash) {
  const Bytes high{0xFB, 0xFF, 0xBF};
  EXPECT_EQ(posix::base64Encode(high), "+/+/");
  Bytes out;
  ASSERT_TRUE(posix::base64Decode("+/+/", out));
  EXPECT_EQ(out, high);
  EXPECT_FALSE(posix::base64Decode("-_-_", out));  // the URL-safe alphabet is another one
}

TEST(Base64, BinaryValuesOfTheRelayRoundTrip) {
  Bytes out;
  ASSERT_TRUE(posix::base64Decode("FAAAAA==", out));  // PRTDATA_IDX_TEST = 20
  EXPECT_EQ(out, (Bytes{0x14, 0x00, 0x00, 0x00}));
  ASSERT_TRUE(posix::base64Decode("AgABAQA=", out));  // the 2D code defaults
  EXPECT_EQ(out, (Bytes{0x02, 0x00, 0x01, 0x01, 0x00}));

  // A 180-byte barcode table takes 240 characters, within IPP's 255-octet limit.
  std::mt19937 random(180);
  for (std::size_t size : {0u, 1u, 2u, 3u, 100u, 179u, 180u}) {
    Bytes value(size);
    for (auto& b : value) b = static_cast<std::uint8_t>(random());
    const std::string text = posix::base64Encode(value);
    EXPECT_EQ(text.size(), (size + 2) / 3 * 4);
    ASSERT_TRUE(posix::base64Decode(text, out)) << text;
    EXPECT_EQ(out, value);
  }
}

TEST(Base64, RejectsEverythingButTheCanonicalFormAndLeavesTheOutputAlone) {
  const char* bad[] = {
      "Zg",         // no padding
      "Zg=",        // short padding
      "Zm9",        // length not a multiple of 4
      "Z===",       // one character cannot hold a byte
      "====",       // padding only
      "Zg==Zg==",   // padding inside
      "Zm=v",       // "=" before the last characters
      "Zh==",       // non-zero pad bits (canonical is Zg==)
      "Zm9=",       // non-zero pad bits (canonical is Zm8=)
      "Zm9v\nZm9",  // line break
      "Zm 9",       // blank
      "Zm9*",       // outside the alphabet
      "Zm9v\xC3\xA9"
      "AA",  // non-ASCII
  };
  for (const char* text : bad) {
    Bytes out{0xEE};
    EXPECT_FALSE(posix::base64Decode(text, out)) << text;
    EXPECT_EQ(out, Bytes{0xEE}) << text;
  }
  Bytes out;
  EXPECT_FALSE(posix::base64Decode(std::string_view("Zg=\0", 4), out));
}

}  // namespace
