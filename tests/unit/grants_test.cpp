#include "sandbox/grants.h"

#include <gtest/gtest.h>

#include <functional>

#include "fake_platform.h"

namespace zub {
namespace {

using test::FakePlatform;

int sid_token;
const Sid SID = &sid_token;

std::vector<OsString> granted_paths(const FakePlatform& fake) {
    std::vector<OsString> paths;
    for (const test::RecordedGrant& grant : fake.grants) paths.push_back(grant.path);
    return paths;
}

std::vector<std::string> calls_of(const FakePlatform& fake, const std::string& operation) {
    std::vector<std::string> entries;
    for (const std::string& entry : fake.log) {
        if (entry.rfind(operation + " ", 0) == 0) entries.push_back(entry.substr(operation.size() + 1));
    }
    return entries;
}

TEST(Grants, AccessEntryAndWriteFlagsForEachMask) {
    for (std::uint32_t mask : {ALLOW_SET_READ_ACCESS, ALLOW_SET_WRITE_ACCESS}) {
        FakePlatform fake;
        fake.add_file(u"C:\\w\\f.txt");
        ASSERT_TRUE(grant_allow_set_root(fake, u"C:\\w\\f.txt", SID, mask, false));

        ASSERT_EQ(fake.grants.size(), 1u);
        const test::RecordedGrant& grant = fake.grants[0];
        EXPECT_EQ(grant.path, u"C:\\w\\f.txt");
        EXPECT_EQ(grant.security_info, 0x20000004u);
        EXPECT_EQ(grant.entry.access_permissions, mask);
        EXPECT_EQ(grant.entry.access_mode, 1u);
        EXPECT_EQ(grant.entry.inheritance, 3u);
        EXPECT_EQ(grant.entry.trustee.multiple_trustee, nullptr);
        EXPECT_EQ(grant.entry.trustee.multiple_trustee_operation, 0u);
        EXPECT_EQ(grant.entry.trustee.trustee_form, 0u);
        EXPECT_EQ(grant.entry.trustee.trustee_type, 2u);
        EXPECT_EQ(grant.entry.trustee.name, SID);

        // A file root: one grant, no listing, the new ACL released before its descriptor.
        EXPECT_EQ(fake.operations(),
                  (std::vector<std::string>{"QueryAttributes", "GetNamedSecurityInfoW",
                                            "SetEntriesInAclW", "SetNamedSecurityInfoW",
                                            "LocalFree", "LocalFree"}));
        EXPECT_EQ(calls_of(fake, "LocalFree"), (std::vector<std::string>{"acl:2", "sd:1"}));
    }
}

// Roots that end before, or at, their own grant.
TEST(Grants, RootFailuresOnPlainAndBestEffortLists) {
    const OsString root = u"C:\\proj";
    struct Row {
        const char* name;
        std::function<void(FakePlatform&)> arrange;
        std::optional<SandboxError> plain;  // best effort always succeeds
        std::vector<std::string> frees;     // LocalFree calls, in order
    };
    const std::vector<Row> rows = {
        {"missing", [](FakePlatform&) {}, std::nullopt, {}},
        {"attributes unreadable",
         [&](FakePlatform& f) { f.add_dir(root); f.fail("QueryAttributes", 1, 5); }, std::nullopt, {}},
        {"junction", [&](FakePlatform& f) { f.add_reparse_point(root); },
         SandboxError{sandbox_error::ReparsePoint{root}}, {}},
        {"file symlink", [&](FakePlatform& f) { f.add_reparse_point(root, false); },
         SandboxError{sandbox_error::ReparsePoint{root}}, {}},
        {"GetNamedSecurityInfoW",
         [&](FakePlatform& f) { f.add_dir(root); f.fail("GetNamedSecurityInfoW", 1, 5); },
         SandboxError{sandbox_error::GetNamedSecurityInfoW{root, 5}}, {}},
        {"SetEntriesInAclW",
         [&](FakePlatform& f) { f.add_dir(root); f.fail("SetEntriesInAclW", 1, 87); },
         SandboxError{sandbox_error::SetEntriesInAclW{root, 87}}, {"sd:1"}},
        {"SetNamedSecurityInfoW",
         [&](FakePlatform& f) { f.add_dir(root); f.fail("SetNamedSecurityInfoW", 1, 1314); },
         SandboxError{sandbox_error::SetNamedSecurityInfoW{root, 1314}}, {"acl:2", "sd:1"}},
    };
    for (const Row& row : rows) {
        for (bool best_effort : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (best_effort ? " best effort" : " plain"));
            FakePlatform fake;
            row.arrange(fake);
            fake.add_file(root + u"\\inside.txt");  // must never be reached
            const Status<SandboxError> result =
                grant_allow_set_root(fake, root, SID, ALLOW_SET_WRITE_ACCESS, best_effort);
            if (row.plain && !best_effort) {
                ASSERT_FALSE(result);
                EXPECT_EQ(result.error(), *row.plain);
            } else {
                EXPECT_TRUE(result);
            }
            EXPECT_TRUE(fake.grants.empty());
            EXPECT_EQ(fake.calls("FindFirstFileExW"), 0);
            EXPECT_EQ(calls_of(fake, "LocalFree"), row.frees);
        }
    }
}

TEST(Grants, RootWithNulUnitIsSkippedUnqueried) {
    FakePlatform fake;
    fake.add_dir(u"C:\\a");
    const OsString root(u"C:\\a\0b", 6);
    EXPECT_TRUE(grant_allow_set_root(fake, root, SID, ALLOW_SET_READ_ACCESS, false));
    EXPECT_TRUE(fake.log.empty());
}

// R
// ├── a/          x.txt, y/ (z.txt)
// ├── b.txt
// ├── link -> …   (junction: never granted nor entered)
// ├── c/          w.txt, flink (file symlink)
// └── d/          (empty)
void add_small_tree(FakePlatform& fake) {
    fake.add_dir(u"R");
    fake.add_dir(u"R\\a");
    fake.add_file(u"R\\a\\x.txt");
    fake.add_dir(u"R\\a\\y");
    fake.add_file(u"R\\a\\y\\z.txt");
    fake.add_file(u"R\\b.txt");
    fake.add_reparse_point(u"R\\link");
    fake.add_dir(u"R\\link\\secret");
    fake.add_dir(u"R\\c");
    fake.add_file(u"R\\c\\w.txt");
    fake.add_reparse_point(u"R\\c\\flink", false);
    fake.add_dir(u"R\\d");
}

TEST(Grants, TreeIsGrantedDepthFirstParentsBeforeChildren) {
    for (bool best_effort : {false, true}) {
        FakePlatform fake;
        add_small_tree(fake);
        ASSERT_TRUE(grant_allow_set_root(fake, u"R", SID, ALLOW_SET_READ_ACCESS, best_effort));

        EXPECT_EQ(granted_paths(fake),
                  (std::vector<OsString>{u"R", u"R\\a", u"R\\b.txt", u"R\\c", u"R\\d",
                                         u"R\\c\\w.txt", u"R\\a\\x.txt", u"R\\a\\y",
                                         u"R\\a\\y\\z.txt"}));
        EXPECT_EQ(fake.listed,
                  (std::vector<OsString>{u"R", u"R\\d", u"R\\c", u"R\\a", u"R\\a\\y"}));
        for (const test::RecordedGrant& grant : fake.grants) {
            EXPECT_EQ(grant.entry.access_permissions, ALLOW_SET_READ_ACCESS);
        }
        // One listing open at a time, each closed before the next starts.
        std::vector<std::string> listing_ops;
        for (const std::string& op : fake.operations()) {
            if (op == "FindFirstFileExW" || op == "FindClose") listing_ops.push_back(op);
        }
        for (std::size_t i = 0; i < listing_ops.size(); ++i) {
            EXPECT_EQ(listing_ops[i], i % 2 == 0 ? "FindFirstFileExW" : "FindClose");
        }
        // Only the root's own attributes are queried; entries keep the listing's.
        EXPECT_EQ(fake.calls("QueryAttributes"), 1);
    }
}

TEST(Grants, FailuresBelowTheRootAreIgnored) {
    struct Row {
        const char* name;
        std::function<void(FakePlatform&)> arrange;
        std::vector<OsString> granted;
    };
    // The 2nd grant is R\a, a directory: its failure must not stop it being entered.
    const std::vector<OsString> all_but_a = {u"R", u"R\\b.txt", u"R\\c", u"R\\d", u"R\\c\\w.txt",
                                             u"R\\a\\x.txt", u"R\\a\\y", u"R\\a\\y\\z.txt"};
    const std::vector<Row> rows = {
        {"GetNamedSecurityInfoW", [](FakePlatform& f) { f.fail("GetNamedSecurityInfoW", 2, 5); },
         all_but_a},
        {"SetEntriesInAclW", [](FakePlatform& f) { f.fail("SetEntriesInAclW", 2, 8); }, all_but_a},
        {"SetNamedSecurityInfoW", [](FakePlatform& f) { f.fail("SetNamedSecurityInfoW", 2, 5); },
         all_but_a},
        {"unlistable subdirectory", [](FakePlatform& f) { f.make_unlistable(u"R\\a"); },
         {u"R", u"R\\a", u"R\\b.txt", u"R\\c", u"R\\d", u"R\\c\\w.txt"}},
        {"listing of the root fails", [](FakePlatform& f) { f.fail("FindFirstFileExW", 1, 5); },
         {u"R"}},
    };
    for (const Row& row : rows) {
        for (bool best_effort : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (best_effort ? " best effort" : " plain"));
            FakePlatform fake;
            add_small_tree(fake);
            row.arrange(fake);
            EXPECT_TRUE(grant_allow_set_root(fake, u"R", SID, ALLOW_SET_WRITE_ACCESS, best_effort));
            EXPECT_EQ(granted_paths(fake), row.granted);
            // Every descriptor and ACL handed out was released (the fake checks at its end).
        }
    }
}

TEST(Grants, RepeatedPathIsGrantedEachTimeInCallOrder) {
    FakePlatform fake;
    fake.add_dir(u"C:\\dup");
    ASSERT_TRUE(grant_allow_set_root(fake, u"C:\\dup", SID, ALLOW_SET_READ_ACCESS, false));
    ASSERT_TRUE(grant_allow_set_root(fake, u"C:\\dup", SID, ALLOW_SET_WRITE_ACCESS, false));
    ASSERT_EQ(fake.grants.size(), 2u);
    EXPECT_EQ(fake.grants[0].entry.access_permissions, ALLOW_SET_READ_ACCESS);
    EXPECT_EQ(fake.grants[1].entry.access_permissions, ALLOW_SET_WRITE_ACCESS);
    EXPECT_EQ(fake.listed, (std::vector<OsString>{u"C:\\dup", u"C:\\dup"}));
}

TEST(Grants, PathsPassUnitForUnit) {
    FakePlatform fake;
    const OsString lone(1, char16_t(0xD800));
    fake.add_dir(u"C:\\u" + lone);
    fake.add_file(u"C:\\u" + lone + u"\\\U0001F600" + lone);
    fake.fail("SetNamedSecurityInfoW", 1, 5);
    const Status<SandboxError> result =
        grant_allow_set_root(fake, u"C:\\u" + lone, SID, ALLOW_SET_READ_ACCESS, false);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), (SandboxError{sandbox_error::SetNamedSecurityInfoW{u"C:\\u" + lone, 5}}));

    ASSERT_TRUE(grant_allow_set_root(fake, u"C:\\u" + lone, SID, ALLOW_SET_READ_ACCESS, false));
    EXPECT_EQ(granted_paths(fake),
              (std::vector<OsString>{u"C:\\u" + lone, u"C:\\u" + lone + u"\\\U0001F600" + lone}));
}

TEST(Grants, JoinPath) {
    struct Case {
        OsString directory, name, joined;
    };
    const Case cases[] = {
        {u"C:\\dir", u"x", u"C:\\dir\\x"},
        {u"C:\\dir\\", u"x", u"C:\\dir\\x"},
        {u"C:/dir/", u"x", u"C:/dir/x"},
        {u"rel", u"x y", u"rel\\x y"},
        {u"\\\\?\\C:\\d", u"x", u"\\\\?\\C:\\d\\x"},
        {u"\\\\server\\share", u"x", u"\\\\server\\share\\x"},
        {u"C:", u"x", u"C:x"},  // the drive's current directory, not its root
        {u"C:\\", u"x", u"C:\\x"},
        {u"", u"x", u"x"},
    };
    for (const Case& c : cases) EXPECT_EQ(join_path(c.directory, c.name), c.joined);
}

// A chain of directories R\d\d\…\d, made up as it is listed, so the test's own
// memory stays flat: a recursive walk would run out of call stack here.
class DeepTree : public FakePlatform {
public:
    static constexpr int DEPTH = 100000;

    std::optional<std::uint32_t> query_attributes_no_follow(const char16_t*) override {
        return FILE_ATTRIBUTE_DIRECTORY_BIT;
    }
    std::unique_ptr<DirectoryListing> open_directory_listing(const char16_t*) override {
        return std::make_unique<Listing>(listings++ < DEPTH);
    }
    std::uint32_t get_named_security_info_w(const char16_t*, std::uint32_t, std::uint32_t,
                                            Acl* dacl, SecurityDescriptor* descriptor) override {
        *descriptor = reinterpret_cast<SecurityDescriptor>(&descriptor_token_);
        *dacl = reinterpret_cast<Acl>(&descriptor_token_);
        return 0;
    }
    std::uint32_t set_entries_in_acl_w(std::uint32_t, const ExplicitAccess*, Acl,
                                       Acl* new_acl) override {
        *new_acl = reinterpret_cast<Acl>(&acl_token_);
        return 0;
    }
    std::uint32_t set_named_security_info_w(const char16_t* path, std::uint32_t, std::uint32_t,
                                            Acl) override {
        if (++granted == DEPTH + 1) deepest_length = std::char_traits<char16_t>::length(path);
        return 0;
    }
    void local_free(void* memory) override { ++(memory == &acl_token_ ? acl_frees : descriptor_frees); }

    int listings = 0;
    int granted = 0;
    int acl_frees = 0;
    int descriptor_frees = 0;
    std::size_t deepest_length = 0;

private:
    class Listing : public DirectoryListing {
    public:
        explicit Listing(bool has_child) : has_child_(has_child) {}
        bool next(DirEntry& entry) override {
            if (!has_child_) return false;
            has_child_ = false;
            entry = {u"d", FILE_ATTRIBUTE_DIRECTORY_BIT};
            return true;
        }

    private:
        bool has_child_;
    };
    char descriptor_token_ = 0;
    char acl_token_ = 0;
};

TEST(Grants, HundredThousandDeepTreeIsWalkedIteratively) {
    DeepTree tree;
    ASSERT_TRUE(grant_allow_set_root(tree, u"R", SID, ALLOW_SET_READ_ACCESS, false));
    EXPECT_EQ(tree.granted, DeepTree::DEPTH + 1);
    EXPECT_EQ(tree.listings, DeepTree::DEPTH + 1);
    EXPECT_EQ(tree.deepest_length, 1u + 2u * DeepTree::DEPTH);
    EXPECT_EQ(tree.acl_frees, DeepTree::DEPTH + 1);
    EXPECT_EQ(tree.descriptor_frees, DeepTree::DEPTH + 1);
}

}  // namespace
}  // namespace zub
