// Running a package.json script through the helper with the real cmd.exe.
// The probe stands in for node.exe: its argv, split by the C runtime as
// node's is, shows what the script's command received.
#include <gtest/gtest.h>

#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "e2e_launch.h"
#include "e2e_probe_report.h"
#include "support/protocol_vectors.h"

namespace {

// core-js's postinstall, with the probe in node's place.
const std::u16string NODE_CODE = u"try{require('./postinstall')}catch(e){}";

std::wstring cmd_path() {
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    return std::wstring(directory, length) + L"\\cmd.exe";
}

// The guide's rule for a script's line in a .cmd file: a %NAME% whose name (up
// to any ':') is defined for the script stays, every other % is doubled.
std::u16string cmd_file_line(const std::u16string& script) {
    std::u16string line;
    for (std::size_t at = 0; at < script.size(); ++at) {
        const std::size_t close = script[at] == u'%' ? script.find(u'%', at + 1) : std::u16string::npos;
        const std::u16string name = close == std::u16string::npos ? u"" : script.substr(at + 1, close - at - 1);
        if (!name.empty() && GetEnvironmentVariableW(e2e::to_wide(name.substr(0, name.find(u':'))).c_str(), nullptr, 0)) {
            line += script.substr(at, close - at + 1);
            at = close;
        } else {
            line += script[at] == u'%' ? u"%%" : std::u16string(1, script[at]);
        }
    }
    return line;
}

class CmdRecipe : public testing::Test {
protected:
    void SetUp() override {
        // The script below names both paths unquoted.
        ASSERT_EQ(report_path.find(L' '), std::wstring::npos);
        ASSERT_EQ(e2e::probe_path().find(L' '), std::wstring::npos);
        flags.stdout_mode = u"inherit";
        flags.extra = {u"--readable-dir", e2e::to_u16(dir.path())};
    }

    // The probe's command line as a script author writes it, ahead of `rest`.
    std::u16string script(const std::u16string& rest) const {
        return e2e::to_u16(e2e::probe_path()) + u" " + e2e::to_u16(report_path) + u" report " + rest;
    }

    // A .cmd file holding the script verbatim, echo off so that cmd.exe does
    // not show each command on the child's stdout.
    std::wstring write_cmd_file(const std::u16string& text,
                                const std::wstring& name = L"postinstall.cmd") const {
        std::string bytes = "@echo off\r\n";
        for (const char16_t unit : text) bytes += static_cast<char>(unit);  // the scripts are ASCII
        EXPECT_TRUE(dir.make_file(name, bytes + "\r\n"));
        return dir.join(name);
    }

    // Runs `program args` through the helper; the probe's argv after "report".
    std::vector<std::u16string> run(const std::wstring& program,
                                    const std::vector<std::u16string>& args,
                                    const std::string& expected_out = "probe-stdout\n") {
        const e2e::LaunchResult result = e2e::launch(e2e::helper_run(flags, program, args));
        EXPECT_TRUE(result.started && !result.timed_out);
        EXPECT_EQ(result.exit_code, 0u) << result.err;
        EXPECT_EQ(result.out, expected_out);
        const auto probe = e2e::read_probe_report(report_path);
        if (!probe || probe->argv.size() < 3) {
            ADD_FAILURE() << "the probe did not run";
            return {};
        }
        return std::vector<std::u16string>(probe->argv.begin() + 3, probe->argv.end());
    }

    e2e::ScratchDir dir;
    std::wstring report_path = dir.join(L"report.txt");
    e2e::RunFlags flags;
};

TEST_F(CmdRecipe, ScriptAsOneItemAfterSlashCArrivesAltered) {
    // What npm runs cannot be expressed: the helper quotes the item by the C
    // runtime's rules, cmd.exe /s strips only the outer quotes, and node is
    // handed a string literal instead of code.
    const std::vector<std::u16string> argv =
        run(cmd_path(), {u"/d", u"/s", u"/c", script(u"-e \"" + NODE_CODE + u"\"")});
    EXPECT_EQ(argv, (std::vector<std::u16string>{u"-e", u"\"" + NODE_CODE + u"\""}));
}

TEST_F(CmdRecipe, NodeCommandPassedDirectly) {
    const std::vector<std::u16string> argv =
        run(e2e::probe_path(), {e2e::to_u16(report_path), u"report", u"-e", NODE_CODE});
    EXPECT_EQ(argv, (std::vector<std::u16string>{u"-e", NODE_CODE}));
}

TEST_F(CmdRecipe, ScriptVerbatimInACmdFile) {
    const std::wstring file = write_cmd_file(script(u"-e \"" + NODE_CODE + u"\""));
    const std::vector<std::u16string> argv =
        run(cmd_path(), {u"/d", u"/s", u"/c", e2e::to_u16(file)});
    EXPECT_EQ(argv, (std::vector<std::u16string>{u"-e", NODE_CODE}));
}

TEST_F(CmdRecipe, PercentSignsFollowBatchRulesInACmdFileNotCommandLineRules) {
    flags.extra.insert(flags.extra.end(), {u"--env", u"ZUB_RECIPE=set"});
    // As npm runs it: a script without double quotes survives as one item, and
    // cmd.exe's command line keeps %%, an undefined %NAME% and %1 as written.
    // (Wine's cmd.exe also leaves a defined %NAME% unexpanded there, unlike Windows.)
    EXPECT_EQ(run(cmd_path(), {u"/d", u"/s", u"/c", script(u"100%% [%ZUB_RECIPE_UNSET%] %1")}),
              (std::vector<std::u16string>{u"100%%", u"[%ZUB_RECIPE_UNSET%]", u"%1"}));
    // In a batch file %% is one %, and an undefined variable or argument is empty.
    const std::wstring file = write_cmd_file(script(u"100%% %ZUB_RECIPE% [%ZUB_RECIPE_UNSET%] %1"));
    EXPECT_EQ(run(cmd_path(), {u"/d", u"/s", u"/c", e2e::to_u16(file)}),
              (std::vector<std::u16string>{u"100%", u"set", u"[]"}));
}

TEST_F(CmdRecipe, CmdFileHandsOnTheExitCode) {
    const std::wstring file = write_cmd_file(e2e::to_u16(e2e::probe_path()) + u" - exit 7");
    const e2e::LaunchResult result =
        e2e::launch(e2e::helper_run(flags, cmd_path(), {u"/d", u"/s", u"/c", e2e::to_u16(file)}));
    ASSERT_TRUE(result.started && !result.timed_out);
    EXPECT_EQ(result.exit_code, 7u) << result.err;
}

TEST_F(CmdRecipe, CmdFilePathNeedingQuotesIsNotFound) {
    // The helper quotes a path with a space, and /s strips those quotes again.
    const std::wstring file = write_cmd_file(script(u"-e 1"), L"post install.cmd");
    const e2e::LaunchResult result =
        e2e::launch(e2e::helper_run(flags, cmd_path(), {u"/d", u"/s", u"/c", e2e::to_u16(file)}));
    ASSERT_TRUE(result.started && !result.timed_out);
    EXPECT_NE(result.exit_code, 0u);
    EXPECT_FALSE(e2e::read_probe_report(report_path).has_value());
}

// docs/script-vectors.json: each script as npm runs it, straight to cmd.exe,
// and as the guide's rule has a parent pass it through the helper.
TEST_F(CmdRecipe, ScriptVectors) {
    using zub::test_support::u16;
    using zub::test_support::u16_list;
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    const zub::test_support::Json vectors = zub::test_support::read_json_named_by("ZUB_SCRIPT_VECTORS");
    ASSERT_FALSE(vectors.at("scripts").empty());
    for (const auto& row : vectors.at("scripts")) {
        const std::string name = zub::test_support::name_of(row);
        const std::u16string script = u16(row.at("script"));
        const bool as_item = !script.empty() && script.find(u'"') == std::u16string::npos && script.back() != u'\\';
        ASSERT_EQ(row.contains("args"), as_item) << name;
        std::vector<std::wstring> names;
        for (const std::u16string& entry : u16_list(row.at("env"))) {
            names.push_back(e2e::to_wide(entry.substr(0, entry.find(u'='))));
            SetEnvironmentVariableW(names.back().c_str(), e2e::to_wide(entry.substr(entry.find(u'=') + 1)).c_str());
        }
        e2e::LaunchOptions parent, npm;
        npm.application = cmd_path();
        npm.command_line = L"cmd.exe /d /s /c \"" + e2e::to_wide(script) + L"\"";
        npm.current_directory = dir.path();
        if (as_item) {
            EXPECT_EQ(u16_list(row.at("args")), (std::vector<std::u16string>{u"/d", u"/s", u"/c", script})) << name;
            parent = e2e::helper_run(flags, cmd_path(), u16_list(row.at("args")));
        } else {
            EXPECT_EQ(u16(row.at("cmd_file")), cmd_file_line(script)) << name;
            const std::wstring file = L"zub-" + e2e::to_wide(u16(row.at("name"))) + L".cmd";
            write_cmd_file(u16(row.at("cmd_file")), file);
            flags.extra.insert(flags.extra.end(), {u"--working-dir", e2e::to_u16(dir.path())});  // last wins
            parent = e2e::helper_run(flags, cmd_path(), {u"/d", u"/c", e2e::to_u16(file)});
        }
        for (const auto& [form, options] : {std::pair{"npm", npm}, std::pair{"parent", parent}}) {
            if (wine && row.value("wine_differs", zub::test_support::Json::object()).contains(form)) {
                std::cout << "skipped under Wine: " << name << " as " << form << ": "
                          << row.at("wine_differs").at(form).get<std::string>() << "\n";
                continue;
            }
            const e2e::LaunchResult result = e2e::launch(options);
            EXPECT_EQ(result.out, row.at("stdout").get<std::string>()) << name << " as " << form;
            EXPECT_EQ(result.exit_code, row.at("status").get<std::uint32_t>()) << name << " as " << form << result.err;
        }
        for (const std::wstring& variable : names) SetEnvironmentVariableW(variable.c_str(), nullptr);
    }
}

}  // namespace
