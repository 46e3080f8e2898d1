#pragma once
// Everything that can be wrong with the helper's own command line.
#include <cstdint>
#include <string>
#include <variant>

namespace zub {

namespace argv_error {
struct MissingValue {
    std::string flag;  // as written, with its leading "--"
    bool operator==(const MissingValue&) const = default;
};
struct UnknownFlag {
    std::string flag;  // the offending argument (lossy), or "--appcontainer-name"
    bool operator==(const UnknownFlag&) const = default;
};
struct InvalidStdioValue {
    std::string flag;
    std::string value;
    bool operator==(const InvalidStdioValue&) const = default;
};
struct MissingSeparator {
    bool operator==(const MissingSeparator&) const = default;
};
struct MissingProgram {
    bool operator==(const MissingProgram&) const = default;
};
struct MissingRequiredFlag {
    std::string name;  // without the leading "--"
    bool operator==(const MissingRequiredFlag&) const = default;
};
struct InvalidProtocolVersion {
    std::string value;
    bool operator==(const InvalidProtocolVersion&) const = default;
};
struct ProtocolVersionMismatch {
    std::uint32_t supplied;
    std::uint32_t supported;
    bool operator==(const ProtocolVersionMismatch&) const = default;
};
}  // namespace argv_error

using ArgvError = std::variant<argv_error::MissingValue, argv_error::UnknownFlag,
                               argv_error::InvalidStdioValue, argv_error::MissingSeparator,
                               argv_error::MissingProgram, argv_error::MissingRequiredFlag,
                               argv_error::InvalidProtocolVersion,
                               argv_error::ProtocolVersionMismatch>;

// The message, without prefix and without line end.
std::string render(const ArgvError& error);

}  // namespace zub
