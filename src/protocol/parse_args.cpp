#include "protocol/parse_args.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace zub {
namespace {

using namespace argv_error;

enum class Flag {
    ProtocolVersion,
    AppcontainerName,
    ReadableDir,
    WritableDir,
    ReadableDirBestEffort,
    GrantInternetClient,
    Env,
    EnvClear,
    WorkingDir,
    StdioStdin,
    StdioStdout,
    StdioStderr,
};

struct FlagSpec {
    std::string_view name;
    Flag flag;
    bool takes_value;
};

constexpr std::array<FlagSpec, 12> FLAGS = {{
    {"--protocol-version", Flag::ProtocolVersion, true},
    {"--appcontainer-name", Flag::AppcontainerName, true},
    {"--readable-dir", Flag::ReadableDir, true},
    {"--writable-dir", Flag::WritableDir, true},
    {"--readable-dir-best-effort", Flag::ReadableDirBestEffort, true},
    {"--grant-internet-client", Flag::GrantInternetClient, false},
    {"--env", Flag::Env, true},
    {"--env-clear", Flag::EnvClear, false},
    {"--working-dir", Flag::WorkingDir, true},
    {"--stdio-stdin", Flag::StdioStdin, true},
    {"--stdio-stdout", Flag::StdioStdout, true},
    {"--stdio-stderr", Flag::StdioStderr, true},
}};

constexpr std::string_view SEPARATOR = "--";

const FlagSpec* find_flag(std::string_view text) {
    for (const FlagSpec& spec : FLAGS) {
        if (spec.name == text) return &spec;
    }
    return nullptr;
}

// An optional single "+", then one or more ASCII digits, at most 2^32 - 1.
std::optional<std::uint32_t> parse_u32_decimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// What the walk has seen besides the request's own fields.
struct Given {
    bool protocol_version = false;
    bool appcontainer_name = false;
    bool stdin_mode = false;
    bool stdout_mode = false;
    bool stderr_mode = false;
};

// Stores one flag's value; a failure here ends the walk.
std::optional<ArgvError> apply_value(const FlagSpec& spec, OsString&& value, HelperRequest& request,
                                     Given& given) {
    auto set_stdio = [&](StdioMode& mode, bool& seen) -> std::optional<ArgvError> {
        Result<StdioMode, ArgvError> parsed = parse_stdio_mode(spec.name, value);
        if (!parsed) return std::move(parsed).error();
        mode = parsed.value();
        seen = true;
        return std::nullopt;
    };
    switch (spec.flag) {
        case Flag::ProtocolVersion: {
            std::string text = to_utf8_lossy(value);
            const std::optional<std::uint32_t> version = parse_u32_decimal(text);
            if (!version) return InvalidProtocolVersion{std::move(text)};
            request.protocol_version = *version;
            given.protocol_version = true;
            return std::nullopt;
        }
        case Flag::AppcontainerName:
            if (!is_valid_unicode(value)) return UnknownFlag{std::string(spec.name)};
            request.appcontainer_name = to_utf8_lossy(value);
            given.appcontainer_name = true;
            return std::nullopt;
        case Flag::ReadableDir: request.readable_dirs.push_back(std::move(value)); return std::nullopt;
        case Flag::WritableDir: request.writable_dirs.push_back(std::move(value)); return std::nullopt;
        case Flag::ReadableDirBestEffort:
            request.readable_dirs_best_effort.push_back(std::move(value));
            return std::nullopt;
        case Flag::Env: request.env.push_back(std::move(value)); return std::nullopt;
        case Flag::WorkingDir: request.working_dir = std::move(value); return std::nullopt;
        case Flag::StdioStdin: return set_stdio(request.stdin_mode, given.stdin_mode);
        case Flag::StdioStdout: return set_stdio(request.stdout_mode, given.stdout_mode);
        case Flag::StdioStderr: return set_stdio(request.stderr_mode, given.stderr_mode);
        case Flag::GrantInternetClient:
        case Flag::EnvClear: break;
    }
    return std::nullopt;
}

void apply_switch(const FlagSpec& spec, HelperRequest& request) {
    if (spec.flag == Flag::GrantInternetClient) request.grant_internet_client = true;
    if (spec.flag == Flag::EnvClear) request.env_clear = true;
}

// Checked only after the whole list was walked: the version first, so that a
// parent speaking another protocol is told so before anything else.
std::optional<ArgvError> check_complete(const HelperRequest& request, const Given& given) {
    if (!given.protocol_version) return MissingRequiredFlag{"protocol-version"};
    if (request.protocol_version != SUPPORTED_PROTOCOL_VERSION) {
        return ProtocolVersionMismatch{request.protocol_version, SUPPORTED_PROTOCOL_VERSION};
    }
    if (!given.appcontainer_name) return MissingRequiredFlag{"appcontainer-name"};
    if (!given.stdin_mode) return MissingRequiredFlag{"stdio-stdin"};
    if (!given.stdout_mode) return MissingRequiredFlag{"stdio-stdout"};
    if (!given.stderr_mode) return MissingRequiredFlag{"stdio-stderr"};
    return std::nullopt;
}

}  // namespace

Result<StdioMode, ArgvError> parse_stdio_mode(std::string_view flag, OsStringView value) {
    std::string text = to_utf8_lossy(value);
    if (is_valid_unicode(value)) {
        if (text == "inherit") return StdioMode::Inherit;
        if (text == "null") return StdioMode::Null;
        if (text == "piped") return StdioMode::Piped;
    }
    return ArgvError{InvalidStdioValue{std::string(flag), std::move(text)}};
}

Result<HelperRequest, ArgvError> parse_helper_args(std::vector<OsString> arguments) {
    HelperRequest request;
    Given given;
    std::size_t next = 0;
    const std::size_t count = arguments.size();

    bool separator_seen = false;
    while (!separator_seen) {
        if (next == count) return ArgvError{MissingSeparator{}};
        const OsString& argument = arguments[next++];
        // Valid or not, the lossy text is what an UnknownFlag shows; for a
        // valid argument it is exactly its UTF-8 bytes.
        std::string text = to_utf8_lossy(argument);
        if (!is_valid_unicode(argument) || text.empty()) return ArgvError{UnknownFlag{std::move(text)}};
        if (text == SEPARATOR) {
            separator_seen = true;
            continue;
        }
        const FlagSpec* spec = find_flag(text);
        if (spec == nullptr) return ArgvError{UnknownFlag{std::move(text)}};
        if (!spec->takes_value) {
            apply_switch(*spec, request);
            continue;
        }
        if (next == count) return ArgvError{MissingValue{std::string(spec->name)}};
        if (std::optional<ArgvError> failure =
                apply_value(*spec, std::move(arguments[next++]), request, given)) {
            return std::move(*failure);
        }
    }

    if (next == count) return ArgvError{MissingProgram{}};
    request.program = std::move(arguments[next++]);
    request.args.reserve(count - next);
    for (; next < count; ++next) request.args.push_back(std::move(arguments[next]));

    if (std::optional<ArgvError> failure = check_complete(request, given)) return std::move(*failure);
    return request;
}

}  // namespace zub
