// The no-follow attribute query and the directory listing on real directories.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "platform/win32_platform.h"
#include "scratch_dir.h"

namespace zub {
namespace {

using win32_test::ScratchDir;
using win32_test::u16;

std::map<std::u16string, std::uint32_t> list_all(Platform& platform, const std::wstring& dir) {
    std::map<std::u16string, std::uint32_t> entries;
    std::unique_ptr<DirectoryListing> listing = platform.open_directory_listing(u16(dir).c_str());
    EXPECT_NE(listing, nullptr) << "listing of " << u16(dir).size() << "-unit path";
    if (listing == nullptr) return entries;
    DirEntry entry;
    while (listing->next(entry)) {
        EXPECT_TRUE(entries.emplace(entry.name, entry.attributes).second) << "listed twice";
    }
    EXPECT_FALSE(listing->next(entry)) << "a finished listing stays finished";
    return entries;
}

class Win32FilesTest : public ::testing::Test {
protected:
    Win32Platform platform;
    ScratchDir scratch;
};

TEST_F(Win32FilesTest, QueryReportsOwnAttributes) {
    ASSERT_TRUE(scratch.make_file(L"plain.txt"));
    ASSERT_TRUE(scratch.make_dir(L"sub"));
    struct Case {
        std::wstring path;
        std::optional<bool> directory;  // nullopt: the query must fail
    };
    const Case cases[] = {
        {scratch.join(L"plain.txt"), false},
        {scratch.join(L"sub"), true},
        {scratch.join(L"sub") + L"\\", true},
        {scratch.path(), true},
        {scratch.join(L"missing"), std::nullopt},
        {scratch.join(L"missing\\deeper"), std::nullopt},
        {scratch.join(L"plain.txt\\below"), std::nullopt},
        {L"", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<std::uint32_t> attributes =
            platform.query_attributes_no_follow(u16(c.path).c_str());
        ASSERT_EQ(attributes.has_value(), c.directory.has_value()) << c.path.size();
        if (!attributes) continue;
        EXPECT_EQ((*attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) != 0, *c.directory);
        EXPECT_EQ(*attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT, 0u);
    }
}

TEST_F(Win32FilesTest, ListingGivesEntriesWithoutDotEntries) {
    ASSERT_TRUE(scratch.make_file(L"a.txt"));
    ASSERT_TRUE(scratch.make_file(L"b"));
    ASSERT_TRUE(scratch.make_dir(L"sub"));
    ASSERT_TRUE(scratch.make_file(L"sub\\inner.txt"));
    // A name beyond the basic plane reaches the listing as its surrogate pair.
    ASSERT_TRUE(scratch.make_file(L"clef-\U0001D11E"));

    // The separator is added unless the path already ends with one.
    for (const std::wstring& dir :
         {scratch.path(), scratch.path() + L"\\", scratch.path() + L"/"}) {
        const auto entries = list_all(platform, dir);
        ASSERT_EQ(entries.size(), 4u);
        EXPECT_EQ(entries.count(u"."), 0u);
        EXPECT_EQ(entries.count(u".."), 0u);
        EXPECT_EQ(entries.at(u"a.txt") & FILE_ATTRIBUTE_DIRECTORY_BIT, 0u);
        EXPECT_EQ(entries.at(u"b") & FILE_ATTRIBUTE_DIRECTORY_BIT, 0u);
        EXPECT_NE(entries.at(u"sub") & FILE_ATTRIBUTE_DIRECTORY_BIT, 0u);
        EXPECT_EQ(entries.count(u"clef-\U0001D11E"), 1u);
    }
    const auto inner = list_all(platform, scratch.join(L"sub"));
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner.count(u"inner.txt"), 1u);
}

TEST_F(Win32FilesTest, EmptyDirectoryGivesEmptyListing) {
    ASSERT_TRUE(scratch.make_dir(L"empty"));
    EXPECT_TRUE(list_all(platform, scratch.join(L"empty")).empty());
}

TEST_F(Win32FilesTest, MissingDirectoryCannotBeListed) {
    EXPECT_EQ(platform.open_directory_listing(u16(scratch.join(L"missing")).c_str()), nullptr);
    EXPECT_EQ(platform.open_directory_listing(u16(scratch.join(L"missing\\deeper")).c_str()),
              nullptr);
}

// Wine makes no reparse points of its own, but a Unix symbolic link inside
// its drive is listed as one.
TEST_F(Win32FilesTest, UnixSymlinkIsListedAsReparsePoint) {
    ASSERT_TRUE(scratch.make_dir(L"target"));
    const std::string target = win32_test::unix_path_of(scratch.join(L"target"));
    const std::string link = win32_test::unix_path_of(scratch.join(L"link"));
    if (target.empty() || link.empty()) GTEST_SKIP() << "not running under Wine";
    if (!win32_test::run_unix("/bin/ln", "-s", target, link)) {
        GTEST_SKIP() << "cannot run a Unix program from this Wine";
    }

    const auto entries = list_all(platform, scratch.path());
    win32_test::run_unix("/bin/rm", "-f", "--", link);
    ASSERT_EQ(entries.count(u"link"), 1u);
    EXPECT_NE(entries.at(u"link") & FILE_ATTRIBUTE_REPARSE_POINT_BIT, 0u);
    EXPECT_NE(entries.at(u"link") & FILE_ATTRIBUTE_DIRECTORY_BIT, 0u);
    EXPECT_EQ(entries.at(u"target") & FILE_ATTRIBUTE_REPARSE_POINT_BIT, 0u);
}

}  // namespace
}  // namespace zub
