#pragma once
// One sandboxed launch: identity, grants, attributes, job, child, wait.
#include <cstdint>

#include "platform/platform.h"
#include "protocol/helper_request.h"
#include "base/result.h"
#include "protocol/run_failure.h"

namespace zub {

Result<std::uint32_t, RunFailure> run_sandboxed(Platform& platform, HelperRequest request);

}  // namespace zub
