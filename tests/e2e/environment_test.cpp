// The child's environment block as the child sees it. Wine appends variables
// of its own after the block it is given, so only the helper's part, the
// front of the block, is compared exactly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_launch.h"
#include "e2e_probe_report.h"
#include "base/os_string.h"

namespace {

// The variable's name folded as the helper orders it: UTF-8, ASCII letters small.
std::string folded(const std::u16string& name) {
    std::string text = zub::to_utf8_lossy(name);
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
    return text;
}

std::vector<std::u16string> env_flags(const std::vector<std::u16string>& overrides) {
    std::vector<std::u16string> flags;
    for (const std::u16string& entry : overrides) {
        flags.push_back(u"--env");
        flags.push_back(entry);
    }
    return flags;
}

std::optional<e2e::ProbeReport> run_probe(const e2e::ScratchDir& dir, const e2e::RunFlags& flags,
                                          const std::optional<std::wstring>& environment,
                                          const wchar_t* report_name) {
    const std::wstring report_path = dir.join(report_name);
    e2e::LaunchOptions options =
        e2e::helper_run(flags, e2e::probe_path(), {e2e::to_u16(report_path), u"report"});
    options.environment = environment;
    const e2e::LaunchResult result = e2e::launch(options);
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exit_code, 0u) << result.err;
    EXPECT_EQ(result.err, "");
    return e2e::read_probe_report(report_path);
}

const std::u16string LONE_SURROGATE(1, char16_t(0xD800));

TEST(ChildEnvironment, EnvClearKeepsOnlyTheOverridesSorted) {
    SetEnvironmentVariableW(L"ZUB_E2E_MARKER", L"from-the-helper");
    const std::vector<std::u16string> overrides = {
        u"ZED=1", u"alpha=2", u"Mid=x=y", u"NOEQ", u"", u"ALPHA=3", u"E=",
        u"\u00c4=upper", u"\u00e4=lower", u"S=" + LONE_SURROGATE + u"x", u"=C:=D:\\x"};
    e2e::RunFlags flags;
    flags.extra = env_flags(overrides);
    flags.extra.insert(flags.extra.begin(), u"--env-clear");
    e2e::ScratchDir dir;
    const auto report = run_probe(dir, flags, std::nullopt, L"clear.txt");
    ASSERT_TRUE(report);

    // Sorted by folded name; later definitions win, with their own spelling.
    const std::vector<std::u16string> expected = {
        u"=C:=D:\\x", u"ALPHA=3", u"E=", u"Mid=x=y", u"S=" + LONE_SURROGATE + u"x", u"ZED=1",
        u"\u00c4=upper", u"\u00e4=lower"};
    ASSERT_GE(report->env.size(), expected.size());
    EXPECT_EQ(std::vector<std::u16string>(report->env.begin(),
                                          report->env.begin() + expected.size()),
              expected);
    for (std::size_t i = expected.size(); i < report->env.size(); ++i) {
        const std::string name = folded(report->env[i].substr(0, report->env[i].find(u'=', 1)));
        EXPECT_NE(name, "zub_e2e_marker") << "the helper's own environment leaked";
        EXPECT_NE(name, "alpha");
        EXPECT_NE(name, "zed");
    }
}

TEST(ChildEnvironment, InheritedEnvironmentMergedWithOverrides) {
    // The helper's own environment. Wine takes its variables (WINE*, SystemRoot,
    // ...) out of a block handed to a new process and appends them afresh, so
    // the helper's sorted part is exactly this block with the overrides.
    const std::vector<std::u16string> helper_env = {
        u"zz_last=1", u"Path=C:\\windows", u"Mixed=old", u"AA_first=1", u"_under=1",
        u"Q=a=b", u"=C:=C:\\x", u"\u00fcml=1", u"\u00dcml=2", u"V=" + LONE_SURROGATE};
    std::wstring block;
    for (const std::u16string& entry : helper_env) block += e2e::to_wide(entry) + L'\0';
    block += L'\0';

    const std::vector<std::u16string> overrides = {u"PATH=override", u"mixed=new", u"Added=1"};
    e2e::RunFlags flags;
    flags.extra = env_flags(overrides);
    e2e::ScratchDir dir;
    const auto report = run_probe(dir, flags, block, L"inherited.txt");
    ASSERT_TRUE(report);

    // By folded name: '=' before '_' before letters, ASCII case ignored, the
    // override's spelling kept; non-ASCII letters keep their case (U+00DC < U+00FC).
    const std::vector<std::u16string> expected = {
        u"=C:=C:\\x", u"_under=1", u"AA_first=1", u"Added=1", u"mixed=new", u"PATH=override",
        u"Q=a=b", u"V=" + LONE_SURROGATE, u"zz_last=1", u"\u00dcml=2", u"\u00fcml=1"};
    ASSERT_GE(report->env.size(), expected.size());
    EXPECT_EQ(std::vector<std::u16string>(report->env.begin(),
                                          report->env.begin() + expected.size()),
              expected);
}

}  // namespace
