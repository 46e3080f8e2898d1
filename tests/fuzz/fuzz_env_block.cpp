// The child's environment block against a plain model: one variable per folded
// name (only A-Z lowered, unpaired surrogates as U+FFFD), the last definition
// winning whole, written in ascending order of the folded names' unsigned
// bytes, each as NAME=VALUE NUL, with one more NUL at the end (two when empty).
//
// Input: a flag byte (bit 0: env_clear), a byte that says how many of the
// items form the helper's own environment, then the items.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "child/env_block.h"
#include "env_platform.h"
#include "fuzz_support.h"

namespace {

using namespace zub;

struct Variable {
    std::string folded;
    OsString name;
    OsString value;
};

std::string folded(std::u16string_view name) {
    std::string out = zub::fuzz::lossy_utf8(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool unsigned_less(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
}

// `from`: where the '=' that ends the name may first stand (1 for the helper's
// own strings, whose leading '=' belongs to the name).
void define(std::vector<Variable>& vars, std::u16string_view definition, std::size_t from) {
    const std::size_t equals = definition.find(u'=', from);
    if (equals == std::u16string_view::npos) return;
    Variable var{folded(definition.substr(0, equals)), OsString(definition.substr(0, equals)),
                 OsString(definition.substr(equals + 1))};
    FUZZ_CHECK(fold_env_name(var.name) == var.folded);
    for (Variable& old : vars) {
        if (old.folded == var.folded) {
            old = std::move(var);
            return;
        }
    }
    vars.push_back(std::move(var));
}

void check_well_formed(const std::u16string& block, std::size_t count) {
    FUZZ_CHECK(block.size() >= 2);
    FUZZ_CHECK(block[block.size() - 1] == u'\0' && block[block.size() - 2] == u'\0');
    if (count == 0) {
        FUZZ_CHECK(block.size() == 2);
        return;
    }
    // Exactly `count` non-empty strings, each holding a '=', and the final empty one.
    std::size_t strings = 0;
    for (std::size_t start = 0; start + 1 < block.size(); ++strings) {
        const std::size_t end = block.find(u'\0', start);
        FUZZ_CHECK(end != start);
        FUZZ_CHECK(block.substr(start, end - start).find(u'=') != std::u16string::npos);
        start = end + 1;
    }
    FUZZ_CHECK(strings == count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool env_clear = (data[0] & 1) != 0;
    std::vector<OsString> items = zub::fuzz::items_from_bytes(data + 2, size - 2);
    const std::size_t own_count = std::min<std::size_t>(data[1], items.size());

    // The helper's own block: an empty string would end it, so none is served.
    std::vector<OsString> own;
    std::u16string served;
    for (std::size_t i = 0; i < own_count; ++i) {
        if (items[i].empty()) continue;
        own.push_back(items[i]);
        served += items[i];
        served += u'\0';
    }
    served += u'\0';
    const std::vector<OsString> entries(items.begin() + static_cast<std::ptrdiff_t>(own_count),
                                        items.end());

    zub::fuzz::EnvPlatform platform(served);
    auto built = build_env_block(platform, entries, env_clear);
    FUZZ_CHECK(built.ok());
    FUZZ_CHECK(platform.gets() == (env_clear ? 0 : 1));
    FUZZ_CHECK(platform.frees() == platform.gets());

    std::vector<Variable> vars;
    if (!env_clear) {
        for (const OsString& s : own) define(vars, s, 1);
    }
    for (const OsString& e : entries) define(vars, e, 0);
    std::sort(vars.begin(), vars.end(),
              [](const Variable& a, const Variable& b) { return unsigned_less(a.folded, b.folded); });

    std::u16string expected;
    for (const Variable& var : vars) expected += var.name + u'=' + var.value + u'\0';
    expected += u'\0';
    if (vars.empty()) expected += u'\0';

    const std::u16string& block = built.value();
    check_well_formed(block, vars.size());
    FUZZ_CHECK(block == expected);
    return 0;
}
