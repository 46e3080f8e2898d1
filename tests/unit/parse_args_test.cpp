#include "protocol/parse_args.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace zub {
namespace {

using namespace argv_error;

const std::u16string LONE_HIGH{char16_t(0xD83D)};
const std::string LOSSY_LONE = "\xef\xbf\xbd";

using Args = std::vector<OsString>;

Args concat(std::initializer_list<Args> parts) {
    Args out;
    for (const Args& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

const Args VERSION = {u"--protocol-version", u"1"};
const Args NAME = {u"--appcontainer-name", u"c"};
const Args STDIN = {u"--stdio-stdin", u"null"};
const Args STDOUT = {u"--stdio-stdout", u"inherit"};
const Args STDERR = {u"--stdio-stderr", u"piped"};
const Args PROGRAM = {u"--", u"prog"};

Args minimal() { return concat({VERSION, NAME, STDIN, STDOUT, STDERR, PROGRAM}); }

// The minimal valid request with `extra` flags placed before the separator.
Args with_flags(const Args& extra) {
    return concat({VERSION, NAME, STDIN, STDOUT, STDERR, extra, PROGRAM});
}

HelperRequest parse_ok(const Args& args) {
    Result<HelperRequest, ArgvError> result = parse_helper_args(args);
    if (!result) {
        ADD_FAILURE() << "parse failed: " << render(result.error());
        return {};
    }
    return std::move(result).value();
}

TEST(ParseHelperArgs, MinimalRequest) {
    const HelperRequest r = parse_ok(minimal());
    HelperRequest expected;
    expected.protocol_version = 1;
    expected.appcontainer_name = "c";
    expected.stdin_mode = StdioMode::Null;
    expected.stdout_mode = StdioMode::Inherit;
    expected.stderr_mode = StdioMode::Piped;
    expected.program = u"prog";
    EXPECT_EQ(r, expected);
}

TEST(ParseHelperArgs, EveryFlagRepeatedKeepsOrderOrLastValue) {
    const HelperRequest r = parse_ok(concat({
        {u"--protocol-version", u"2", u"--protocol-version", u"1"},
        {u"--appcontainer-name", u"first", u"--appcontainer-name", u"zub.\u00e9"},
        {u"--readable-dir", u"C:\\r1", u"--writable-dir", u"C:\\w", u"--readable-dir", u"C:\\r1"},
        {u"--readable-dir-best-effort", u"C:\\b" + LONE_HIGH, u"--readable-dir", u"C:\\r2"},
        {u"--grant-internet-client", u"--grant-internet-client", u"--env-clear", u"--env-clear"},
        {u"--env", u"A=1", u"--env", u"no-equals", u"--env", u"A=2"},
        {u"--working-dir", u"C:\\one", u"--working-dir", u"C:\\two"},
        {u"--stdio-stdin", u"piped", u"--stdio-stdin", u"inherit"},
        {u"--stdio-stdout", u"null", u"--stdio-stderr", u"null", u"--stdio-stderr", u"inherit"},
        {u"--", u"C:\\node.exe", u"x" + LONE_HIGH, u"", u"-- "},
    }));
    EXPECT_EQ(r.protocol_version, 1u);
    EXPECT_EQ(r.appcontainer_name, "zub.\xc3\xa9");
    EXPECT_EQ(r.readable_dirs, (Args{u"C:\\r1", u"C:\\r1", u"C:\\r2"}));
    EXPECT_EQ(r.writable_dirs, (Args{u"C:\\w"}));
    EXPECT_EQ(r.readable_dirs_best_effort, (Args{u"C:\\b" + LONE_HIGH}));
    EXPECT_TRUE(r.grant_internet_client);
    EXPECT_TRUE(r.env_clear);
    EXPECT_EQ(r.env, (Args{u"A=1", u"no-equals", u"A=2"}));
    EXPECT_EQ(r.working_dir, OsString(u"C:\\two"));
    EXPECT_EQ(r.stdin_mode, StdioMode::Inherit);
    EXPECT_EQ(r.stdout_mode, StdioMode::Null);
    EXPECT_EQ(r.stderr_mode, StdioMode::Inherit);
    EXPECT_EQ(r.program, u"C:\\node.exe");
    EXPECT_EQ(r.args, (Args{u"x" + LONE_HIGH, u"", u"-- "}));
}

TEST(ParseHelperArgs, ValuesAreTakenUnconditionally) {
    HelperRequest r = parse_ok(with_flags({u"--working-dir", u"--env"}));
    EXPECT_EQ(r.working_dir, OsString(u"--env"));
    EXPECT_TRUE(r.env.empty());

    // A value of "--" is a value, so the flags go on after it.
    r = parse_ok(with_flags({u"--env", u"--", u"--env-clear"}));
    EXPECT_EQ(r.env, (Args{u"--"}));
    EXPECT_TRUE(r.env_clear);

    r = parse_ok(concat({VERSION, {u"--appcontainer-name", u"--"}, STDIN, STDOUT, STDERR, PROGRAM}));
    EXPECT_EQ(r.appcontainer_name, "--");

    r = parse_ok(with_flags({u"--readable-dir", u"--stdio-stdin", u"--writable-dir", u"--protocol-version"}));
    EXPECT_EQ(r.readable_dirs, (Args{u"--stdio-stdin"}));
    EXPECT_EQ(r.writable_dirs, (Args{u"--protocol-version"}));
}

TEST(ParseHelperArgs, EverythingAfterTheSeparatorIsVerbatim) {
    HelperRequest r = parse_ok(concat({minimal(), {u"--env", u"X", u"--", u"--bogus"}}));
    EXPECT_EQ(r.program, u"prog");
    EXPECT_EQ(r.args, (Args{u"--env", u"X", u"--", u"--bogus"}));

    r = parse_ok(concat({VERSION, NAME, STDIN, STDOUT, STDERR, {u"--", u"--"}}));
    EXPECT_EQ(r.program, u"--");

    r = parse_ok(concat({VERSION, NAME, STDIN, STDOUT, STDERR, {u"--", u""}}));
    EXPECT_EQ(r.program, u"");

    r = parse_ok(concat({VERSION, NAME, STDIN, STDOUT, STDERR, {u"--", LONE_HIGH}}));
    EXPECT_EQ(r.program, LONE_HIGH);
}

struct FailureCase {
    std::string what;
    Args args;
    ArgvError expected;
};

void expect_failures(const std::vector<FailureCase>& cases) {
    for (const FailureCase& c : cases) {
        const Result<HelperRequest, ArgvError> result = parse_helper_args(c.args);
        ASSERT_FALSE(result.ok()) << c.what;
        EXPECT_EQ(result.error(), c.expected) << c.what << ": got " << render(result.error());
    }
}

TEST(ParseHelperArgs, EveryFailureKind) {
    expect_failures({
        {"value flag last", concat({VERSION, NAME, {u"--working-dir"}}), MissingValue{"--working-dir"}},
        {"prog without separator", concat({VERSION, NAME, STDIN, STDOUT, STDERR, {u"prog"}}),
         UnknownFlag{"prog"}},
        {"wrong case", with_flags({u"--Env", u"A=B"}), UnknownFlag{"--Env"}},
        {"joined value", with_flags({u"--env=A=B"}), UnknownFlag{"--env=A=B"}},
        {"short option", with_flags({u"-e", u"A=B"}), UnknownFlag{"-e"}},
        {"joined stdio", with_flags({u"--stdio-stdin=null"}), UnknownFlag{"--stdio-stdin=null"}},
        {"prefix of a flag", with_flags({u"--readable"}), UnknownFlag{"--readable"}},
        {"empty argument", with_flags({u""}), UnknownFlag{""}},
        {"flag with trailing space", with_flags({u"--env-clear "}), UnknownFlag{"--env-clear "}},
        {"unpaired surrogate argument", with_flags({u"--env" + LONE_HIGH}),
         UnknownFlag{"--env" + LOSSY_LONE}},
        {"invalid container name", concat({VERSION, {u"--appcontainer-name", u"c" + LONE_HIGH}}),
         UnknownFlag{"--appcontainer-name"}},
        {"stdio upper case", with_flags({u"--stdio-stdin", u"NULL"}),
         InvalidStdioValue{"--stdio-stdin", "NULL"}},
        {"stdio padded", with_flags({u"--stdio-stdout", u" null"}),
         InvalidStdioValue{"--stdio-stdout", " null"}},
        {"stdio empty", with_flags({u"--stdio-stderr", u""}), InvalidStdioValue{"--stdio-stderr", ""}},
        {"stdio invalid unicode", with_flags({u"--stdio-stderr", u"null" + LONE_HIGH}),
         InvalidStdioValue{"--stdio-stderr", "null" + LOSSY_LONE}},
        {"no arguments", {}, MissingSeparator{}},
        {"flags only", concat({VERSION, NAME, STDIN, STDOUT, STDERR}), MissingSeparator{}},
        {"separator last", concat({VERSION, NAME, STDIN, STDOUT, STDERR, {u"--"}}), MissingProgram{}},
        {"no version", concat({NAME, STDIN, STDOUT, STDERR, PROGRAM}),
         MissingRequiredFlag{"protocol-version"}},
        {"no name", concat({VERSION, STDIN, STDOUT, STDERR, PROGRAM}),
         MissingRequiredFlag{"appcontainer-name"}},
        {"no stdin", concat({VERSION, NAME, STDOUT, STDERR, PROGRAM}), MissingRequiredFlag{"stdio-stdin"}},
        {"no stdout", concat({VERSION, NAME, STDIN, STDERR, PROGRAM}), MissingRequiredFlag{"stdio-stdout"}},
        {"no stderr", concat({VERSION, NAME, STDIN, STDOUT, PROGRAM}), MissingRequiredFlag{"stdio-stderr"}},
        {"bad version", concat({{u"--protocol-version", u"one"}, PROGRAM}), InvalidProtocolVersion{"one"}},
        {"version 2", concat({{u"--protocol-version", u"2"}, NAME, STDIN, STDOUT, STDERR, PROGRAM}),
         ProtocolVersionMismatch{2, 1}},
    });
}

TEST(ParseHelperArgs, EveryValueFlagAsLastArgumentMissesItsValue) {
    const char16_t* flags[] = {u"--protocol-version", u"--appcontainer-name", u"--readable-dir",
                               u"--writable-dir",     u"--readable-dir-best-effort", u"--env",
                               u"--working-dir",      u"--stdio-stdin", u"--stdio-stdout",
                               u"--stdio-stderr"};
    for (const char16_t* flag : flags) {
        const std::string text = to_utf8_lossy(flag);
        expect_failures({{text, concat({VERSION, NAME, {flag}}), MissingValue{text}}});
    }
    // Switches take no value, so as last argument they only miss the separator.
    expect_failures({{"switch last", {u"--env-clear"}, MissingSeparator{}},
                     {"switch last", {u"--grant-internet-client"}, MissingSeparator{}}});
}

TEST(ParseHelperArgs, ProtocolVersionForms) {
    for (const char16_t* accepted : {u"1", u"+1", u"01", u"0000000001", u"00000000000000000000001"}) {
        const HelperRequest r =
            parse_ok(concat({{u"--protocol-version", accepted}, NAME, STDIN, STDOUT, STDERR, PROGRAM}));
        EXPECT_EQ(r.protocol_version, 1u) << to_utf8_lossy(accepted);
    }
    std::vector<FailureCase> cases;
    for (const char16_t* rejected :
         {u"", u"+", u"-1", u" 1", u"1 ", u"1.0", u"0x1", u"++1", u"+-1", u"\uff11", u"4294967296",
          u"18446744073709551617", u"99999999999999999999999"}) {
        const std::string text = to_utf8_lossy(rejected);
        cases.push_back({text, concat({{u"--protocol-version", rejected}, NAME, STDIN, PROGRAM}),
                         InvalidProtocolVersion{text}});
    }
    cases.push_back({"lossy value", concat({{u"--protocol-version", u"1" + LONE_HIGH}, PROGRAM}),
                     InvalidProtocolVersion{"1" + LOSSY_LONE}});
    cases.push_back({"max u32", concat({{u"--protocol-version", u"4294967295"}, NAME, STDIN, STDOUT,
                                        STDERR, PROGRAM}),
                     ProtocolVersionMismatch{4294967295u, 1}});
    cases.push_back({"zero", concat({{u"--protocol-version", u"+0"}, NAME, STDIN, STDOUT, STDERR, PROGRAM}),
                     ProtocolVersionMismatch{0, 1}});
    expect_failures(cases);
}

TEST(ParseHelperArgs, OrderOfDetection) {
    expect_failures({
        // A walk failure wins over every completion check.
        {"mismatch then unknown", {u"--protocol-version", u"2", u"--bogus", u"--", u"prog"},
         UnknownFlag{"--bogus"}},
        {"mismatch and no separator", {u"--protocol-version", u"2"}, MissingSeparator{}},
        {"nothing given but no program", {u"--"}, MissingProgram{}},
        {"first walk failure wins", {u"--stdio-stdin", u"bad", u"--protocol-version", u"x"},
         InvalidStdioValue{"--stdio-stdin", "bad"}},
        // Every value is checked when met, even if a later one would replace it.
        {"bad version replaced later", concat({{u"--protocol-version", u"x"}, minimal()}),
         InvalidProtocolVersion{"x"}},
        {"bad stdio replaced later", concat({{u"--stdio-stdout", u"pipe"}, minimal()}),
         InvalidStdioValue{"--stdio-stdout", "pipe"}},
        {"bad name replaced later", concat({{u"--appcontainer-name", LONE_HIGH}, minimal()}),
         UnknownFlag{"--appcontainer-name"}},
        // Completion: version missing, then mismatch, then the other flags in order.
        {"missing version before missing name", concat({STDIN, PROGRAM}),
         MissingRequiredFlag{"protocol-version"}},
        {"mismatch before missing name", {u"--protocol-version", u"7", u"--", u"prog"},
         ProtocolVersionMismatch{7, 1}},
        {"name before stdout", concat({VERSION, STDIN, STDERR, PROGRAM}),
         MissingRequiredFlag{"appcontainer-name"}},
        {"stdin before stderr", concat({VERSION, NAME, STDOUT, PROGRAM}), MissingRequiredFlag{"stdio-stdin"}},
        {"stdout before stderr", concat({VERSION, NAME, STDIN, PROGRAM}), MissingRequiredFlag{"stdio-stdout"}},
    });
}

TEST(ParseStdioMode, WordsAreExact) {
    struct Case {
        OsString value;
        bool ok;
        StdioMode mode;
    };
    const Case cases[] = {
        {u"inherit", true, StdioMode::Inherit}, {u"null", true, StdioMode::Null},
        {u"piped", true, StdioMode::Piped},     {u"Inherit", false, {}},
        {u"nul", false, {}},                    {u"", false, {}},
        {u"null ", false, {}},                  {u"pipe", false, {}},
    };
    for (const Case& c : cases) {
        const Result<StdioMode, ArgvError> r = parse_stdio_mode("--stdio-stdout", c.value);
        ASSERT_EQ(r.ok(), c.ok) << to_utf8_lossy(c.value);
        if (c.ok) {
            EXPECT_EQ(r.value(), c.mode);
        } else {
            EXPECT_EQ(r.error(), ArgvError(InvalidStdioValue{"--stdio-stdout", to_utf8_lossy(c.value)}));
        }
    }
    const OsString embedded_nul(u"null\0", 5);
    EXPECT_FALSE(parse_stdio_mode("--stdio-stdin", embedded_nul).ok());
}

TEST(ParseHelperArgs, LongListsParse) {
    Args args = concat({VERSION, NAME, STDIN, STDOUT, STDERR});
    for (int i = 0; i < 20000; ++i) {
        args.push_back(u"--env");
        args.push_back(std::u16string(u"V=").append(20, u'x'));
    }
    args.push_back(u"--");
    args.push_back(u"prog");
    args.insert(args.end(), 20000, u"arg");
    const HelperRequest r = parse_ok(args);
    EXPECT_EQ(r.env.size(), 20000u);
    EXPECT_EQ(r.args.size(), 20000u);
}

}  // namespace
}  // namespace zub
