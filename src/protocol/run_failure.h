#pragma once
// What can end a run early: a reported failure, or an internal fatal stop.
#include <variant>

#include "protocol/fatal_stop.h"
#include "protocol/sandbox_error.h"

namespace zub {

using RunFailure = std::variant<SandboxError, FatalStop>;

}  // namespace zub
