#include "sandbox/grants.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "fake_platform.h"

namespace zub {
namespace {

using test::FakePlatform;
using test::Op;

int sid_token;
const Sid SID = &sid_token;

std::vector<OsString> granted_paths(const FakePlatform& fake) {
    std::vector<OsString> paths;
    for (const test::RecordedGrant& grant : fake.grants) paths.push_back(grant.path);
    return paths;
}

// The details that the log gives for each call of `operation`.
std::vector<std::string> calls_of(const FakePlatform& fake, Op operation) {
    const std::string prefix = std::string(test::op_name(operation)) + " ";
    std::vector<std::string> entries;
    for (const std::string& entry : fake.log) {
        if (entry.rfind(prefix, 0) == 0) entries.push_back(entry.substr(prefix.size()));
    }
    return entries;
}

TEST(Grants, AccessEntryAndDescriptorForEachMask) {
    // The control bits read, and those written: never protected, auto-inherited as it was.
    const std::pair<std::uint16_t, std::uint16_t> controls[] = {
        {0x0404, 0x0404}, {0x1404, 0x0404}, {0x1004, 0x0004}, {0x8004, 0x0004}};
    for (std::uint32_t mask : {ALLOW_SET_READ_ACCESS, ALLOW_SET_WRITE_ACCESS})
    for (const auto& [read, written] : controls) {
        SCOPED_TRACE(read);
        FakePlatform fake;
        fake.add_file(u"C:\\w\\f.txt");
        fake.files[u"C:\\w\\f.txt"].dacl_control = read;
        ASSERT_TRUE(grant_allow_set_root(fake, fake, u"C:\\w\\f.txt", SID, mask, false));

        ASSERT_EQ(fake.grants.size(), 1u);
        const test::RecordedGrant& grant = fake.grants[0];
        EXPECT_EQ(grant.path, u"C:\\w\\f.txt");
        EXPECT_EQ(grant.security_info, 4u);
        EXPECT_EQ(grant.control, written);
        EXPECT_EQ(grant.entry.access_permissions, mask);
        EXPECT_EQ(grant.entry.access_mode, 1u);
        EXPECT_EQ(grant.entry.inheritance, 3u);
        EXPECT_EQ(grant.entry.trustee.multiple_trustee, nullptr);
        EXPECT_EQ(grant.entry.trustee.multiple_trustee_operation, 0u);
        EXPECT_EQ(grant.entry.trustee.trustee_form, 0u);
        EXPECT_EQ(grant.entry.trustee.trustee_type, 2u);
        EXPECT_EQ(grant.entry.trustee.name, SID);

        // A file root: located by path, opened again through that handle, one
        // grant, no listing, the new ACL released before its descriptor.
        EXPECT_EQ(fake.operations(),
                  (std::vector<Op>{Op::CreateFileW, Op::QueryFileIdentity, Op::NtCreateFile,
                                   Op::CloseHandle, Op::GetKernelObjectSecurity,
                                   Op::GetSecurityDescriptorControl, Op::GetSecurityDescriptorDacl,
                                   Op::SetEntriesInAclW, Op::SetKernelObjectSecurity, Op::LocalFree,
                                   Op::CloseHandle}));
        EXPECT_EQ(calls_of(fake, Op::LocalFree), (std::vector<std::string>{"acl:1"}));
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
        {"open fails otherwise", [&](FakePlatform& f) { f.add_dir(root); f.fail(Op::CreateFileW, 1, 123); },
         std::nullopt, {}},
        {"attributes unreadable",
         [&](FakePlatform& f) { f.add_dir(root); f.fail(Op::QueryFileIdentity, 1, 5); },
         std::nullopt, {}},
        {"junction", [&](FakePlatform& f) { f.add_reparse_point(root); },
         SandboxError{sandbox_error::ReparsePoint{root}}, {}},
        {"file symlink", [&](FakePlatform& f) { f.add_reparse_point(root, false); },
         SandboxError{sandbox_error::ReparsePoint{root}}, {}},
        {"junction to a directory elsewhere",
         [&](FakePlatform& f) { f.add_dir(u"C:\\elsewhere"); f.add_reparse_point(root, true, u"C:\\elsewhere"); },
         SandboxError{sandbox_error::ReparsePoint{root}}, {}},
        {"opened again, refused otherwise",
         [&](FakePlatform& f) { f.add_dir(root); f.fail(Op::NtCreateFile, 1, 123); },
         SandboxError{sandbox_error::GetNamedSecurityInfoW{root, 123}}, {}},
        // Refused or in use: the directory entry shows what it is, the DACL read fails.
        {"refused junction",
         [&](FakePlatform& f) { f.add_reparse_point(root); f.files[root].denied_access = ~0u; },
         SandboxError{sandbox_error::ReparsePoint{root}}, {}},
        {"refused directory",
         [&](FakePlatform& f) { f.add_dir(root); f.files[root].denied_access = ~0u; },
         SandboxError{sandbox_error::GetNamedSecurityInfoW{root, 5}}, {}},
        {"in use", [&](FakePlatform& f) { f.add_dir(root); for (int i = 1; i <= 3; ++i) f.fail(Op::CreateFileW, i, 32); },
         SandboxError{sandbox_error::GetNamedSecurityInfoW{root, 32}}, {}},
        {"refused, then gone", [&](FakePlatform& f) { f.add_dir(root); f.files[root].denied_access = ~0u; f.fail(Op::FindFirstFileExW, 1, 2); },
         std::nullopt, {}},
        {"GetKernelObjectSecurity",
         [&](FakePlatform& f) { f.add_dir(root); f.fail(Op::GetKernelObjectSecurity, 1, 5); },
         SandboxError{sandbox_error::GetNamedSecurityInfoW{root, 5}}, {}},
        // Too small, yet asking for no more than the buffer holds: not read again.
        {"GetKernelObjectSecurity short, asking for no more",
         [&](FakePlatform& f) { f.add_dir(root); f.fail(Op::GetKernelObjectSecurity, 1, 122); },
         SandboxError{sandbox_error::GetNamedSecurityInfoW{root, 122}}, {}},
        {"GetSecurityDescriptorControl",
         [&](FakePlatform& f) { f.add_dir(root); f.fail(Op::GetSecurityDescriptorControl, 1, 1338); },
         SandboxError{sandbox_error::GetNamedSecurityInfoW{root, 1338}}, {}},
        {"GetSecurityDescriptorDacl",
         [&](FakePlatform& f) { f.add_dir(root); f.fail(Op::GetSecurityDescriptorDacl, 1, 1337); },
         SandboxError{sandbox_error::GetNamedSecurityInfoW{root, 1337}}, {}},
        {"SetEntriesInAclW",
         [&](FakePlatform& f) { f.add_dir(root); f.fail(Op::SetEntriesInAclW, 1, 87); },
         SandboxError{sandbox_error::SetEntriesInAclW{root, 87}}, {}},
        {"SetKernelObjectSecurity",
         [&](FakePlatform& f) { f.add_dir(root); f.fail(Op::SetKernelObjectSecurity, 1, 1314); },
         SandboxError{sandbox_error::SetNamedSecurityInfoW{root, 1314}}, {"acl:1"}},
        // Opened for reading only, so the write itself is refused, as by path.
        {"DACL not writable",
         [&](FakePlatform& f) { f.add_dir(root); f.files[root].denied_access = 0x00040000; },
         SandboxError{sandbox_error::SetNamedSecurityInfoW{root, 5}}, {"acl:1"}},
        // Everyone is let in already; a merge would lock all but the container out.
        {"null DACL", [&](FakePlatform& f) { f.add_file(root); f.files[root].null_dacl = true; },
         std::nullopt, {}},
        {"no DACL", [&](FakePlatform& f) { f.add_file(root); f.files[root].dacl_control = 0x0400; },
         std::nullopt, {}},
    };
    for (const Row& row : rows) {
        for (bool best_effort : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (best_effort ? " best effort" : " plain"));
            FakePlatform fake;
            row.arrange(fake);
            fake.add_file(root + u"\\inside.txt");  // must never be reached
            const Status<SandboxError> result =
                grant_allow_set_root(fake, fake, root, SID, ALLOW_SET_WRITE_ACCESS, best_effort);
            if (row.plain && !best_effort) {
                ASSERT_FALSE(result);
                EXPECT_EQ(result.error(), *row.plain);
            } else {
                EXPECT_TRUE(result);
            }
            EXPECT_TRUE(fake.grants.empty());
            EXPECT_TRUE(fake.listed.empty());
            EXPECT_EQ(calls_of(fake, Op::LocalFree), row.frees);
        }
    }
}

TEST(Grants, RootWithNulUnitIsSkippedUnqueried) {
    FakePlatform fake;
    fake.add_dir(u"C:\\a");
    const OsString root(u"C:\\a\0b", 6);
    EXPECT_TRUE(grant_allow_set_root(fake, fake, root, SID, ALLOW_SET_READ_ACCESS, false));
    EXPECT_TRUE(fake.log.empty());
}

// R with a/ (x.txt, y/ (z.txt)) and b.txt: the start of both trees below.
void add_root_a_and_b(FakePlatform& fake) {
    fake.add_dir(u"R");
    fake.add_dir(u"R\\a");
    fake.add_file(u"R\\a\\x.txt");
    fake.add_dir(u"R\\a\\y");
    fake.add_file(u"R\\a\\y\\z.txt");
    fake.add_file(u"R\\b.txt");
}

// R
// ├── a/          x.txt, y/ (z.txt)
// ├── b.txt
// ├── link -> …   (junction: never granted nor entered)
// ├── c/          w.txt, flink (file symlink)
// └── d/          (empty)
void add_small_tree(FakePlatform& fake) {
    add_root_a_and_b(fake);
    fake.add_reparse_point(u"R\\link");
    fake.add_dir(u"R\\link\\secret");
    fake.add_dir(u"R\\c");
    fake.add_file(u"R\\c\\w.txt");
    fake.add_reparse_point(u"R\\c\\flink", false);
    fake.add_dir(u"R\\d");
}

TEST(Grants, TreeIsGrantedDepthFirstParentsBeforeChildren) {
    for (bool best_effort : {false, true})
    for (test::FakeVolume volume : {test::FakeVolume::Ntfs, test::FakeVolume::Refs}) {
        FakePlatform fake;
        fake.volume = volume;
        add_small_tree(fake);
        // A script's oplocks hold no open up.
        fake.files[u"R"].oplocked = fake.files[u"R\\a"].oplocked = true;
        ASSERT_TRUE(grant_allow_set_root(fake, fake, u"R", SID, ALLOW_SET_READ_ACCESS, best_effort));

        EXPECT_EQ(granted_paths(fake),
                  (std::vector<OsString>{u"R", u"R\\a", u"R\\b.txt", u"R\\c", u"R\\d",
                                         u"R\\c\\w.txt", u"R\\a\\x.txt", u"R\\a\\y",
                                         u"R\\a\\y\\z.txt"}));
        EXPECT_EQ(fake.listed,
                  (std::vector<OsString>{u"R", u"R\\d", u"R\\c", u"R\\a", u"R\\a\\y"}));
        for (const test::RecordedGrant& grant : fake.grants) {
            EXPECT_EQ(grant.entry.access_permissions, ALLOW_SET_READ_ACCESS);
        }
        // Only the root is reached by path; each entry is opened by its name
        // relative to its directory (a directory again for its listing), the
        // root again through its own handle, and links are never opened.
        EXPECT_EQ(fake.calls(Op::CreateFileW), 1);
        EXPECT_EQ(calls_of(fake, Op::NtCreateFile).size(), 1u + 8u + 4u);
        EXPECT_EQ(fake.calls(Op::FindFirstFileExW), 0);
        // One DACL write per object: the system's propagation would have made 26.
        EXPECT_EQ(fake.dacl_writes, 9u);
        EXPECT_EQ(fake.dacl_writes_if_propagated, 26u);
    }
}

// Only objects whose DACL changes are written: a tree granted before costs
// one read per object and no write.
TEST(Grants, WrittenAreExactlyTheObjectsThatLackTheEntry) {
    const auto grant = [](FakePlatform& f, const OsString& root) {
        ASSERT_TRUE(grant_allow_set_root(f, f, root, SID, ALLOW_SET_READ_ACCESS, false));
    };
    const std::vector<OsString> all = {u"R", u"R\\a", u"R\\b.txt", u"R\\c", u"R\\d",
                                       u"R\\c\\w.txt", u"R\\a\\x.txt", u"R\\a\\y", u"R\\a\\y\\z.txt"};
    struct Row {
        const char* name;
        std::function<void(FakePlatform&)> before;
        std::vector<OsString> written;
        int rereads = 0;  // reads past one per object
    };
    // Granted before, then the container's entry on one object changed.
    const auto changed = [&](const char16_t* path, void (*change)(test::FakeAce&)) {
        return [=](FakePlatform& f) { grant(f, u"R"); change(f.files[path].dacl.at(0)); };
    };
    const std::vector<Row> rows = {
        {"first grant", [](FakePlatform&) {}, all},
        {"granted before", [&](FakePlatform& f) { grant(f, u"R"); }, {}},
        {"the container's entry only inherited", changed(u"R\\a\\y", [](test::FakeAce& e) { e.flags = 0x13; }),
         {u"R\\a\\y"}},
        {"the container denied", changed(u"R\\c\\w.txt", [](test::FakeAce& e) { e.deny = 1; }), {u"R\\c\\w.txt"}},
        {"the container's entry with fewer rights", changed(u"R\\b.txt", [](test::FakeAce& e) { e.mask = 1; }),
         {u"R\\b.txt"}},
        {"a subtree granted before", [&](FakePlatform& f) { grant(f, u"R\\a"); },
         {u"R", u"R\\b.txt", u"R\\c", u"R\\d", u"R\\c\\w.txt"}},
        {"protected since", [&](FakePlatform& f) { grant(f, u"R"); f.files[u"R\\c"].dacl_control |= 0x1000; },
         {u"R\\c"}},
        // Left as it is, and its contents still granted.
        {"null DACL on a subdirectory", [](FakePlatform& f) { f.files[u"R\\a"].null_dacl = true; },
         {u"R", u"R\\b.txt", u"R\\c", u"R\\d", u"R\\c\\w.txt", u"R\\a\\x.txt", u"R\\a\\y", u"R\\a\\y\\z.txt"}},
        // Read again into a buffer grown to its size.
        {"DACL larger than the first buffer",
         [](FakePlatform& f) { f.files[u"R\\b.txt"].dacl.assign(100, {nullptr, 1, 0}); }, all, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform fake;
        add_small_tree(fake);
        row.before(fake);
        fake.grants.clear();
        const int reads_before = fake.calls(Op::GetKernelObjectSecurity);
        grant(fake, u"R");
        EXPECT_EQ(granted_paths(fake), row.written);
        EXPECT_EQ(fake.calls(Op::GetKernelObjectSecurity) - reads_before, 9 + row.rereads);
    }
}

TEST(Grants, VolumeWithoutFileIdsGrantsTheRootOnly) {
    for (test::FakeVolume volume : {test::FakeVolume::NoIds, test::FakeVolume::AllOnesIds}) {
        FakePlatform fake;
        fake.volume = volume;
        add_small_tree(fake);
        ASSERT_TRUE(grant_allow_set_root(fake, fake, u"R", SID, ALLOW_SET_READ_ACCESS, false));
        EXPECT_EQ(granted_paths(fake), std::vector<OsString>{u"R"});
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
        {"GetKernelObjectSecurity", [](FakePlatform& f) { f.fail(Op::GetKernelObjectSecurity, 2, 5); }, all_but_a},
        {"SetEntriesInAclW", [](FakePlatform& f) { f.fail(Op::SetEntriesInAclW, 2, 8); }, all_but_a},
        {"SetKernelObjectSecurity", [](FakePlatform& f) { f.fail(Op::SetKernelObjectSecurity, 2, 5); }, all_but_a},
        {"DACL of a subdirectory not writable",
         [](FakePlatform& f) { f.files[u"R\\a"].denied_access = 0x00040000; }, all_but_a},
        {"unlistable subdirectory", [](FakePlatform& f) { f.make_unlistable(u"R\\a"); },
         {u"R", u"R\\a", u"R\\b.txt", u"R\\c", u"R\\d", u"R\\c\\w.txt"}},
        {"subdirectory gone before its open", [](FakePlatform& f) { f.fail(Op::NtCreateFile, 2, 2); },
         {u"R", u"R\\b.txt", u"R\\c", u"R\\d", u"R\\c\\w.txt"}},
        // R again, a, b.txt, c, d, then d, c and w.txt: a's turn to be listed is the 9th open.
        {"subdirectory gone before it is opened for listing",
         [](FakePlatform& f) { f.fail(Op::NtCreateFile, 9, 2); },
         {u"R", u"R\\a", u"R\\b.txt", u"R\\c", u"R\\d", u"R\\c\\w.txt"}},
        {"subdirectory another object when opened for listing",
         [](FakePlatform& f) {
             f.after_call(Op::SetKernelObjectSecurity, 5,
                          [](FakePlatform& g) { g.files[u"R\\a"].file_id = FileId::from_64(7); });
         },
         {u"R", u"R\\a", u"R\\b.txt", u"R\\c", u"R\\d", u"R\\c\\w.txt"}},
        {"identity of a subdirectory unreadable",
         [](FakePlatform& f) { f.fail(Op::QueryFileIdentity, 2, 5); },
         {u"R", u"R\\b.txt", u"R\\c", u"R\\d", u"R\\c\\w.txt"}},
        {"listing of the root fails",
         [](FakePlatform& f) { f.fail(Op::GetFileInformationByHandleEx, 1, 5); }, {u"R"}},
    };
    for (const Row& row : rows) {
        for (bool best_effort : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (best_effort ? " best effort" : " plain"));
            FakePlatform fake;
            add_small_tree(fake);
            row.arrange(fake);
            EXPECT_TRUE(grant_allow_set_root(fake, fake, u"R", SID, ALLOW_SET_WRITE_ACCESS, best_effort));
            EXPECT_EQ(granted_paths(fake), row.granted);
            // Every descriptor and ACL handed out was released (the fake checks at its end).
        }
    }
}

TEST(Grants, RepeatedPathIsGrantedEachTimeInCallOrder) {
    FakePlatform fake;
    fake.add_dir(u"C:\\dup");
    ASSERT_TRUE(grant_allow_set_root(fake, fake, u"C:\\dup", SID, ALLOW_SET_READ_ACCESS, false));
    ASSERT_TRUE(grant_allow_set_root(fake, fake, u"C:\\dup", SID, ALLOW_SET_WRITE_ACCESS, false));
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
    fake.fail(Op::SetKernelObjectSecurity, 1, 5);
    const Status<SandboxError> result =
        grant_allow_set_root(fake, fake, u"C:\\u" + lone, SID, ALLOW_SET_READ_ACCESS, false);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), (SandboxError{sandbox_error::SetNamedSecurityInfoW{u"C:\\u" + lone, 5}}));

    ASSERT_TRUE(grant_allow_set_root(fake, fake, u"C:\\u" + lone, SID, ALLOW_SET_READ_ACCESS, false));
    EXPECT_EQ(granted_paths(fake),
              (std::vector<OsString>{u"C:\\u" + lone, u"C:\\u" + lone + u"\\\U0001F600" + lone}));
}

// Trees made up as they are listed, so the test's own memory stays flat: a
// chain of directories R\d\d\…\d (a recursive walk would run out of call
// stack) and one directory of as many empty subdirectories (a walk that kept
// a handle for each pending directory would hold them all). An object is a
// number: its depth in the chain, or its place in the flat directory.
class ShapedTree : public FakePlatform {
public:
    static constexpr std::uint64_t SIZE = 100000;
    explicit ShapedTree(bool deep) : deep_(deep) {}

    HandleResult create_file_w(const char16_t*, std::uint32_t, std::uint32_t,
                               const SecurityAttributes*, std::uint32_t, std::uint32_t) override {
        return {open(0), 0};
    }
    HandleResult open_relative(Handle directory, std::u16string_view name, std::uint32_t) override {
        if (name.empty()) return {open(objects_.at(directory)), 0};
        if (deep_) return {open(objects_.at(directory) + 1), 0};
        return {open(std::stoull(to_utf8_lossy(OsString(name.substr(1))))), 0};
    }
    BoolResult query_file_identity(Handle file, IdWidth, FileIdentity* identity) override {
        *identity = {FILE_ATTRIBUTE_DIRECTORY_BIT, FileId::from_64(objects_.at(file) + 1)};
        return {true, 0};
    }
    bool close_handle(Handle handle) override { return objects_.erase(handle) == 1; }
    std::unique_ptr<DirectoryListing> open_directory_listing(Handle directory) override {
        ++listings;
        const std::uint64_t object = objects_.at(directory);
        const bool has_entries = deep_ ? object < SIZE : object == 0;
        return std::make_unique<Listing>(deep_, object, has_entries ? (deep_ ? 1 : SIZE) : 0);
    }
    // An empty DACL, 8 bytes into the descriptor; the merged one holds an entry.
    BoolResult get_kernel_object_security(Handle, std::uint32_t, void* buffer, std::uint32_t size,
                                          std::uint32_t* needed) override {
        *needed = 16;
        if (size < *needed) return {false, ERROR_INSUFFICIENT_BUFFER_CODE};
        const AclHeader empty{2, 0, 8, 0, 0};
        std::memcpy(static_cast<char*>(buffer) + 8, &empty, sizeof empty);
        return {true, 0};
    }
    BoolResult get_security_descriptor_dacl(SecurityDescriptor descriptor, bool* present, Acl* dacl) override {
        *present = true;
        *dacl = reinterpret_cast<Acl>(reinterpret_cast<char*>(descriptor) + 8);
        return {true, 0};
    }
    BoolResult get_security_descriptor_control(SecurityDescriptor, std::uint16_t* control) override {
        *control = 0x0404;
        return {true, 0};
    }
    std::uint32_t set_entries_in_acl_w(std::uint32_t, const ExplicitAccess*, Acl,
                                       Acl* new_acl) override {
        *new_acl = reinterpret_cast<Acl>(&acl_);
        return 0;
    }
    BoolResult set_kernel_object_security(Handle, std::uint32_t, const AbsoluteSecurityDescriptor*) override {
        ++granted;
        return {true, 0};
    }
    void local_free(void* memory) override { ++(memory == &acl_ ? acl_frees : other_frees); }

    std::uint64_t listings = 0;
    std::uint64_t granted = 0;
    std::uint64_t acl_frees = 0;
    std::uint64_t other_frees = 0;
    std::size_t most_open_handles = 0;
    std::size_t open_handles() const { return objects_.size(); }

private:
    Handle open(std::uint64_t object) {
        objects_[next_handle_] = object;
        most_open_handles = std::max(most_open_handles, objects_.size());
        return next_handle_++;
    }
    // The chain's one entry is the next depth; the flat directory's are 1 to SIZE.
    class Listing : public DirectoryListing {
    public:
        Listing(bool deep, std::uint64_t object, std::uint64_t count)
            : deep_(deep), object_(object), count_(count) {}
        bool next(DirEntry& entry) override {
            if (index_ == count_) return false;
            ++index_;
            const std::uint64_t child = deep_ ? object_ + 1 : index_;
            entry = {deep_ ? OsString(u"d") : u"d" + to_utf16(std::to_string(child)),
                     FILE_ATTRIBUTE_DIRECTORY_BIT, FileId::from_64(child + 1)};
            return true;
        }

    private:
        bool deep_;
        std::uint64_t object_, count_, index_ = 0;
    };
    bool deep_;
    std::map<Handle, std::uint64_t> objects_;
    Handle next_handle_ = 0x1000;
    AclHeader acl_{2, 0, 24, 1, 0};
};

TEST(Grants, DeepAndWideTreesKeepFewHandlesOpen) {
    for (bool deep : {true, false}) {
        SCOPED_TRACE(deep ? "100,000 deep" : "100,000 wide");
        ShapedTree tree(deep);
        ASSERT_TRUE(grant_allow_set_root(tree, tree, u"R", SID, ALLOW_SET_READ_ACCESS, false));
        EXPECT_EQ(tree.granted, ShapedTree::SIZE + 1);
        EXPECT_EQ(tree.listings, ShapedTree::SIZE + 1);
        // The current path and one entry, never a handle per pending directory.
        EXPECT_LE(tree.most_open_handles, 4u);
        EXPECT_EQ(tree.open_handles(), 0u);
        EXPECT_EQ(tree.acl_frees, ShapedTree::SIZE + 1);
        EXPECT_EQ(tree.other_frees, 0u);
    }
}

// A confined child may write inside a tree that a later run grants. Whatever it
// builds there, or swaps in while the walk runs, nothing outside the tree (X)
// may be opened, read, written or listed. Each row runs against the Windows
// behaviour (a link is opened itself) and Wine's (a link is followed even
// when asked not to, so only the file ID tells).
//
// X            secret.txt, sub/
// R
// ├── a/       x.txt, y/ (z.txt)
// ├── b.txt
// ├── d/       (empty)
// ├── foo, bar -> X   (links)
// └── look-alikes of the links, plain directories: "foo.", "foo ", "foo..", "bar. ."
void add_hostile_tree(FakePlatform& fake) {
    fake.add_dir(u"X");
    fake.add_file(u"X\\secret.txt");
    fake.add_dir(u"X\\sub");
    add_root_a_and_b(fake);
    fake.add_dir(u"R\\d");
    fake.add_reparse_point(u"R\\foo", true, u"X");
    fake.add_reparse_point(u"R\\bar", true, u"X");
    for (const char16_t* look_alike : {u"R\\foo.", u"R\\foo ", u"R\\foo..", u"R\\bar. ."}) {
        fake.add_dir(look_alike);
        fake.add_file(OsString(look_alike) + u"\\f.txt");
    }
}

TEST(Grants, NothingOutsideTheTreeIsReachedWhateverTheChildBuildsOrSwaps) {
    const std::vector<OsString> untouched = {
        u"R", u"R\\a", u"R\\b.txt", u"R\\d", u"R\\foo.", u"R\\foo ", u"R\\foo..", u"R\\bar. .",
        u"R\\bar. .\\f.txt", u"R\\foo..\\f.txt", u"R\\foo \\f.txt", u"R\\foo.\\f.txt",
        u"R\\a\\x.txt", u"R\\a\\y", u"R\\a\\y\\z.txt"};
    std::vector<OsString> without_d = untouched;
    without_d.erase(std::find(without_d.begin(), without_d.end(), u"R\\d"));

    struct Row {
        const char* name;
        std::function<void(FakePlatform&)> arrange;
        std::vector<OsString> granted;
    };
    const auto after = [](Op operation, int nth, auto change) {
        return [=](FakePlatform& f) { f.after_call(operation, nth, change); };
    };
    const std::vector<Row> rows = {
        {"look-alike names beside links", [](FakePlatform&) {}, untouched},
        {"entry made a mount point in place between the listing and its grant",
         after(Op::GetFileInformationByHandleEx, 1, [](FakePlatform& f) { f.make_link_in_place(u"R\\d", u"X"); }),
         without_d},
        {"entry replaced by a link between the listing and its grant",
         after(Op::GetFileInformationByHandleEx, 1, [](FakePlatform& f) { f.replace_with_link(u"R\\d", u"X"); }),
         without_d},
        // R, a, b.txt, d: the 4th DACL write is d's own.
        {"directory replaced by a link between its grant and its listing",
         after(Op::SetKernelObjectSecurity, 4, [](FakePlatform& f) { f.replace_with_link(u"R\\d", u"X"); }),
         untouched},
        {"entry replaced by an object whose ID differs above 64 bits",
         after(Op::GetFileInformationByHandleEx, 1, [](FakePlatform& f) { f.files[u"R\\d"].file_id.bytes[12] ^= 1; }),
         without_d},
        // A listing that names a path through a link (a hostile file system):
        // opened as given, its name would leave the tree at the link.
        {"listed name through a link", [](FakePlatform& f) { f.files[u"R"].children.push_back(u"foo\\secret.txt"); },
         untouched},
        // Opened by its empty name, the directory itself: granted and entered again, for ever.
        {"empty name listed", [](FakePlatform& f) { f.files[u"R"].children.push_back(u""); }, untouched},
        {"root made a mount point in place between its open and its grant",
         after(Op::QueryFileIdentity, 1, [](FakePlatform& f) { f.make_link_in_place(u"R", u"X"); }),
         untouched},
    };
    for (const Row& row : rows) {
        for (bool wine : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (wine ? " (Wine)" : " (Windows)"));
            FakePlatform fake;
            fake.follows_links_like_wine = wine;
            add_hostile_tree(fake);
            // What a path-based walk would have reached through the look-alike names.
            ASSERT_EQ(fake.resolve(u"R\\foo.\\secret.txt", true), OsString(u"X\\secret.txt"));
            ASSERT_EQ(fake.resolve(u"R\\bar. .", true), OsString(u"X"));
            row.arrange(fake);

            ASSERT_TRUE(grant_allow_set_root(fake, fake, u"R", SID, ALLOW_SET_WRITE_ACCESS, false));
            EXPECT_EQ(granted_paths(fake), row.granted);
            for (const test::Touch& touch : fake.touched) {
                const bool outside = touch.path == u"X" || touch.path.rfind(u"X\\", 0) == 0;
                // Under Wine an open may follow a link; the file ID then keeps it unused.
                if (wine && touch.operation == "open") continue;
                EXPECT_FALSE(outside) << touch.operation << " " << to_utf8_lossy(touch.path);
            }
        }
    }
}

}  // namespace
}  // namespace zub
