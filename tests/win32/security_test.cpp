// Well-known SIDs and the DACL calls on a real directory. Wine keeps no file
// DACLs, so these check the calls and the entry record, not the stored result.
#include <gtest/gtest.h>

#include <aclapi.h>

#include <cstring>
#include <utility>

#include "platform/win32_descriptor_read.h"
#include "platform/win32_platform.h"
#include "support/scratch_dir.h"
#include "win32_test.h"

namespace zub {
namespace {

using win32_test::u16;

constexpr std::uint32_t WORLD_SID_TYPE = 1;  // WinWorldSid, S-1-1-0: 12 bytes
constexpr std::uint32_t DACL_INFORMATION = 4;
constexpr std::uint32_t READ_MASK = 0x001200A9;

constexpr std::uint32_t WRITE_RIGHTS = 0x00160080;  // READ_CONTROL | WRITE_DAC | SYNCHRONIZE | FILE_READ_ATTRIBUTES

class Win32SecurityTest : public ::testing::Test {
protected:
    HandleResult open_directory(const std::wstring& path, std::uint32_t access) {
        return platform.create_file_w(u16(path).c_str(), access, 7, nullptr, 3, 0x02200000);
    }
    Win32Platform platform;
};

TEST_F(Win32SecurityTest, WellKnownSidFillsBufferOrReportsSize) {
    alignas(8) unsigned char buffer[64] = {};
    std::uint32_t size = sizeof buffer;
    const BoolResult made = platform.create_well_known_sid(WORLD_SID_TYPE, nullptr, buffer, &size);
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_EQ(size, 12u);
    EXPECT_TRUE(IsValidSid(buffer));

    std::uint32_t short_size = 4;  // not "small": rpcndr.h makes that a macro
    const BoolResult too_small = platform.create_well_known_sid(WORLD_SID_TYPE, nullptr, buffer, &short_size);
    EXPECT_FALSE(too_small.ok);
    EXPECT_EQ(too_small.error, ERROR_INSUFFICIENT_BUFFER_CODE);
    EXPECT_EQ(short_size, 12u);
}

TEST_F(Win32SecurityTest, GrantEntryMergesIntoDaclAndIsWritten) {
    test_support::ScratchDir scratch;
    const HandleResult directory = open_directory(scratch.path(), WRITE_RIGHTS);
    ASSERT_TRUE(is_closable_handle(directory.handle)) << directory.error;
    alignas(8) unsigned char sid[64] = {};
    std::uint32_t sid_size = sizeof sid;
    ASSERT_TRUE(platform.create_well_known_sid(WORLD_SID_TYPE, nullptr, sid, &sid_size).ok);

    // Too small first: the size it needs comes back, and is enough.
    alignas(8) unsigned char buffer[4096];
    std::uint32_t needed = 0;
    EXPECT_EQ(platform.get_kernel_object_security(directory.handle, DACL_INFORMATION, buffer, 8, &needed).error,
              ERROR_INSUFFICIENT_BUFFER_CODE);
    ASSERT_TRUE(needed > 8 && needed <= sizeof buffer) << needed;
    ASSERT_TRUE(platform.get_kernel_object_security(directory.handle, DACL_INFORMATION, buffer, needed, &needed).ok);
    const auto descriptor = reinterpret_cast<SecurityDescriptor>(buffer);
    bool present = false;
    Acl dacl = nullptr;
    ASSERT_TRUE(platform.get_security_descriptor_dacl(descriptor, &present, &dacl).ok);
    ASSERT_TRUE(present && dacl != nullptr);

    ExplicitAccess entry{};
    entry.access_permissions = READ_MASK;
    entry.access_mode = 1;  // GRANT_ACCESS
    entry.inheritance = 3;  // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
    entry.trustee.trustee_form = 0;  // TRUSTEE_IS_SID
    entry.trustee.trustee_type = 2;  // TRUSTEE_IS_GROUP
    entry.trustee.name = sid;
    Acl merged = nullptr;
    ASSERT_EQ(platform.set_entries_in_acl_w(1, &entry, dacl, &merged), 0u);
    ASSERT_NE(merged, nullptr);

    // The merged list holds an inheritable allow entry for exactly that SID and mask.
    auto* acl = reinterpret_cast<PACL>(merged);
    bool found = false;
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(GetAce(acl, i, &raw));
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        if (!EqualSid(const_cast<DWORD*>(&ace->SidStart), sid)) continue;
        found = true;
        EXPECT_EQ(ace->Mask, READ_MASK);
        EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    }
    EXPECT_TRUE(found);

    std::uint16_t control = 0;
    ASSERT_TRUE(platform.get_security_descriptor_control(descriptor, &control).ok);
    EXPECT_NE(control & 0x0004, 0) << "SE_DACL_PRESENT";
    AbsoluteSecurityDescriptor written{};
    written.revision = 1;
    written.control = 0x0004;
    written.dacl = merged;
    const BoolResult set = platform.set_kernel_object_security(directory.handle, DACL_INFORMATION, &written);
    EXPECT_TRUE(set.ok) << set.error;
    platform.local_free(merged);
    platform.close_handle(directory.handle);
}

// The rights of the handle decide: without READ_CONTROL nothing is read.
TEST_F(Win32SecurityTest, HandleWithoutReadControlCannotReadTheDacl) {
    test_support::ScratchDir scratch;
    const HandleResult directory = open_directory(scratch.path(), 0x00000080);  // FILE_READ_ATTRIBUTES
    ASSERT_TRUE(is_closable_handle(directory.handle)) << directory.error;
    alignas(8) unsigned char buffer[1024];
    std::uint32_t needed = 0;
    EXPECT_EQ(platform.get_kernel_object_security(directory.handle, DACL_INFORMATION, buffer, sizeof buffer, &needed).error,
              ERROR_ACCESS_DENIED_CODE);
    platform.close_handle(directory.handle);
}

// A read is trusted only as a whole, well-formed descriptor within the buffer,
// never as what an earlier read left there. Stand-ins for the system write
// this directory's descriptor or nothing, and report a size and a result.
TEST_F(Win32SecurityTest, DescriptorReadIsTrustedOnlyWhole) {
    test_support::ScratchDir scratch;
    const HandleResult directory = open_directory(scratch.path(), WRITE_RIGHTS);
    alignas(8) unsigned char real[1024];
    DWORD real_size = 0;
    ASSERT_TRUE(GetKernelObjectSecurity(reinterpret_cast<HANDLE>(directory.handle), DACL_INFORMATION, real,
                                        sizeof real, &real_size));
    platform.close_handle(directory.handle);
    const bool wine = !win32_test::unix_path_of(scratch.path()).empty();
    struct Row { const char* name; bool writes; BOOL ok; DWORD reported, last_error, expected; };  // 0: trusted
    const Row rows[] = {{"whole", true, TRUE, real_size, 0, 0}, {"nothing written", false, TRUE, real_size, 0, 1338},
                        {"size past the buffer", true, TRUE, sizeof real + 8, 0, 1338},
                        {"size below a header", true, TRUE, 19, 0, 1338},
                        // Wine 8's check reads the revision only; Windows checks every part.
                        {"size cutting the DACL short", true, TRUE, real_size - 4, 0, wine ? 0u : 1338u},
                        {"failed without an error", false, FALSE, 0, 0, 1338},
                        {"buffer too small", false, FALSE, real_size, 122, 122}};
    for (const Row& row : rows) {
        alignas(8) unsigned char buffer[sizeof real];
        std::memcpy(buffer, real, sizeof buffer);  // the previous object's, still there
        DWORD needed = 0;
        const auto system = [&](void* into, DWORD, DWORD* size) {
            if (row.writes) std::memcpy(into, real, real_size);
            *size = row.reported;
            SetLastError(row.last_error);
            return row.ok;
        };
        const BoolResult read = win32::read_security_descriptor(buffer, sizeof buffer, needed, system);
        EXPECT_EQ(std::pair(read.ok, read.error), std::pair(row.expected == 0, std::uint32_t{row.expected}))
            << row.name;
    }
}

// Every helper of the session opens the one mutex; one made under its name
// with another descriptor (a squatter's) is not trusted.
TEST_F(Win32SecurityTest, GrantMutexIsSharedAndASquattedOneRefused) {
    const HandleResult first = platform.create_grant_mutex();
    const HandleResult second = platform.create_grant_mutex();
    ASSERT_TRUE(is_closable_handle(first.handle)) << first.error;
    ASSERT_TRUE(is_closable_handle(second.handle)) << second.error;
    EXPECT_EQ(platform.wait_for_single_object(first.handle, 0), 0u);
    EXPECT_TRUE(platform.release_mutex(first.handle).ok);
    EXPECT_FALSE(platform.release_mutex(second.handle).ok) << "released when no longer held";
    platform.close_handle(first.handle);
    platform.close_handle(second.handle);

    // This build's name, which no helper uses: the squat is always first.
    const HANDLE squatter = CreateMutexW(nullptr, FALSE, L"Local\\" ZUB_GRANT_MUTEX_PREFIX L".grants");
    ASSERT_NE(squatter, nullptr);
    EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(is_closable_handle(platform.create_grant_mutex().handle));
    CloseHandle(squatter);
}

// The helper's own descriptor under another owner, who could rewrite its DACL.
TEST_F(Win32SecurityTest, GrantMutexOfAnotherOwnerIsRefused) {
    const HandleResult made = platform.create_grant_mutex();
    ASSERT_TRUE(is_closable_handle(made.handle)) << made.error;
    alignas(8) unsigned char world[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof world;
    ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, world, &size));
    const DWORD moved = SetSecurityInfo(reinterpret_cast<HANDLE>(made.handle), SE_KERNEL_OBJECT,
                                        OWNER_SECURITY_INFORMATION, world, nullptr, nullptr, nullptr);
    if (moved == ERROR_SUCCESS) {
        EXPECT_FALSE(is_closable_handle(platform.create_grant_mutex().handle));
    }
    platform.close_handle(made.handle);
    // Windows lets no unprivileged process give an object an owner outside its token.
    if (moved != ERROR_SUCCESS) GTEST_SKIP() << "owner not changed: " << moved;
}

}  // namespace
}  // namespace zub
