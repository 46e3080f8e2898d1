#include "platform/path_join.h"

namespace zub {
namespace {

bool is_separator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

bool is_ascii_letter(char16_t unit) {
    return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
}

bool needs_separator(OsStringView directory) {
    if (directory.empty() || is_separator(directory.back())) return false;
    return !(directory.size() == 2 && is_ascii_letter(directory[0]) && directory[1] == u':');
}

}  // namespace

void append_path_component(OsString& path, OsStringView name) {
    if (needs_separator(path)) path.push_back(u'\\');
    path.append(name);
}

OsString join_path(OsStringView directory, OsStringView name) {
    OsString path(directory);
    append_path_component(path, name);
    return path;
}

}  // namespace zub
