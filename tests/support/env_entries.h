#pragma once
// Environment blocks as the tests build and read them. An entry's name runs to
// the first '=' after its first unit, so that "=C:=C:\\" is named "=C:".
#include <string>
#include <string_view>
#include <vector>

#include "child/env_block.h"

namespace zub::test_support {

// NUL-separated entries as one block: {"A=1", "B=2"} -> "A=1\0B=2\0\0".
inline std::u16string env_block_of(const std::vector<std::u16string>& entries) {
    std::u16string block;
    for (const std::u16string& entry : entries) block += entry + u'\0';
    if (entries.empty()) block += u'\0';
    return block + u'\0';
}

// The entry's name, folded as the helper folds and orders names.
inline std::string folded_entry_name(std::u16string_view entry) {
    return fold_env_name(entry.substr(0, entry.find(u'=', 1)));
}

inline std::u16string_view entry_value(std::u16string_view entry) { return entry.substr(entry.find(u'=', 1) + 1); }

}  // namespace zub::test_support
