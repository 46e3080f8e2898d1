// docs/protocol-vectors.json through the real executables: the helper's
// reading of a parent's line and its child's line and environment as the probe
// receives them, and the production helper's exact error line and status.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "child/command_line.h"
#include "e2e_launch.h"
#include "e2e_probe_report.h"
#include "protocol/sandbox_error.h"
#include "support/env_entries.h"
#include "support/protocol_vectors.h"

namespace {

using zub::test_support::entry_value;
using zub::test_support::env_block_of;
using zub::test_support::folded_entry_name;
using zub::test_support::Json;
using zub::test_support::name_of;
using zub::test_support::u16;
using zub::test_support::u16_list;

const Json& vectors() {
    static const Json all = zub::test_support::read_protocol_vectors();
    return all;
}


// What one vector sends and what the probe must receive for it: its segment of
// the probe's command line, and the items its C runtime splits that into.
struct ChildCase {
    std::string name;
    std::u16string sent;
    std::u16string line;
    std::vector<std::u16string> argv;
};

std::vector<std::u16string> replaced(std::vector<std::u16string> items) {
    for (std::u16string& item : items) item = zub::replace_unpaired_surrogates(item);
    return items;
}

// One probe run through the helper with every vector's text appended in turn,
// so one launch checks a whole group; a difference names its vector.
void expect_child_receives(const std::vector<ChildCase>& cases) {
    e2e::ScratchDir dir;
    const std::wstring report = dir.join(L"report.txt");
    const std::vector<std::u16string> probe_items = {e2e::to_u16(e2e::probe_path()), e2e::to_u16(report), u"report"};
    e2e::LaunchOptions options = e2e::helper_run({}, e2e::probe_path(), {probe_items[1], probe_items[2]});
    for (const ChildCase& c : cases) options.command_line += L" " + e2e::to_wide(c.sent);
    const e2e::LaunchResult result = e2e::launch(options);
    ASSERT_EQ(result.exit_code, 0u) << result.err;
    const auto probe = e2e::read_probe_report(report);
    ASSERT_TRUE(probe.has_value());
    const std::u16string head = e2e::to_u16(e2e::join_command_line(probe_items));
    ASSERT_EQ(probe->command_line.substr(0, head.size()), head);
    std::size_t at = head.size();
    auto arg = probe->argv.begin() + 3;
    bool in_step = true;  // after a difference, later segments of the line are only shifted
    for (const ChildCase& c : cases) {
        const std::u16string want = u" " + c.line;
        if (in_step) {
            const std::u16string got = probe->command_line.substr(at, want.size());
            EXPECT_EQ(got, want) << c.name;
            in_step = got == want;
            at += want.size();
        }
        const auto count = static_cast<std::ptrdiff_t>(std::min<std::size_t>(c.argv.size(), probe->argv.end() - arg));
        EXPECT_EQ(std::vector<std::u16string>(arg, arg + count), c.argv) << c.name;
        arg += count;
    }
    if (in_step) {
        EXPECT_EQ(probe->command_line.size(), at);
    }
    EXPECT_TRUE(arg == probe->argv.end());
}

TEST(ProtocolVectors, ParentToHelperReachesTheChild) {
    std::vector<ChildCase> cases;
    for (const Json& vector : vectors().at("parent_to_helper")) {
        // Read back item for item, then quoted again by the same rule; only a
        // lone surrogate cannot travel on to the child.
        cases.push_back({name_of(vector), u16(vector.at("line")),
                         zub::replace_unpaired_surrogates(u16(vector.at("line"))),
                         replaced(u16_list(vector.at("items")))});
    }
    expect_child_receives(cases);
}

TEST(ProtocolVectors, HelperToChild) {
    std::vector<ChildCase> cases;
    for (const Json& vector : vectors().at("helper_to_child")) {
        // The vector's program goes to the probe as an argument, quoted by the
        // same rule. Lone surrogates are replaced before the helper sees them,
        // as the helper would; the parent-side vectors send them raw.
        std::vector<std::u16string> items = {u16(vector.at("program"))};
        for (const std::u16string& arg : u16_list(vector.at("args"))) items.push_back(arg);
        items = replaced(items);
        std::u16string sent;
        for (const std::u16string& item : items) sent += (sent.empty() ? u"" : u" ") + zub::quote_arg(item);
        cases.push_back({name_of(vector), sent, u16(vector.at("line")), items});
    }
    expect_child_receives(cases);
}

TEST(ProtocolVectors, HelperLineFailures) {
    for (const Json& vector : vectors().at("helper_line")) {
        if (vector.contains("request")) continue;
        e2e::LaunchOptions options;
        options.application = e2e::helper_path();
        options.command_line = e2e::to_wide(u16(vector.at("line")));
        const e2e::LaunchResult result = e2e::launch(options);
        EXPECT_EQ(result.err, zub::to_utf8_lossy(u16(vector.at("stderr")))) << name_of(vector);
        EXPECT_EQ(result.out, "") << name_of(vector);
        EXPECT_EQ(result.exit_code, vector.at("status").get<std::uint64_t>()) << name_of(vector);
    }
}

// A request is accepted: the run goes on to start the program, which exists
// nowhere, so the one line is CreateProcessW's for that program. A container
// name that Windows refuses (and the stand-in with it) ends the run earlier,
// at the profile.
TEST(ProtocolVectors, HelperLineRequests) {
    e2e::ScratchDir dir;
    for (const Json& vector : vectors().at("helper_line")) {
        if (!vector.contains("request")) continue;
        e2e::LaunchOptions options;
        options.application = e2e::winetest_path();
        options.command_line = e2e::to_wide(u16(vector.at("line")));
        options.current_directory = dir.path();
        const e2e::LaunchResult result = e2e::launch(options);
        EXPECT_EQ(result.exit_code, 66u) << name_of(vector);
        if (!vector.value("container_name_valid", true)) {
            const std::string name = zub::to_utf8_lossy(u16(vector.at("request").at("appcontainer_name")));
            const zub::sandbox_error::CreateAppContainerProfile refused{name, 0x80070057};  // E_INVALIDARG
            EXPECT_EQ(result.err, e2e::run_failure_line(refused)) << name_of(vector);
            continue;
        }
        std::string start = e2e::run_failure_line(
            zub::sandbox_error::CreateProcessW{u16(vector.at("request").at("program")), 0});
        start.resize(start.size() - 2);  // the error code and line feed vary with the program
        EXPECT_EQ(result.err.substr(0, start.size()), start) << name_of(vector);
    }
}

// Each outcome a parent can meet, made for real: the helper's status, all it
// writes to stderr (nothing to stdout, ever), and the processes the parent's
// own job held. Against the production helper on Windows as well.
TEST(ProtocolVectors, HelperOutcome) {
    for (const Json& vector : vectors().at("helper_outcome")) {
        e2e::LaunchOptions options;
        if (vector.contains("helper_args")) {
            options = e2e::direct_run(e2e::winetest_path(), u16_list(vector.at("helper_args")));
        } else {
            e2e::RunFlags flags;
            flags.container = u"zub.outcome";
            flags.stdout_mode = u"inherit";
            flags.stderr_mode = u16(vector.at("script_stderr"));
            std::vector<std::u16string> args = {u"-"};
            for (const std::u16string& item : u16_list(vector.at("script"))) args.push_back(item);
            options = e2e::helper_run(flags, e2e::probe_path(), args);
        }
        options.own_job = true;
        options.stderr_unwritable = vector.value("helper_stderr", "") == "read_only";
        const bool killed = vector.contains("parent_kills_after_ms");
        if (killed) options.timeout_ms = vector.at("parent_kills_after_ms").get<DWORD>();
        const e2e::LaunchResult result = e2e::launch(options);
        ASSERT_TRUE(result.started) << name_of(vector) << ": CreateProcessW error " << result.create_error;
        EXPECT_EQ(result.timed_out, killed) << name_of(vector);
        EXPECT_EQ(result.exit_code, vector.at("status").get<std::uint32_t>()) << name_of(vector);
        EXPECT_EQ(result.err, zub::to_utf8_lossy(u16(vector.at("stderr")))) << name_of(vector);
        EXPECT_EQ(result.out, "") << name_of(vector);
        if (vector.contains("job_processes")) {
            EXPECT_EQ(result.job_processes, vector.at("job_processes").get<std::uint32_t>()) << name_of(vector);
        }
    }
}

// The block a vector's helper builds, as its child sees it: the entries of
// windows_sets replaced or added, which the stand-in does under Wine.
// Wine moves SystemRoot, which it also sets, behind the helper's block, so
// the order is compared without it there.
TEST(ProtocolVectors, HelperToChildEnvironment) {
    e2e::ScratchDir dir;
    SetEnvironmentVariableW(L"ZUB_E2E_MARKER", L"from-the-helper");
    for (const Json& vector : vectors().at("helper_to_child_environment")) {
        const bool clear = vector.at("env_clear").get<bool>();
        e2e::RunFlags flags;
        flags.container = u16(vector.at("container"));
        if (clear) flags.extra.push_back(u"--env-clear");
        for (const std::u16string& entry : u16_list(vector.at("env"))) flags.extra.insert(flags.extra.end(), {u"--env", entry});
        const std::wstring report = dir.join(L"env-" + e2e::to_wide(u16(vector.at("name"))) + L".txt");
        e2e::LaunchOptions options = e2e::helper_run(flags, e2e::probe_path(), {e2e::to_u16(report), u"report"});
        if (!clear) {
            options.environment = e2e::to_wide(env_block_of(u16_list(vector.at("helper_environment"))));
        }
        const e2e::LaunchResult result = e2e::launch(options);
        if (vector.contains("windows_error")) {
            const zub::sandbox_error::CreateProcessW refused{e2e::to_u16(e2e::probe_path()),
                                                             vector.at("windows_error").get<std::uint32_t>()};
            EXPECT_EQ(result.exit_code, 66u) << name_of(vector);
            EXPECT_EQ(result.err, e2e::run_failure_line(refused)) << name_of(vector);
            continue;
        }
        ASSERT_EQ(result.exit_code, 0u) << name_of(vector) << ": " << result.err;
        const auto probe = e2e::read_probe_report(report);
        ASSERT_TRUE(probe.has_value()) << name_of(vector);
        std::map<std::string, std::u16string> seen;  // folded name -> entry, first wins
        for (const std::u16string& entry : probe->env) seen.emplace(folded_entry_name(entry), entry);
        std::map<std::string, std::u16string> windows_sets;
        for (const auto& [name, value] : vector.at("windows_sets").items())
            windows_sets[folded_entry_name(u16(Json(name)))] = u16(value);
        for (const auto& [name, value] : windows_sets) {
            const auto found = seen.find(name);
            EXPECT_EQ(found == seen.end() ? u"(none)" : std::u16string(entry_value(found->second)), value)
                << name_of(vector) << ": " << name;
        }
        const bool wine = !e2e::targets_production();
        const auto compared = [&](const std::u16string& entry) {
            const std::string name = folded_entry_name(entry);
            return !windows_sets.contains(name) && !(wine && name == "systemroot");
        };
        std::vector<std::u16string> want, got;
        for (const std::u16string& entry : u16_list(vector.at("block")))
            if (compared(entry)) want.push_back(entry);
        for (const std::u16string& entry : probe->env)
            if (compared(entry) && std::find(want.begin(), want.end(), entry) != want.end()) got.push_back(entry);
        EXPECT_EQ(got, want) << name_of(vector);
        if (clear) {
            EXPECT_FALSE(seen.contains("zub_e2e_marker")) << name_of(vector) << ": the helper's own environment leaked";
        }
    }
}

}  // namespace
