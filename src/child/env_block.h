#pragma once
// The child's environment block: the helper's environment (unless cleared)
// merged with the request's NAME=VALUE entries, sorted by folded name.
#include <map>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "protocol/fatal_stop.h"
#include "base/os_string.h"
#include "base/result.h"

namespace zub {

struct EnvVar {
    OsString name;
    OsString value;
    bool operator==(const EnvVar&) const = default;
};

// Folded name (UTF-8, only A-Z lowered) to the variable. std::string orders
// its bytes as unsigned, which is the order the block needs.
using EnvMap = std::map<std::string, EnvVar>;

std::string fold_env_name(OsStringView name);

// The block: NAME=VALUE NUL ... NUL (two NULs when empty).
Result<std::u16string, FatalStop> build_env_block(Environment& environment,
                                                  const std::vector<OsString>& env,
                                                  bool env_clear);

}  // namespace zub
