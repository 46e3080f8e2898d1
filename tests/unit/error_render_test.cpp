#include "protocol/argv_error.h"
#include "protocol/debug_form.h"
#include "protocol/sandbox_error.h"

#include <gtest/gtest.h>

#include <string>

namespace zub {
namespace {

const std::u16string LONE_HIGH{char16_t(0xD83D)};

TEST(RenderArgvError, EveryVariant) {
    using namespace argv_error;
    struct Case {
        ArgvError error;
        std::string expected;
    };
    const Case cases[] = {
        {MissingValue{"--working-dir"}, "flag `--working-dir` requires a value but none was provided"},
        {UnknownFlag{"--bogus"},
         "unrecognized helper flag `--bogus` \xe2\x80\x94 parent and helper protocol versions appear to be "
         "out of sync; reinstall zub"},
        {UnknownFlag{""},
         "unrecognized helper flag `` \xe2\x80\x94 parent and helper protocol versions appear to be out of "
         "sync; reinstall zub"},
        {InvalidStdioValue{"--stdio-stdin", "NULL"},
         "stdio flag `--stdio-stdin` received `NULL`, expected one of `inherit`, `null`, `piped`"},
        {MissingSeparator{}, "argv is missing the `--` separator before the program path"},
        {MissingProgram{}, "argv contains `--` but no program path follows it"},
        {MissingRequiredFlag{"stdio-stdin"}, "required flag `--stdio-stdin` was not provided"},
        {InvalidProtocolVersion{"0x1"}, "`--protocol-version` value `0x1` is not a valid u32"},
        {ProtocolVersionMismatch{2, 1},
         "protocol version mismatch: parent supplied 2, this helper supports 1. Reinstall zub so the "
         "helper binary matches `zub.exe`."},
        {ProtocolVersionMismatch{4294967295u, 1},
         "protocol version mismatch: parent supplied 4294967295, this helper supports 1. Reinstall zub "
         "so the helper binary matches `zub.exe`."},
    };
    for (const Case& c : cases) EXPECT_EQ(render(c.error), c.expected);
}

// Every kind's line, rendered once, is a run_failure_lines vector
// (protocol_vectors_test); these are the renderings' edges.
TEST(RenderSandboxError, NumbersPathsAndPrograms) {
    using namespace sandbox_error;
    struct Case {
        SandboxError error;
        std::string expected;
    };
    const Case cases[] = {
        {CreateAppContainerProfile{"c", 5}, "CreateAppContainerProfile(c) failed with HRESULT 0x00000005"},
        {GetNamedSecurityInfoW{u"C:\\a b\\c", 5}, "GetNamedSecurityInfoW(C:\\a b\\c) failed with Win32 error 5"},
        {SetNamedSecurityInfoW{u"C:\\x" + LONE_HIGH, 0},
         "SetNamedSecurityInfoW(C:\\x\xef\xbf\xbd) failed with Win32 error 0"},
        {SetInformationJobObject{4294967295u},
         "SetInformationJobObject(KILL_ON_JOB_CLOSE) failed with Win32 error 4294967295"},
        {CreateProcessW{u"a" + LONE_HIGH, 193}, "CreateProcessW(\"a\\u{d83d}\") failed with Win32 error 193"},
        {WaitForSingleObject{258}, "WaitForSingleObject(child) returned unexpected value 0x00000102"},
        {WaitForSingleObject{0xABCDEF}, "WaitForSingleObject(child) returned unexpected value 0x00ABCDEF"},
    };
    for (const Case& c : cases) EXPECT_EQ(render(c.error), c.expected);
}

TEST(DebugQuoted, Escapes) {
    struct Case {
        const char* what;
        std::u16string program;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", u"", "\"\""},
        {"backslashes doubled", u"C:\\tools\\node.exe", "\"C:\\\\tools\\\\node.exe\""},
        {"quote", u"a\"b", "\"a\\\"b\""},
        {"single quote kept", u"it's", "\"it's\""},
        {"space kept", u"a b", "\"a b\""},
        {"short escapes", std::u16string(u"\t\n\r\0x", 5), "\"\\t\\n\\r\\0x\""},
        {"other control", u"\x01\x1b\x7f", "\"\\u{1}\\u{1b}\\u{7f}\""},
        {"accented letter kept", u"caf\u00e9", "\"caf\xc3\xa9\""},
        {"combining accent", u"e\u0301", "\"e\\u{301}\""},
        {"no-break space", u"a\u00a0b", "\"a\\u{a0}b\""},
        {"zero width space", u"\u200b", "\"\\u{200b}\""},
        {"zero width joiner", u"\u200d", "\"\\u{200d}\""},
        {"line separator", u"\u2028", "\"\\u{2028}\""},
        {"ideographic space", u"\u3000", "\"\\u{3000}\""},
        {"private use", u"\ue000", "\"\\u{e000}\""},
        {"unassigned", u"\u0378", "\"\\u{378}\""},
        {"printable above U+FFFF", u"\U0001F600", "\"\xf0\x9f\x98\x80\""},
        {"format char above U+FFFF", u"\U000E0001", "\"\\u{e0001}\""},
        {"noncharacter", u"\U0010FFFF", "\"\\u{10ffff}\""},
        {"unpaired high", u"a" + LONE_HIGH + u"b", "\"a\\u{d83d}b\""},
        {"unpaired low", std::u16string(1, char16_t(0xDC00)), "\"\\u{dc00}\""},
        {"reversed pair", {char16_t(0xDE00), char16_t(0xD83D)}, "\"\\u{de00}\\u{d83d}\""},
        {"high at the end", u"\U0001F600" + LONE_HIGH, "\"\xf0\x9f\x98\x80\\u{d83d}\""},
        {"em dash kept", u"\u2014", "\"\xe2\x80\x94\""},
    };
    for (const Case& c : cases) EXPECT_EQ(debug_quoted(c.program), c.expected) << c.what;
}

TEST(DebugQuoted, UnicodeTables) {
    // Range entries of UnicodeData.txt (<..., First> / <..., Last>) and what lies between them.
    for (char32_t c : {U'a', U' ', U'~', U'\u00a1', U'\u3400', U'\u4dbf', U'\u9fff', U'\uac01', U'\ud7a3',
                       U'\U00031350', U'\U0002a6df', U'\u0300'}) {
        EXPECT_TRUE(is_printable(c)) << std::hex << static_cast<unsigned>(c);
    }
    for (char32_t c : {U'\0', U'\u0085', U'\u00ad', U'\u2029', U'\u202f', U'\ud7a4', U'\uf8ff',
                       U'\U000f0001', U'\U0010fffd', U'\U0002a6e0', U'\U000e0000', char32_t(0xD800),
                       char32_t(0xDFFF), char32_t(0x110000), char32_t(0xFFFFFFFF)}) {
        EXPECT_FALSE(is_printable(c)) << std::hex << static_cast<unsigned>(c);
    }
    for (char32_t c : {U'\u0300', U'\u036f', U'\u200c', U'\uff9e', U'\U000e0020', U'\U000e01ef'}) {
        EXPECT_TRUE(is_grapheme_extend(c)) << std::hex << static_cast<unsigned>(c);
    }
    for (char32_t c : {U'a', U'\u0370', U'\u200b', U'\U000e01f0', char32_t(0x110000)}) {
        EXPECT_FALSE(is_grapheme_extend(c)) << std::hex << static_cast<unsigned>(c);
    }
}

}  // namespace
}  // namespace zub
