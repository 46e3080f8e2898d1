// Opens by path and by relative name, identities and listings by handle, on real directories.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <optional>
#include <utility>

#include "platform/win32_long_path.h"
#include "platform/win32_platform.h"
#include "sandbox/grants.h"
#include "support/hostile_setup.h"
#include "support/scratch_dir.h"
#include "win32_test.h"

namespace zub {
namespace {

using test_support::ScratchDir;
using win32_test::u16;

struct Listed {
    std::uint32_t attributes;
    // cppcheck-suppress unusedStructMember ; read inside EXPECT_EQ, which the checker does not expand
    FileId file_id;
};

constexpr std::uint32_t OPEN_RIGHTS = DACL_WRITE_RIGHTS | FILE_LIST_DIRECTORY_RIGHT;

class Win32FilesTest : public ::testing::Test {
protected:
    // The walk's own open of a root: by path, a final link not followed.
    HandleResult open_path(const std::wstring& path) {
        return platform.create_file_w(u16(path).c_str(), OPEN_RIGHTS, FILE_SHARE_ALL, nullptr,
                                      OPEN_EXISTING_DISPOSITION, OPEN_NO_FOLLOW_FLAGS);
    }

    std::map<std::u16string, Listed> list_all(Handle directory) {
        std::map<std::u16string, Listed> entries;
        std::unique_ptr<DirectoryListing> listing = platform.open_directory_listing(directory);
        EXPECT_NE(listing, nullptr);
        if (listing == nullptr) return entries;
        DirEntry entry;
        while (listing->next(entry)) {
            EXPECT_TRUE(entries.emplace(entry.name, Listed{entry.attributes, entry.file_id}).second)
                << "listed twice";
        }
        EXPECT_FALSE(listing->next(entry)) << "a finished listing stays finished";
        return entries;
    }

    std::map<std::u16string, Listed> list_path(const std::wstring& path) {
        const HandleResult opened = open_path(path);
        EXPECT_TRUE(is_closable_handle(opened.handle)) << opened.error;
        if (!is_closable_handle(opened.handle)) return {};
        auto entries = list_all(opened.handle);
        platform.close_handle(opened.handle);
        return entries;
    }

    // Wine lists with 64-bit IDs only, so that is the width the walk queries there.
    std::optional<FileIdentity> identity_of(Handle file, IdWidth width = IdWidth::Bits64) {
        FileIdentity identity{};
        if (!platform.query_file_identity(file, width, &identity).ok) return std::nullopt;
        return identity;
    }

    Win32Platform platform;
    ScratchDir scratch;
};

TEST_F(Win32FilesTest, RootOpensWithItsOwnAttributes) {
    ASSERT_TRUE(scratch.make_file(L"plain.txt"));
    ASSERT_TRUE(scratch.make_dir(L"sub"));
    struct Case {
        std::wstring path;
        std::optional<bool> directory;  // nullopt: the open must fail as missing
    };
    const Case cases[] = {
        {scratch.join(L"plain.txt"), false},
        {scratch.join(L"sub"), true},
        {scratch.join(L"sub") + L"\\", true},
        {scratch.path(), true},
        {scratch.join(L"missing"), std::nullopt},
        {scratch.join(L"missing\\deeper"), std::nullopt},
        {scratch.join(L"plain.txt\\below"), std::nullopt},
    };
    for (const Case& c : cases) {
        const HandleResult opened = open_path(c.path);
        ASSERT_EQ(is_closable_handle(opened.handle), c.directory.has_value()) << c.path.size();
        if (!c.directory) {
            EXPECT_NE(opened.error, ERROR_ACCESS_DENIED_CODE);
            EXPECT_NE(opened.error, ERROR_SHARING_VIOLATION_CODE);
            continue;
        }
        const std::optional<FileIdentity> identity = identity_of(opened.handle);
        ASSERT_TRUE(identity.has_value());
        EXPECT_EQ((identity->attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) != 0, *c.directory);
        EXPECT_EQ(identity->attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT, 0u);
        platform.close_handle(opened.handle);
    }
}

TEST_F(Win32FilesTest, ListingByHandleGivesEntriesWithTheirFileIds) {
    ASSERT_TRUE(scratch.make_file(L"a.txt"));
    ASSERT_TRUE(scratch.make_file(L"b"));
    ASSERT_TRUE(scratch.make_dir(L"sub"));
    ASSERT_TRUE(scratch.make_file(L"sub\\inner.txt"));
    // A name beyond the basic plane reaches the listing as its surrogate pair.
    ASSERT_TRUE(scratch.make_file(L"clef-\U0001D11E"));

    const HandleResult root = open_path(scratch.path());
    ASSERT_TRUE(is_closable_handle(root.handle)) << root.error;
    const auto entries = list_all(root.handle);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries.count(u"."), 0u);
    EXPECT_EQ(entries.count(u".."), 0u);
    EXPECT_EQ(entries.at(u"a.txt").attributes & FILE_ATTRIBUTE_DIRECTORY_BIT, 0u);
    EXPECT_NE(entries.at(u"sub").attributes & FILE_ATTRIBUTE_DIRECTORY_BIT, 0u);
    EXPECT_EQ(entries.count(u"clef-\U0001D11E"), 1u);

    // Each entry opened relative to the directory is the object the listing showed.
    for (const auto& [name, listed] : entries) {
        const HandleResult child = platform.open_relative(root.handle, name, DACL_WRITE_RIGHTS);
        ASSERT_TRUE(is_closable_handle(child.handle)) << child.error;
        const std::optional<FileIdentity> identity = identity_of(child.handle);
        ASSERT_TRUE(identity.has_value());
        EXPECT_EQ(identity->file_id, listed.file_id);
        // The 128-bit query gives the same ID, zero-extended.
        EXPECT_EQ(identity_of(child.handle, IdWidth::Bits128)->file_id, listed.file_id);
        EXPECT_EQ(identity->attributes & FILE_ATTRIBUTE_DIRECTORY_BIT,
                  listed.attributes & FILE_ATTRIBUTE_DIRECTORY_BIT);
        platform.close_handle(child.handle);
    }

    const HandleResult sub = platform.open_relative(root.handle, u"sub", OPEN_RIGHTS);
    ASSERT_TRUE(is_closable_handle(sub.handle)) << sub.error;
    const auto inner = list_all(sub.handle);
    EXPECT_EQ(inner.size(), 1u);
    EXPECT_EQ(inner.count(u"inner.txt"), 1u);
    // A listing can be read again from its start.
    EXPECT_EQ(list_all(sub.handle).size(), 1u);
    platform.close_handle(sub.handle);
    platform.close_handle(root.handle);
}

TEST_F(Win32FilesTest, EmptyDirectoryGivesEmptyListing) {
    ASSERT_TRUE(scratch.make_dir(L"empty"));
    EXPECT_TRUE(list_path(scratch.join(L"empty")).empty());
}

TEST_F(Win32FilesTest, RelativeOpenTakesNamesLiterally) {
    ASSERT_TRUE(scratch.make_dir(L"foo"));
    ASSERT_TRUE(scratch.make_file(L"foo\\in-foo"));
    const HandleResult root = open_path(scratch.path());
    ASSERT_TRUE(is_closable_handle(root.handle));

    // No Win32 rules: a missing "foo." is not "foo", and no component may climb out.
    // A name longer than a counted string holds is refused, never cut short (to "foo").
    const std::pair<std::u16string, std::uint32_t> refused[] = {
        {u"foo.", ERROR_FILE_NOT_FOUND_CODE}, {u"foo ", ERROR_FILE_NOT_FOUND_CODE},
        {u"missing", ERROR_FILE_NOT_FOUND_CODE}, {u"foo" + std::u16string(0x8000, u'x'), ERROR_FILENAME_EXCED_RANGE}};
    for (const auto& [name, error] : refused) {
        const HandleResult opened = platform.open_relative(root.handle, name, DACL_WRITE_RIGHTS);
        EXPECT_FALSE(is_closable_handle(opened.handle)) << to_utf8_lossy(name.substr(0, 8));
        EXPECT_EQ(opened.error, error) << to_utf8_lossy(name.substr(0, 8));
    }

    // A real "foo." beside "foo" is its own object: only a "\\?\" path keeps the trailing dot.
    const std::wstring dot_path = L"\\\\?\\" + scratch.join(L"foo.");
    ASSERT_TRUE(CreateDirectoryW(dot_path.c_str(), nullptr)) << GetLastError();
    const auto entries = list_all(root.handle);
    ASSERT_EQ(entries.count(u"foo."), 1u);
    const HandleResult dot = platform.open_relative(root.handle, u"foo.", OPEN_RIGHTS);
    ASSERT_TRUE(is_closable_handle(dot.handle)) << dot.error;
    EXPECT_EQ(identity_of(dot.handle)->file_id, entries.at(u"foo.").file_id);
    EXPECT_NE(identity_of(dot.handle)->file_id, entries.at(u"foo").file_id);
    EXPECT_TRUE(list_all(dot.handle).empty());
    platform.close_handle(dot.handle);
    platform.close_handle(root.handle);
    // By its literal name: the scratch clean-up would take "foo." for "foo".
    EXPECT_TRUE(RemoveDirectoryW(dot_path.c_str())) << GetLastError();
}

// Wine makes no reparse points of its own, but a Unix symbolic link inside
// its drive is listed as one. Opened, it shows its target (Wine follows it even
// when asked not to), so a directory swapped for a link after the listing is
// told apart by its file ID alone.
TEST_F(Win32FilesTest, DirectorySwappedForUnixSymlinkOpensAsAnotherObject) {
    ASSERT_TRUE(scratch.make_dir(L"target"));
    ASSERT_TRUE(scratch.make_dir(L"flip"));
    const std::string target = win32_test::unix_path_of(scratch.join(L"target"));
    const std::string link = win32_test::unix_path_of(scratch.join(L"link"));
    const std::string flip = win32_test::unix_path_of(scratch.join(L"flip"));
    if (target.empty() || link.empty()) GTEST_SKIP() << "not running under Wine";
    if (!win32_test::run_unix("/bin/ln", "-s", target, link)) {
        GTEST_SKIP() << "cannot run a Unix program from this Wine";
    }

    const HandleResult root = open_path(scratch.path());
    ASSERT_TRUE(is_closable_handle(root.handle));
    const auto entries = list_all(root.handle);
    ASSERT_EQ(entries.count(u"link"), 1u);
    EXPECT_NE(entries.at(u"link").attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT, 0u);
    EXPECT_NE(entries.at(u"link").attributes & FILE_ATTRIBUTE_DIRECTORY_BIT, 0u);
    EXPECT_EQ(entries.at(u"flip").attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT, 0u);

    // Between the listing and the open, "flip" becomes a link to "target".
    ASSERT_TRUE(win32_test::run_unix("/bin/mv", "-T", flip, flip + ".parked"));
    ASSERT_TRUE(win32_test::run_unix("/bin/ln", "-s", target, flip));
    const HandleResult opened = platform.open_relative(root.handle, u"flip", OPEN_RIGHTS);
    if (is_closable_handle(opened.handle)) {
        const std::optional<FileIdentity> identity = identity_of(opened.handle);
        ASSERT_TRUE(identity.has_value());
        const bool shows_link = (identity->attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT) != 0;
        EXPECT_TRUE(shows_link || identity->file_id != entries.at(u"flip").file_id);
        if (!shows_link) {
            EXPECT_EQ(identity->file_id, entries.at(u"target").file_id) << "followed";
        }
        platform.close_handle(opened.handle);
    }
    platform.close_handle(root.handle);
    win32_test::run_unix("/bin/rm", "-f", "--", link);
    win32_test::run_unix("/bin/rm", "-f", "--", flip);
}

// Opened by name, a junction is itself: its reparse bit and its own file ID,
// never its target's.
TEST_F(Win32FilesTest, RelativeOpenOfJunctionGivesTheJunction) {
    ASSERT_TRUE(scratch.make_dir(L"target"));
    if (const DWORD error = test_support::make_junction(scratch.join(L"link"), scratch.join(L"target")))
        GTEST_SKIP() << "no junction can be made here: error " << error;
    const HandleResult root = open_path(scratch.path());
    ASSERT_TRUE(is_closable_handle(root.handle)) << root.error;
    const auto entries = list_all(root.handle);
    const HandleResult link = platform.open_relative(root.handle, u"link", DACL_READ_RIGHTS);
    ASSERT_TRUE(is_closable_handle(link.handle)) << link.error;
    const std::optional<FileIdentity> identity = identity_of(link.handle);
    ASSERT_TRUE(identity.has_value());
    EXPECT_NE(identity->attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT, 0u);
    EXPECT_EQ(identity->file_id, entries.at(u"link").file_id);
    EXPECT_NE(identity->file_id, entries.at(u"target").file_id);
    platform.close_handle(link.handle);
    platform.close_handle(root.handle);
}

// A batch oplock whose break is never acknowledged does not hold the relative
// open: it returns at once (a break in progress is success) with a usable handle.
TEST_F(Win32FilesTest, RelativeOpenDoesNotWaitForAnOplockBreak) {
    ASSERT_TRUE(scratch.make_file(L"held.txt"));
    test_support::BatchOplock oplock(scratch.join(L"held.txt"));
    if (!oplock.held()) GTEST_SKIP() << "no batch oplock can be taken here: error " << oplock.error();
    const HandleResult root = open_path(scratch.path());
    ASSERT_TRUE(is_closable_handle(root.handle)) << root.error;
    auto opening = std::async(std::launch::async, [&] {
        return platform.open_relative(root.handle, u"held.txt", DACL_WRITE_RIGHTS);
    });
    const bool returned = opening.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    const bool broke = oplock.break_requested();
    oplock.release();  // lets a waiting open finish
    const HandleResult file = opening.get();
    EXPECT_TRUE(returned) << "the open waited for the oplock's holder";
    EXPECT_TRUE(broke) << "the open did not meet the oplock";
    ASSERT_TRUE(is_closable_handle(file.handle)) << file.error;
    EXPECT_TRUE(identity_of(file.handle).has_value());
    platform.close_handle(file.handle);
    platform.close_handle(root.handle);
}

TEST_F(Win32FilesTest, DirectoryEntryShowsAttributesWithoutOpening) {
    ASSERT_TRUE(scratch.make_dir(L"sub"));
    const auto attributes = platform.attributes_from_directory_entry(u16(scratch.join(L"sub")).c_str());
    ASSERT_TRUE(attributes.has_value());
    EXPECT_NE(*attributes & FILE_ATTRIBUTE_DIRECTORY_BIT, 0u);
    EXPECT_FALSE(platform.attributes_from_directory_entry(u16(scratch.join(L"missing")).c_str()));
}

// The extended form is the full path by the Win32 rules; a root past MAX_PATH opens through it.
TEST_F(Win32FilesTest, TooLongPathOpensAgainThroughItsFullForm) {
    const std::wstring part = L"\\" + std::wstring(130, L'a') + L"\\" + std::wstring(130, L'b');
    const std::wstring full = scratch.path() + part, extended = LR"(\\?\)" + full;
    const std::pair<std::wstring, std::optional<std::wstring>> cases[] = {
        {scratch.join(L"short"), std::nullopt},  // its length is not what failed
        // Relative: made full from the current directory's string, opened through its handle.
        {part.substr(1), std::nullopt}, {full.substr(2), std::nullopt}, {full.substr(0, 2) + part.substr(1), std::nullopt},
        {full + LR"(\sub\..\foo.)", extended + L"\\foo"}, {full + L"/sub/../foo ", extended + L"\\foo"},
        {LR"(\\server\share)" + part, LR"(\\?\UNC\server\share)" + part}, {extended + L"\\foo.", std::nullopt},
        {LR"(\\.\)" + full, std::nullopt}, {L"//?/" + full, std::nullopt}, {LR"(\??\)" + full, std::nullopt}};
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(win32::extended_length_path(path.c_str()), expected) << path.size();

    // "foo" and "foo." made through "\\?\": this test program is not long-path aware.
    for (const std::wstring& dir : {full.substr(0, full.size() - 131), extended, extended + L"\\foo", extended + L"\\foo."})
        ASSERT_TRUE(CreateDirectoryW((dir.starts_with(LR"(\\?\)") ? dir : LR"(\\?\)" + dir).c_str(), nullptr));
    const auto classic = [](const wchar_t* path) {  // MAX_PATH in force: only an extended path opens
        SetLastError(ERROR_PATH_NOT_FOUND);
        if (!std::wstring_view(path).starts_with(LR"(\\?\)")) return INVALID_HANDLE_VALUE;
        return CreateFileW(path, LOCATE_RIGHTS, FILE_SHARE_ALL, nullptr, OPEN_EXISTING, OPEN_NO_FOLLOW_FLAGS, nullptr);
    };
    DWORD error = 0;
    const auto retried = reinterpret_cast<Handle>(win32::open_by_path((full + L"\\foo.").c_str(), classic, error));
    // "foo." is "foo" by the Win32 rules, never the directory "foo."; the plain open of
    // "foo" is past MAX_PATH for this program on Windows, so it is retried for real there.
    const HandleResult foo = open_path(full + L"\\foo"), lookalike = open_path(extended + L"\\foo.");
    const auto id = [&](Handle handle) { return identity_of(handle).value_or(FileIdentity{}).file_id; };
    ASSERT_TRUE(id(foo.handle).is_known() && id(lookalike.handle).is_known()) << foo.error;
    EXPECT_EQ(id(retried), id(foo.handle)) << error;
    EXPECT_NE(id(lookalike.handle), id(foo.handle));
    for (const Handle handle : {retried, foo.handle, lookalike.handle}) platform.close_handle(handle);
    test_support::remove_tree(LR"(\\?\)" + full.substr(0, full.size() - 131));
}

}  // namespace
}  // namespace zub
