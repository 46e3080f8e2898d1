#include "child/env_block.h"

#include <string_view>

namespace zub {
namespace {

// `from` is 1 for the helper's own strings, whose leading '=' belongs to the
// name (the per-drive "=C:" variables), and 0 for request entries.
void insert_definition(EnvMap& map, OsStringView definition, std::size_t from) {
    const std::size_t equals = definition.find(u'=', from);
    if (equals == OsStringView::npos) return;
    const OsStringView name = definition.substr(0, equals);
    // A later definition replaces the earlier pair whole, the case of its name included.
    map.insert_or_assign(fold_env_name(name),
                         EnvVar{OsString(name), OsString(definition.substr(equals + 1))});
}

Status<FatalStop> read_own_environment(Environment& environment, EnvMap& map) {
    std::uint32_t error = 0;
    const char16_t* const block = environment.get_environment_strings_w(&error);
    if (block == nullptr) {
        return FatalStop{"failure getting env string from OS: " +
                         os_error_text(environment.format_message(error), error)};
    }
    for (const char16_t* cursor = block; *cursor != u'\0';) {
        const OsStringView definition(cursor);
        insert_definition(map, definition, 1);
        cursor += definition.size() + 1;
    }
    environment.free_environment_strings_w(block);
    return Ok{};
}

}  // namespace

std::string fold_env_name(OsStringView name) {
    std::string folded = to_utf8_lossy(name);
    for (char& byte : folded) {
        if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte + ('a' - 'A'));
    }
    return folded;
}

Result<std::u16string, FatalStop> build_env_block(Environment& environment,
                                                  const std::vector<OsString>& env,
                                                  bool env_clear) {
    EnvMap map;
    if (!env_clear) {
        Status<FatalStop> read = read_own_environment(environment, map);
        if (!read) return std::move(read).error();
    }
    for (const OsString& entry : env) insert_definition(map, entry, 0);

    std::size_t size = 1;
    for (const auto& [folded, var] : map) size += var.name.size() + var.value.size() + 2;
    std::u16string block;
    block.reserve(size < 2 ? 2 : size);
    for (const auto& [folded, var] : map) {
        block.append(var.name);
        block.push_back(u'=');
        block.append(var.value);
        block.push_back(u'\0');
    }
    // The block ends with an empty string; an empty block still needs both NULs.
    if (map.empty()) block.push_back(u'\0');
    block.push_back(u'\0');
    return block;
}

}  // namespace zub
