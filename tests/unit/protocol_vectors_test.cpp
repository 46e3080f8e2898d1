// docs/protocol-vectors.json through the helper's own splitter, parser, entry
// point and builders: the vectors that parents run cannot drift from the helper.
#include <gtest/gtest.h>

#include <algorithm>

#include "child/command_line.h"
#include "fake_platform.h"
#include "helper_appcontainer/entry_point.h"
#include "protocol/command_line_split.h"
#include "protocol/parse_args.h"
#include "support/json_value.h"

namespace zub {
namespace {

using test_support::JsonValue;

const JsonValue& vectors() {
    static const JsonValue all = test_support::read_protocol_vectors();
    return all;
}

std::string name_of(const JsonValue& vector) { return to_utf8_lossy(vector["name"].string); }

StdioMode stdio_mode(const JsonValue& text) {
    if (text.string == u"null") return StdioMode::Null;
    return text.string == u"piped" ? StdioMode::Piped : StdioMode::Inherit;
}

HelperRequest request_of(const JsonValue& fields) {
    HelperRequest request;
    request.protocol_version = static_cast<std::uint32_t>(fields["protocol_version"].number);
    request.appcontainer_name = to_utf8_lossy(fields["appcontainer_name"].string);
    request.readable_dirs = fields["readable_dirs"].strings();
    request.writable_dirs = fields["writable_dirs"].strings();
    request.readable_dirs_best_effort = fields["readable_dirs_best_effort"].strings();
    request.grant_internet_client = fields["grant_internet_client"].boolean;
    request.env = fields["env"].strings();
    request.env_clear = fields["env_clear"].boolean;
    if (fields["working_dir"].kind == JsonValue::Kind::String) request.working_dir = fields["working_dir"].string;
    request.stdin_mode = stdio_mode(fields["stdin"]);
    request.stdout_mode = stdio_mode(fields["stdout"]);
    request.stderr_mode = stdio_mode(fields["stderr"]);
    request.program = fields["program"].string;
    request.args = fields["args"].strings();
    return request;
}

TEST(ProtocolVectors, ParentToHelper) {
    for (const JsonValue& vector : vectors()["parent_to_helper"].array) {
        const std::vector<OsString> items = vector["items"].strings();
        const OsString& line = vector["line"].string;
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
    for (const JsonValue& vector : vectors()["helper_line"].array) {
        const OsString& line = vector["line"].string;
        if (vector.has("request")) {
            std::vector<OsString> arguments = split_command_line(line, u"");
            arguments.erase(arguments.begin());
            auto parsed = parse_helper_args(std::move(arguments));
            ASSERT_TRUE(parsed.ok()) << name_of(vector) << ": " << render(parsed.error());
            EXPECT_EQ(parsed.value(), request_of(vector["request"])) << name_of(vector);
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
        EXPECT_EQ(fake.stderr_bytes, to_utf8_lossy(vector["stderr"].string)) << name_of(vector);
        EXPECT_EQ(status, vector["status"].number) << name_of(vector);
    }
}

TEST(ProtocolVectors, HelperToChild) {
    for (const JsonValue& vector : vectors()["helper_to_child"].array) {
        EXPECT_EQ(build_command_line(vector["program"].string, vector["args"].strings()),
                  vector["line"].string + u'\0')
            << name_of(vector);
    }
}

}  // namespace
}  // namespace zub
