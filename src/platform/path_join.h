#pragma once
// The Windows rule for joining a directory path and an entry name.
#include "protocol/os_string.h"

namespace zub {

// Appends `name` to `path`, with a `\` in between unless `path` is empty, ends
// with a separator, or is a bare drive such as "C:" (which names that drive's
// current directory: a separator would move the result to the drive's root).
void append_path_component(OsString& path, OsStringView name);

OsString join_path(OsStringView directory, OsStringView name);

}  // namespace zub
