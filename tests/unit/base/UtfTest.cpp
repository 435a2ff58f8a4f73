#include "base/Utf.h"

#include <gtest/gtest.h>

namespace {

using base::toUtf16;
using base::toUtf8;

TEST(Utf, RoundTripsEveryEncodedLength) {
  // One, two, three and four UTF-8 bytes; the last is a surrogate pair in UTF-16.
  const std::u16string text = u"A\u00e9\u20ac\U0001F5A8 printer";
  const std::string utf8 = base::toUtf8(text);
  EXPECT_EQ(utf8, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x96\xA8 printer");
  EXPECT_EQ(base::toUtf16(utf8), text);
  EXPECT_EQ(base::toUtf16(base::toUtf8(u"")), u"");
}

TEST(Utf, UnpairedSurrogatesAndBadBytesBecomeReplacementCharacters) {
  EXPECT_EQ(base::toUtf8(std::u16string{u'a', char16_t{0xD800}, u'b'}),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(base::toUtf8(std::u16string{char16_t{0xDC00}}), "\xEF\xBF\xBD");
  EXPECT_EQ(base::toUtf16("a\xFF"
                          "b"),
            u"a\uFFFDb");
  EXPECT_EQ(base::toUtf16("\xE2\x82"), u"\uFFFD\uFFFD");  // cut short at the end
  EXPECT_EQ(base::toUtf16("\xE2(x"), u"\uFFFD(x");        // a lead byte without its follower
}

}  // namespace
