#pragma once
// What a platform operation hands back: the result together with the Win32
// error read immediately after the call, so no release in between can
// overwrite it.
#include <cstdint>

#include "platform/records.h"

namespace zub {

// A call that returns a truth value; `error` is GetLastError when it failed.
struct BoolResult {
    bool ok;
    std::uint32_t error;
};

struct HandleResult {
    Handle handle;
    std::uint32_t error;
};

}  // namespace zub
