#include "platform/owned.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace zub {
namespace {

using test::FakePlatform;

HandleResult open_nul(FakePlatform& fake) {
    const SecurityAttributes inheritable{24, nullptr, 1};
    return fake.create_file_w(u"NUL", 0x00120116, 7, &inheritable, OPEN_EXISTING_DISPOSITION, 0);
}

// Every way an owner can change hands releases each value exactly once; the
// fake fails the test on a double close, a close of 0 or -1, or a leak.
TEST(Owned, EachValueIsReleasedExactlyOnceWhateverHappensToItsOwner) {
    FakePlatform fake;
    {
        UniqueHandle first(fake, open_nul(fake).handle);
        UniqueHandle second(fake, open_nul(fake).handle);
        const Handle second_value = second.get();

        UniqueHandle moved(std::move(first));  // the source lets go
        EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): a moved-from owner is empty
        second = std::move(moved);  // the value held before is released first
        EXPECT_EQ(fake.calls(test::Op::CloseHandle), 1);
        EXPECT_NE(second.get(), second_value);

        UniqueHandle none(fake, INVALID_HANDLE);  // 0 and -1 mean no handle
        UniqueHandle zero(fake, NO_HANDLE);
        EXPECT_FALSE(none);
        EXPECT_FALSE(zero);
    }
    EXPECT_EQ(fake.calls(test::Op::CloseHandle), 2);
}

TEST(Owned, ReleasesThroughTheRoleThatHandedTheValueOut) {
    FakePlatform fake;
    fake.profiles["box"] = nullptr;
    Sid sid = nullptr;
    ASSERT_EQ(fake.derive_app_container_sid_from_app_container_name(u"box", &sid), 0u);
    { const ProfileSid owner(fake, sid); }
    EXPECT_EQ(fake.calls(test::Op::FreeSid), 1);
    EXPECT_EQ(fake.calls(test::Op::LocalFree), 0);
}

}  // namespace
}  // namespace zub
