#pragma once
// The parsed command line: one launch request.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/os_string.h"

namespace zub {

constexpr std::uint32_t SUPPORTED_PROTOCOL_VERSION = 1;

enum class StdioMode { Inherit, Null, Piped };

struct HelperRequest {
    std::uint32_t protocol_version = 0;
    std::string appcontainer_name;
    std::vector<OsString> readable_dirs;
    std::vector<OsString> writable_dirs;
    std::vector<OsString> readable_dirs_best_effort;
    bool grant_internet_client = false;
    std::vector<OsString> env;
    bool env_clear = false;
    std::optional<OsString> working_dir;
    StdioMode stdin_mode = StdioMode::Inherit;
    StdioMode stdout_mode = StdioMode::Inherit;
    StdioMode stderr_mode = StdioMode::Inherit;
    OsString program;
    std::vector<OsString> args;

    bool operator==(const HelperRequest&) const = default;
};

}  // namespace zub
