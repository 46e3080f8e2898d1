#pragma once
// The helper's argument protocol, version 1.
#include <string_view>
#include <vector>

#include "protocol/argv_error.h"
#include "protocol/helper_request.h"
#include "base/result.h"

namespace zub {

// `arguments` excludes argument zero; the list is consumed.
Result<HelperRequest, ArgvError> parse_helper_args(std::vector<OsString> arguments);

Result<StdioMode, ArgvError> parse_stdio_mode(std::string_view flag, OsStringView value);

}  // namespace zub
