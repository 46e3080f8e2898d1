#pragma once
// Splitting the raw process command line by the Windows C runtime rules.
#include <vector>

#include "base/os_string.h"

namespace zub {

// Argument zero first. An empty line yields only `module_path` (the helper's
// own path, as the system reports it) as argument zero.
std::vector<OsString> split_command_line(OsStringView command_line, OsStringView module_path);

}  // namespace zub
