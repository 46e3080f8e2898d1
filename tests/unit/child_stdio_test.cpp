#include "child/child_stdio.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace zub {
namespace {

using test::FakePlatform;
using test::Op;
using Log = std::vector<std::string>;

const SandboxError& sandbox_error_of(const RunFailure& failure) {
    return std::get<SandboxError>(failure);
}

TEST(ChildStdio, AllNullOpensThreeInheritableNulHandlesAndClosesThemInOrder) {
    FakePlatform fake;
    {
        auto stdio = build_child_stdio(fake, StdioMode::Null, StdioMode::Null, StdioMode::Null);
        ASSERT_TRUE(stdio.ok());
        ASSERT_EQ(fake.created_files.size(), 3u);
        const std::uint32_t access[] = {0x120089, 0x120116, 0x120116};
        const std::uint32_t share[] = {1, 7, 7};
        for (std::size_t i = 0; i < 3; ++i) {
            const auto& file = fake.created_files[i];
            EXPECT_EQ(file.name, u"NUL");
            EXPECT_EQ(file.access, access[i]) << i;
            EXPECT_EQ(file.share_mode, share[i]) << i;
            EXPECT_EQ(file.security_attributes.length, 24u);
            EXPECT_EQ(file.security_attributes.security_descriptor, nullptr);
            EXPECT_EQ(file.security_attributes.inherit_handle, 1);
            EXPECT_EQ(file.disposition, 3u);
            EXPECT_EQ(file.flags, 0u);
        }
        const ChildStdio& s = stdio.value();
        EXPECT_EQ(s.owned_handles, (std::vector<Handle>{s.stdin_handle, s.stdout_handle, s.stderr_handle}));
        EXPECT_EQ(fake.calls(Op::GetStdHandle), 0);
        fake.log.clear();
    }
    EXPECT_EQ(fake.log, (Log{"CloseHandle nul:1", "CloseHandle nul:2", "CloseHandle nul:3"}));
}

TEST(ChildStdio, NulFailureClosesEarlierHandlesAndStopsThere) {
    struct Case {
        StdioMode in, out, err;
        int failing_open;
        std::string role;
        Log log;
    };
    const Case cases[] = {
        {StdioMode::Null, StdioMode::Null, StdioMode::Null, 2, "stdout",
         {"CreateFileW NUL", "CreateFileW NUL", "CloseHandle nul:1"}},
        {StdioMode::Null, StdioMode::Null, StdioMode::Inherit, 1, "stdin", {"CreateFileW NUL"}},
        {StdioMode::Inherit, StdioMode::Null, StdioMode::Null, 2, "stderr",
         {"GetStdHandle 0xfffffff6", "SetHandleInformation helper-std", "CreateFileW NUL",
          "CreateFileW NUL", "CloseHandle nul:1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.role);
        FakePlatform fake;
        fake.fail(Op::CreateFileW, c.failing_open, 5);
        auto stdio = build_child_stdio(fake, c.in, c.out, c.err);
        ASSERT_FALSE(stdio.ok());
        EXPECT_EQ(sandbox_error_of(stdio.error()),
                  SandboxError(sandbox_error::CreateFileW{c.role, 5}));
        EXPECT_EQ(fake.log, c.log);
    }
}

TEST(ChildStdio, InheritAndPipedPassTheHelpersHandlesOnWithoutOwningThem) {
    for (const StdioMode mode : {StdioMode::Inherit, StdioMode::Piped}) {
        FakePlatform fake;
        {
            auto stdio = build_child_stdio(fake, mode, mode, mode);
            ASSERT_TRUE(stdio.ok());
            EXPECT_TRUE(stdio.value().owned_handles.empty());
            EXPECT_EQ(stdio.value().stdin_handle, 0x10u);
            EXPECT_EQ(stdio.value().stdout_handle, 0x14u);
            EXPECT_EQ(stdio.value().stderr_handle, 0x18u);
        }
        // Identical for both modes; releasing closes nothing.
        EXPECT_EQ(fake.log, (Log{"GetStdHandle 0xfffffff6", "SetHandleInformation helper-std",
                                 "GetStdHandle 0xfffffff5", "SetHandleInformation helper-std",
                                 "GetStdHandle 0xfffffff4", "SetHandleInformation helper-std"}));
        using Info = std::vector<std::pair<Handle, std::uint32_t>>;
        EXPECT_EQ(fake.handle_information, (Info{{0x10, 1}, {0x14, 1}, {0x18, 1}}));
    }
}

TEST(ChildStdio, MissingStandardHandlesArePassedOnUntouched) {
    for (const Handle missing : {NO_HANDLE, INVALID_HANDLE}) {
        FakePlatform fake;
        fake.std_handles = {missing, missing, missing};
        auto stdio = build_child_stdio(fake, StdioMode::Inherit, StdioMode::Piped, StdioMode::Inherit);
        ASSERT_TRUE(stdio.ok());
        EXPECT_EQ(stdio.value().stdin_handle, missing);
        EXPECT_EQ(stdio.value().stdout_handle, missing);
        EXPECT_EQ(stdio.value().stderr_handle, missing);
        EXPECT_TRUE(stdio.value().owned_handles.empty());
        EXPECT_EQ(fake.calls(Op::SetHandleInformation), 0);
    }
}

TEST(ChildStdio, SharedStdoutAndStderrHandleIsMarkedTwiceAndNeverClosed) {
    FakePlatform fake;
    fake.std_handles = {0x10, 0x14, 0x14};
    {
        auto stdio = build_child_stdio(fake, StdioMode::Null, StdioMode::Inherit, StdioMode::Inherit);
        ASSERT_TRUE(stdio.ok());
        EXPECT_EQ(stdio.value().stdout_handle, 0x14u);
        EXPECT_EQ(stdio.value().stderr_handle, 0x14u);
        using Info = std::vector<std::pair<Handle, std::uint32_t>>;
        EXPECT_EQ(fake.handle_information, (Info{{0x14, 1}, {0x14, 1}}));
    }
    EXPECT_EQ(fake.calls(Op::CloseHandle), 1);  // the NUL of stdin only
}

TEST(ChildStdio, FailedInheritanceMarkIsNotAFailure) {
    FakePlatform fake;
    fake.fail(Op::SetHandleInformation, 1, 6);
    auto stdio = build_child_stdio(fake, StdioMode::Inherit, StdioMode::Null, StdioMode::Inherit);
    ASSERT_TRUE(stdio.ok());
    EXPECT_EQ(stdio.value().stdin_handle, 0x10u);
}

TEST(ChildStdio, MovedStdioReleasesItsHandlesOnce) {
    FakePlatform fake;
    {
        auto built = build_child_stdio(fake, StdioMode::Null, StdioMode::Inherit, StdioMode::Null);
        ASSERT_TRUE(built.ok());
        ChildStdio moved(std::move(built.value()));
        EXPECT_EQ(moved.owned_handles.size(), 2u);
        EXPECT_TRUE(built.value().owned_handles.empty());
    }
    EXPECT_EQ(fake.calls(Op::CloseHandle), 2);
}

TEST(ChildStdio, UnknownRoleIsAFatalStopBeforeAnyCall) {
    for (const StdioMode mode : {StdioMode::Inherit, StdioMode::Null, StdioMode::Piped}) {
        FakePlatform fake;
        std::vector<Handle> owned;
        auto handle = open_stdio_handle(fake, mode, "stdlog", owned);
        ASSERT_FALSE(handle.ok());
        EXPECT_EQ(std::get<FatalStop>(handle.error()).message,
                  "internal error: entered unreachable code: role must be stdin/stdout/stderr");
        EXPECT_TRUE(fake.log.empty());
        EXPECT_TRUE(owned.empty());
    }
}

}  // namespace
}  // namespace zub
