// docs/protocol-vectors.json through the helper's own splitter, parser, entry
// point and builders: the vectors that parents run cannot drift from the helper.
#include <gtest/gtest.h>

#include <algorithm>

#include "child/command_line.h"
#include "child/env_block.h"
#include "fake_platform.h"
#include "helper_appcontainer/entry_point.h"
#include "protocol/command_line_split.h"
#include "protocol/parse_args.h"
#include "protocol/sandbox_error.h"
#include "support/protocol_vectors.h"

namespace zub {
namespace {

using test_support::Json;
using test_support::name_of;
using test_support::u16;
using test_support::u16_list;

const Json& vectors() {
    static const Json all = test_support::read_protocol_vectors();
    return all;
}


StdioMode stdio_mode(const Json& text) {
    if (u16(text) == u"null") return StdioMode::Null;
    return u16(text) == u"piped" ? StdioMode::Piped : StdioMode::Inherit;
}

HelperRequest request_of(const Json& fields) {
    HelperRequest request;
    request.protocol_version = static_cast<std::uint32_t>(fields.at("protocol_version").get<std::uint64_t>());
    request.appcontainer_name = to_utf8_lossy(u16(fields.at("appcontainer_name")));
    request.readable_dirs = u16_list(fields.at("readable_dirs"));
    request.writable_dirs = u16_list(fields.at("writable_dirs"));
    request.readable_dirs_best_effort = u16_list(fields.at("readable_dirs_best_effort"));
    request.grant_internet_client = fields.at("grant_internet_client").get<bool>();
    request.env = u16_list(fields.at("env"));
    request.env_clear = fields.at("env_clear").get<bool>();
    if (fields.at("working_dir").is_string()) request.working_dir = u16(fields.at("working_dir"));
    request.stdin_mode = stdio_mode(fields.at("stdin"));
    request.stdout_mode = stdio_mode(fields.at("stdout"));
    request.stderr_mode = stdio_mode(fields.at("stderr"));
    request.program = u16(fields.at("program"));
    request.args = u16_list(fields.at("args"));
    return request;
}

TEST(ProtocolVectors, ParentToHelper) {
    for (const Json& vector : vectors().at("parent_to_helper")) {
        const std::vector<OsString> items = u16_list(vector.at("items"));
        const OsString& line = u16(vector.at("line"));
        std::vector<OsString> read = split_command_line(u"zub-sandbox-helper.exe " + line, u"");
        read.erase(read.begin());
        EXPECT_EQ(read, items) << name_of(vector);
        // The same quoting as the child's line, which cannot carry a lone surrogate.
        if (std::all_of(items.begin(), items.end(), [](const OsString& item) { return is_valid_unicode(item); })) {
            const std::vector<OsString> rest(items.begin() + 1, items.end());
            EXPECT_EQ(build_command_line(items.front(), rest), line + u'\0') << name_of(vector);
        }
    }
}

TEST(ProtocolVectors, HelperLine) {
    for (const Json& vector : vectors().at("helper_line")) {
        const OsString& line = u16(vector.at("line"));
        if (vector.contains("request")) {
            std::vector<OsString> arguments = split_command_line(line, u"");
            arguments.erase(arguments.begin());
            auto parsed = parse_helper_args(std::move(arguments));
            ASSERT_TRUE(parsed.ok()) << name_of(vector) << ": " << render(parsed.error());
            EXPECT_EQ(parsed.value(), request_of(vector.at("request"))) << name_of(vector);
            // The field marks exactly the names Windows refuses: [-_. A-Za-z0-9], at most 64.
            const std::string name = parsed.value().appcontainer_name;
            const auto allowed = [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '_' || c == '.' || c == ' ';
            };
            const bool valid = !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), allowed);
            EXPECT_EQ(vector.value("container_name_valid", true), valid) << name_of(vector);
            continue;
        }
        test::FakePlatform fake;
        fake.command_line = line;
        std::uint32_t status = 0;
        try {
            helper_main(fake);
        } catch (const test::FakeExit& exit) {
            status = exit.status;
        }
        EXPECT_EQ(fake.stderr_bytes, to_utf8_lossy(u16(vector.at("stderr")))) << name_of(vector);
        EXPECT_EQ(status, vector.at("status").get<std::uint64_t>()) << name_of(vector);
    }
}

TEST(ProtocolVectors, HelperToChild) {
    for (const Json& vector : vectors().at("helper_to_child")) {
        EXPECT_EQ(build_command_line(u16(vector.at("program")), u16_list(vector.at("args"))),
                  u16(vector.at("line")) + u'\0')
            << name_of(vector);
    }
}

TEST(ProtocolVectors, HelperToChildEnvironment) {
    for (const Json& vector : vectors().at("helper_to_child_environment")) {
        test::FakePlatform fake;
        fake.environment = test::env_block_of(u16_list(vector.at("helper_environment")));
        auto built = build_env_block(fake, u16_list(vector.at("env")), vector.at("env_clear").get<bool>());
        ASSERT_TRUE(built.ok()) << name_of(vector);
        EXPECT_EQ(built.value(), test::env_block_of(u16_list(vector.at("block")))) << name_of(vector);
        EXPECT_NE(vector.contains("windows_sets"), vector.contains("windows_error")) << name_of(vector);
    }
}

// A run failure as the vector describes it: its kind and the values it shows.
SandboxError run_failure_of(const Json& vector) {
    using namespace sandbox_error;
    const std::string kind = vector.at("kind").get<std::string>();
    const Json& f = vector.at("fields");
    const auto n = [&](const char* key) { return f.at(key).get<std::uint32_t>(); };
    const auto text = [&](const char* key) { return f.at(key).get<std::string>(); };
    const auto os = [&](const char* key) { return u16(f.at(key)); };
    if (kind == "CreateAppContainerProfile") return CreateAppContainerProfile{text("name"), n("hresult")};
    if (kind == "DeriveAppContainerSidFromAppContainerName")
        return DeriveAppContainerSidFromAppContainerName{text("name"), n("hresult")};
    if (kind == "CreateWellKnownSid") return CreateWellKnownSid{n("code")};
    if (kind == "GetNamedSecurityInfoW") return GetNamedSecurityInfoW{os("path"), n("code")};
    if (kind == "SetEntriesInAclW") return SetEntriesInAclW{os("path"), n("code")};
    if (kind == "SetNamedSecurityInfoW") return SetNamedSecurityInfoW{os("path"), n("code")};
    if (kind == "ReparsePoint") return ReparsePoint{os("path")};
    if (kind == "InitializeProcThreadAttributeList") return InitializeProcThreadAttributeList{n("code")};
    if (kind == "UpdateProcThreadAttribute") return UpdateProcThreadAttribute{n("code")};
    if (kind == "CreateJobObjectW") return CreateJobObjectW{n("code")};
    if (kind == "SetInformationJobObject") return SetInformationJobObject{n("code")};
    if (kind == "CreateProcessW") return CreateProcessW{os("program"), n("code")};
    if (kind == "AssignProcessToJobObject") return AssignProcessToJobObject{n("code")};
    if (kind == "CreateFileW") return CreateFileW{text("role"), n("code")};
    if (kind == "WaitForSingleObject") return WaitForSingleObject{n("value")};
    if (kind == "GetExitCodeProcess") return GetExitCodeProcess{n("code")};
    ADD_FAILURE() << "unknown kind " << kind;
    return GetExitCodeProcess{0};
}

// One line per kind of run failure, each exactly as the helper renders it.
TEST(ProtocolVectors, RunFailureLines) {
    std::vector<std::size_t> kinds;
    for (const Json& vector : vectors().at("run_failure_lines")) {
        const SandboxError error = run_failure_of(vector);
        kinds.push_back(error.index());
        EXPECT_EQ("zub-sandbox-helper: " + render(error) + "\n", to_utf8_lossy(u16(vector.at("stderr"))))
            << vector.at("kind");
    }
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(std::unique(kinds.begin(), kinds.end()) - kinds.begin(), std::variant_size_v<SandboxError>);
}

}  // namespace
}  // namespace zub
