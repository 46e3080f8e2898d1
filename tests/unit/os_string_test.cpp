#include "base/os_string.h"

#include <gtest/gtest.h>

namespace zub {
namespace {

TEST(OsString, LossyConversionReplacesOnlyUnpairedSurrogates) {
    struct Case {
        std::u16string input;
        std::string expected;
    };
    const Case cases[] = {
        {u"plain", "plain"},
        {u"caf\u00e9", "caf\xc3\xa9"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
        {std::u16string(1, char16_t(0xD83D)), "\xef\xbf\xbd"},
        {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xef\xbf\xbd\xef\xbf\xbd"},
        {std::u16string{u'a', char16_t(0xD83D), u'b'}, "a\xef\xbf\xbd" "b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_utf8_lossy(c.input), c.expected);
        EXPECT_EQ(is_valid_unicode(c.input), c.expected.find("\xef\xbf\xbd") == std::string::npos);
    }
}

TEST(OsString, ToUtf16RoundTripsAndKeepsEmbeddedNul) {
    const std::string text("a\0\xe2\x80\x94\xf0\x9f\x98\x80", 9);
    const std::u16string wide = to_utf16(text);
    EXPECT_EQ(wide, (std::u16string{u'a', u'\0', u'\u2014', char16_t(0xD83D), char16_t(0xDE00)}));
    EXPECT_EQ(to_utf8_lossy(wide), text);
    EXPECT_EQ(to_wide_nul(u"ab"), std::u16string(u"ab\0", 3));
}

}  // namespace
}  // namespace zub
