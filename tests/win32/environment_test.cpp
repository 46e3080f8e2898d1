// The helper's own environment block, its round trip through the child's
// block builder, and system message texts.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "child/env_block.h"
#include "platform/win32_platform.h"
#include "win32_test.h"

namespace zub {
namespace {

std::vector<std::u16string> split_block(const char16_t* block) {
    std::vector<std::u16string> strings;
    for (const char16_t* cursor = block; *cursor != u'\0';) {
        strings.emplace_back(cursor);
        cursor += strings.back().size() + 1;
    }
    return strings;
}

class Win32EnvironmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Values the block must carry unit for unit: a supplementary character
        // and an unpaired surrogate.
        const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
        SetEnvironmentVariableW(L"ZUB_WIN32_TEST_LONE", lone);
        SetEnvironmentVariableW(L"ZUB_WIN32_TEST_CLEF", L"\U0001D11E=x");
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"ZUB_WIN32_TEST_LONE", nullptr);
        SetEnvironmentVariableW(L"ZUB_WIN32_TEST_CLEF", nullptr);
    }
    Win32Platform platform;
};

TEST_F(Win32EnvironmentTest, OwnEnvironmentRoundTripsThroughTheChildBlock) {
    std::uint32_t error = 0;
    const char16_t* own = platform.get_environment_strings_w(&error);
    ASSERT_NE(own, nullptr) << error;
    std::vector<std::u16string> expected;
    for (const std::u16string& s : split_block(own)) {
        if (s.find(u'=', 1) != std::u16string::npos) expected.push_back(s);
    }
    platform.free_environment_strings_w(own);

    Result<std::u16string, FatalStop> block = build_env_block(platform, {}, false);
    ASSERT_TRUE(block.ok()) << block.error().message;
    ASSERT_GE(block.value().size(), 2u);
    EXPECT_EQ(block.value().substr(block.value().size() - 2), std::u16string(2, u'\0'));

    std::map<std::u16string, int> seen;
    for (const std::u16string& s : split_block(block.value().c_str())) ++seen[s];
    EXPECT_EQ(seen.size(), expected.size());
    for (const std::u16string& s : expected) EXPECT_EQ(seen[s], 1) << to_utf8_lossy(s);
    EXPECT_EQ(seen[u"ZUB_WIN32_TEST_LONE=a\xD800"
                   u"b"],
              1);
    EXPECT_EQ(seen[u"ZUB_WIN32_TEST_CLEF=\U0001D11E=x"], 1);
}

TEST_F(Win32EnvironmentTest, MessagesHaveNoTrailingLineEnd) {
    for (const std::uint32_t code : {2u, 5u, 87u}) {
        const std::string text = platform.format_message(code);
        ASSERT_FALSE(text.empty()) << code;
        const char last = text.back();
        EXPECT_TRUE(last != '\r' && last != '\n' && last != ' ') << code << ": " << text;
    }
    std::string not_found = platform.format_message(2);
    for (char& c : not_found) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(not_found.find("file"), std::string::npos) << not_found;
    // An application-defined code has no system text: the caller words that itself.
    EXPECT_EQ(platform.format_message(0x20000001), "");
}

}  // namespace
}  // namespace zub
