#include "protocol/argv_error.h"

#include <type_traits>

namespace zub {

std::string render(const ArgvError& error) {
    using namespace argv_error;
    return std::visit(
        [](const auto& e) -> std::string {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, MissingValue>) {
                return "flag `" + e.flag + "` requires a value but none was provided";
            } else if constexpr (std::is_same_v<E, UnknownFlag>) {
                return "unrecognized helper flag `" + e.flag +
                       "` \u2014 parent and helper protocol versions appear to be out of sync; "
                       "reinstall zub";
            } else if constexpr (std::is_same_v<E, InvalidStdioValue>) {
                return "stdio flag `" + e.flag + "` received `" + e.value +
                       "`, expected one of `inherit`, `null`, `piped`";
            } else if constexpr (std::is_same_v<E, MissingSeparator>) {
                return "argv is missing the `--` separator before the program path";
            } else if constexpr (std::is_same_v<E, MissingProgram>) {
                return "argv contains `--` but no program path follows it";
            } else if constexpr (std::is_same_v<E, MissingRequiredFlag>) {
                return "required flag `--" + e.name + "` was not provided";
            } else if constexpr (std::is_same_v<E, InvalidProtocolVersion>) {
                return "`--protocol-version` value `" + e.value + "` is not a valid u32";
            } else {
                static_assert(std::is_same_v<E, ProtocolVersionMismatch>);
                return "protocol version mismatch: parent supplied " + std::to_string(e.supplied) +
                       ", this helper supports " + std::to_string(e.supported) +
                       ". Reinstall zub so the helper binary matches `zub.exe`.";
            }
        },
        error);
}

}  // namespace zub
