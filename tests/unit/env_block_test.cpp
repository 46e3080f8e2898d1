#include "child/env_block.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace zub {
namespace {

using test::FakePlatform;
using test::Op;

const char16_t HIGH = 0xD800;
const char16_t LOW = 0xDC00;

TEST(EnvBlock, FoldedNameLowersOnlyAsciiLettersAndReplacesLoneSurrogates) {
    EXPECT_EQ(fold_env_name(u"Path_X9=C:"), "path_x9=c:");
    EXPECT_EQ(fold_env_name(u"\u00c4\u00e4"), "\xc3\x84\xc3\xa4");
    EXPECT_EQ(fold_env_name(std::u16string{u'A', HIGH}), "a\xef\xbf\xbd");
    EXPECT_EQ(fold_env_name(u"@[`{"), "@[`{");  // neighbours of the letter ranges stay
}

TEST(EnvBlock, HelperEnvironmentIsReSortedByFoldedName) {
    FakePlatform fake;
    fake.environment = test::env_block_of({u"Path=C:\\bin", u"_X=1", u"TEMP=t", u"aB=2", u"9V=3", u"=C:=C:\\w"});
    auto block = build_env_block(fake, {}, false);
    ASSERT_TRUE(block.ok());
    EXPECT_EQ(block.value(),
              test::env_block_of({u"9V=3", u"=C:=C:\\w", u"_X=1", u"aB=2", u"Path=C:\\bin", u"TEMP=t"}));
    EXPECT_EQ(fake.log, (std::vector<std::string>{"GetEnvironmentStringsW", "FreeEnvironmentStringsW"}));
}

TEST(EnvBlock, HelperStringsWithoutAnEqualsAfterTheFirstUnitAreSkipped) {
    FakePlatform fake;
    fake.environment = test::env_block_of({u"=", u"X", u"=A", u"B==", u"C=", u"=D:=D:\\"});
    auto block = build_env_block(fake, {}, false);
    ASSERT_TRUE(block.ok());
    EXPECT_EQ(block.value(), test::env_block_of({u"=D:=D:\\", u"B==", u"C="}));
}

TEST(EnvBlock, EntriesMergeOverTheEnvironment) {
    struct Case {
        const char* what;
        std::vector<std::u16string> environment;
        std::vector<OsString> entries;
        std::vector<std::u16string> expected;
    };
    const Case cases[] = {
        {"upper-case entry replaces Path", {u"Path=C:\\bin", u"TEMP=t"}, {u"PATH=x"}, {u"PATH=x", u"TEMP=t"}},
        {"last definition wins with its case", {}, {u"foo=1", u"FOO=2", u"Foo=3"}, {u"Foo=3"}},
        {"value keeps further equals", {}, {u"A=b=c"}, {u"A=b=c"}},
        {"empty value", {u"A=old"}, {u"A="}, {u"A="}},
        {"entries without equals ignored", {u"A=1"}, {u"A", u"", u"B"}, {u"A=1"}},
        {"empty name beside per-drive variable", {u"=C:=C:\\w"}, {u"=C:=D:\\x"},
         {u"=C:=D:\\x", u"=C:=C:\\w"}},
        {"non-ASCII case is kept", {}, {u"\u00e4=2", u"\u00c4=1"}, {u"\u00c4=1", u"\u00e4=2"}},
        // Byte order of UTF-8, not UTF-16 unit order: U+E000 before U+10000.
        {"code point order", {}, {u"\U00010000=a", u"\ue000=b", u"z=c"},
         {u"z=c", u"\ue000=b", u"\U00010000=a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakePlatform fake;
        fake.environment = test::env_block_of(c.environment);
        auto block = build_env_block(fake, c.entries, false);
        ASSERT_TRUE(block.ok());
        EXPECT_EQ(block.value(), test::env_block_of(c.expected));
    }
}

TEST(EnvBlock, LoneSurrogatesFoldAlikeAndTravelUnitForUnit) {
    const std::u16string first = std::u16string{u'N', HIGH} + u"=1";
    const std::u16string second = std::u16string{u'n', LOW} + u"=v" + HIGH;
    FakePlatform fake;
    fake.environment = test::env_block_of({first});
    auto block = build_env_block(fake, {second}, false);
    ASSERT_TRUE(block.ok());
    EXPECT_EQ(block.value(), test::env_block_of({second}));
}

TEST(EnvBlock, ClearedEnvironmentIsNeverRead) {
    FakePlatform fake;
    fake.environment = test::env_block_of({u"A=1"});
    auto empty = build_env_block(fake, {u"NOEQUALS", u""}, true);
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty.value(), std::u16string(2, u'\0'));
    auto one = build_env_block(fake, {u"B=2"}, true);
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(one.value(), test::env_block_of({u"B=2"}));
    EXPECT_TRUE(fake.log.empty());
}

TEST(EnvBlock, EnvironmentFailureIsAFatalStopWithTheSystemText) {
    {
        FakePlatform fake;  // no environment: the call fails with 8
        auto block = build_env_block(fake, {u"A=1"}, false);
        ASSERT_FALSE(block.ok());
        EXPECT_EQ(block.error().message,
                  "failure getting env string from OS: Not enough memory resources are available "
                  "to process this command. (os error 8)");
        EXPECT_EQ(fake.calls(Op::FreeEnvironmentStringsW), 0);
    }
    const std::pair<std::uint32_t, std::string> rows[] = {
        {1455, "System error 1455. (os error 1455)"},
        {test::CUSTOMER_CODE_BIT | 1, "unknown error (os error 536870913)"},
    };
    for (const auto& [code, text] : rows) {
        FakePlatform fake;
        fake.environment = test::env_block_of({});
        fake.fail(Op::GetEnvironmentStringsW, 1, code);
        auto block = build_env_block(fake, {}, false);
        ASSERT_FALSE(block.ok());
        EXPECT_EQ(block.error().message, "failure getting env string from OS: " + text);
    }
}

}  // namespace
}  // namespace zub
