#pragma once
// The child's command line, quoted so the C runtime splits it back into the same items.
#include <vector>

#include "base/os_string.h"

namespace zub {

// One item's command-line form. `item` must hold no unpaired surrogate.
std::u16string quote_arg(std::u16string_view item);

// Program and arguments, unpaired surrogates as U+FFFD, ending in one NUL unit.
std::u16string build_command_line(const OsString& program, const std::vector<OsString>& args);

}  // namespace zub
