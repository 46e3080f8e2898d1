#pragma once
// An internal fault that ends the helper with status 101. Not a failure kind:
// no request can cause one. Handed up like a failure so that only the entry
// point writes and exits.
#include <cstdint>
#include <string>
#include <string_view>

namespace zub {

struct FatalStop {
    std::string message;
    bool operator==(const FatalStop&) const = default;
};

// "<system text> (os error N)"; "unknown error (os error N)" when the system
// has no text for the code, so the report never shows an empty description.
std::string os_error_text(std::string_view system_text, std::uint32_t code);

}  // namespace zub
