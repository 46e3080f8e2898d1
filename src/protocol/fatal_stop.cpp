#include "protocol/fatal_stop.h"

namespace zub {

std::string os_error_text(std::string_view system_text, std::uint32_t code) {
    std::string text(system_text.empty() ? std::string_view("unknown error") : system_text);
    return text + " (os error " + std::to_string(code) + ")";
}

}  // namespace zub
