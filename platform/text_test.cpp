#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(PlatformText, RoundTripsEveryPlaneThroughUtf8) {
    const std::u16string text = u"C:\\Dati\\Città ß \u20AC \U0001F600 end";
    const std::string bytes = platform::ToUtf8(text);
    EXPECT_EQ(bytes, "C:\\Dati\\Citt\xC3\xA0 \xC3\x9F \xE2\x82\xAC \xF0\x9F\x98\x80 end");
    EXPECT_EQ(platform::FromUtf8(bytes), text);
}

TEST(PlatformText, UnpairedSurrogatesAndInvalidBytesBecomeReplacementCharacters) {
    EXPECT_EQ(platform::ToUtf8(std::u16string{u'a', char16_t{0xD800}, u'b'}), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(platform::ToUtf8(std::u16string{char16_t{0xDC00}}), "\xEF\xBF\xBD");
    // A continuation byte that is missing leaves the next byte to start a character of its own.
    EXPECT_EQ(platform::FromUtf8("\xC3(x"), u"\uFFFD(x");
    EXPECT_EQ(platform::FromUtf8("\xFF"), u"\uFFFD");
    EXPECT_EQ(platform::FromUtf8("\xE2\x82"), u"\uFFFD");
    // Overlong forms and encoded surrogates are not accepted as characters.
    EXPECT_EQ(platform::FromUtf8("\xC0\xAF"), u"\uFFFD");
    EXPECT_EQ(platform::FromUtf8("\xED\xA0\x80"), u"\uFFFD");
}

}  // namespace
