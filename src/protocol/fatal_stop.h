#pragma once
// An internal fault that ends the helper with status 101. Not a failure kind:
// no request can cause one. Handed up like a failure so that only the entry
// point writes and exits.
#include <string>

namespace zub {

struct FatalStop {
    std::string message;
    bool operator==(const FatalStop&) const = default;
};

}  // namespace zub
