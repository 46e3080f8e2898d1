#pragma once
// The quoted debug form in which a program appears in failure messages:
// quotes around, backslash escapes, \u{..} for what is not printable.
#include <string>

#include "base/os_string.h"

namespace zub {

std::string debug_quoted(OsStringView text);

// Unicode properties the debug form needs (tables generated from UnicodeData.txt
// and DerivedCoreProperties.txt).
bool is_printable(char32_t c);
bool is_grapheme_extend(char32_t c);

}  // namespace zub
