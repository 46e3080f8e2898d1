#include "sandbox/container_profile.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_platform.h"
#include "sandbox/container_capabilities.h"

namespace zub {
namespace {

using test::FakePlatform;
using test::Op;

TEST(ContainerProfile, FirstRunCreatesLaterRunDerives) {
    FakePlatform fake;
    {
        auto first = ensure_container_profile(fake, "zub-box");
        ASSERT_TRUE(first);
        EXPECT_NE(first.value().get(), nullptr);
        EXPECT_EQ(fake.operations(), std::vector<Op>{Op::CreateAppContainerProfile});
    }
    EXPECT_EQ(fake.operations().back(), Op::FreeSid);  // the owner released it

    fake.log.clear();
    {
        auto later = ensure_container_profile(fake, "zub-box");
        ASSERT_TRUE(later);
        EXPECT_NE(later.value().get(), nullptr);
        EXPECT_EQ(fake.log, (std::vector<std::string>{
                                "CreateAppContainerProfile zub-box",
                                "DeriveAppContainerSidFromAppContainerName zub-box"}));
    }
    EXPECT_EQ(fake.calls(Op::FreeSid), 2);
}

TEST(ContainerProfile, FailuresCarryTheFailingCallsHresultAndName) {
    struct Row {
        const char* name;
        bool profile_exists;
        Op failing;
        std::uint32_t hresult;
        SandboxError expected;
    };
    const Row rows[] = {
        {"S_FALSE is not success", false, Op::CreateAppContainerProfile, 0x00000001,
         sandbox_error::CreateAppContainerProfile{"c", 0x00000001}},
        {"access denied", false, Op::CreateAppContainerProfile, 0x80070005,
         sandbox_error::CreateAppContainerProfile{"c", 0x80070005}},
        {"derive fails", true, Op::DeriveAppContainerSidFromAppContainerName, 0x80070005,
         sandbox_error::DeriveAppContainerSidFromAppContainerName{"c", 0x80070005}},
        {"derive finds no profile", false, Op::CreateAppContainerProfile, HRESULT_ALREADY_EXISTS,
         sandbox_error::DeriveAppContainerSidFromAppContainerName{"c", 0x80070002}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform fake;
        if (row.profile_exists) fake.profiles["c"] = nullptr;
        fake.fail(row.failing, 1, row.hresult);
        const auto result = ensure_container_profile(fake, "c");
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), row.expected);
        EXPECT_EQ(fake.calls(Op::FreeSid), 0);
    }
}

// A profile service that leaves junk in the SID variable when it reports that
// the profile exists: the derive call must still see it preset to null.
class JunkOnExists : public FakePlatform {
public:
    std::uint32_t create_app_container_profile(const char16_t* name, const char16_t* display,
                                               const char16_t* description, Sid* sid) override {
        const std::uint32_t result =
            FakePlatform::create_app_container_profile(name, display, description, sid);
        if (result == HRESULT_ALREADY_EXISTS) *sid = &junk;
        return result;
    }
    int junk = 0;
};

TEST(ContainerProfile, DeriveStartsFromANullSid) {
    JunkOnExists fake;
    fake.profiles["c"] = nullptr;
    const auto result = ensure_container_profile(fake, "c");
    ASSERT_TRUE(result);
    EXPECT_NE(result.value().get(), &fake.junk);
}

TEST(ContainerProfile, NameAboveBmpReachesTheServiceAsSurrogatePair) {
    FakePlatform fake;
    fake.profiles["box-\xF0\x9F\x98\x80"] = nullptr;
    ASSERT_TRUE(ensure_container_profile(fake, "box-\xF0\x9F\x98\x80"));
    const OsString expected = u"box-\xD83D\xDE00";
    EXPECT_EQ(fake.profile_names, (std::vector<OsString>{expected, expected}));
}

TEST(ContainerCapabilities, WithoutInternetClientNoCapability) {
    FakePlatform fake;
    int container = 0;
    auto built = build_container_capabilities(fake, &container, false);
    ASSERT_TRUE(built);
    EXPECT_EQ(fake.calls(Op::CreateWellKnownSid), 0);
    const SecurityCapabilities caps = built.value().security_capabilities();
    EXPECT_EQ(caps.app_container_sid, &container);
    EXPECT_EQ(caps.capabilities, nullptr);
    EXPECT_EQ(caps.capability_count, 0u);
    EXPECT_EQ(caps.reserved, 0u);
    const auto& buffer = built.value().storage().sid_buffer;
    EXPECT_EQ(buffer.size(), 64u);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::byte b) { return b == std::byte{0}; }));
}

TEST(ContainerCapabilities, InternetClientIsTheOneEnabledEntry) {
    FakePlatform fake;
    int container = 0;
    auto built = build_container_capabilities(fake, &container, true);
    ASSERT_TRUE(built);
    EXPECT_EQ(fake.log, (std::vector<std::string>{"CreateWellKnownSid 85 size 64"}));

    // The record must stay valid after the owner moves into the run.
    const ContainerCapabilities moved = std::move(built).value();
    const SecurityCapabilities caps = moved.security_capabilities();
    EXPECT_EQ(caps.app_container_sid, &container);
    ASSERT_EQ(caps.capability_count, 1u);
    EXPECT_EQ(caps.reserved, 0u);
    ASSERT_EQ(caps.capabilities, &moved.storage().entry);
    EXPECT_EQ(caps.capabilities->sid, moved.storage().sid_buffer.data());
    EXPECT_EQ(caps.capabilities->attributes, 0x00000004u);
    EXPECT_EQ(moved.storage().sid_buffer[7], std::byte{15});  // S-1-15-…, written by the call
}

TEST(ContainerCapabilities, WellKnownSidFailureCarriesTheWin32Error) {
    FakePlatform fake;
    int container = 0;
    fake.fail(Op::CreateWellKnownSid, 1, 87);
    const auto built = build_container_capabilities(fake, &container, true);
    ASSERT_FALSE(built);
    EXPECT_EQ(built.error(), SandboxError{sandbox_error::CreateWellKnownSid{87}});
}

}  // namespace
}  // namespace zub
