#pragma once
// Access entries for the container SID on allow-listed paths and the trees below them.
#include <cstdint>

#include "platform/path_join.h"
#include "platform/platform.h"
#include "protocol/result.h"
#include "protocol/sandbox_error.h"

namespace zub {

constexpr std::uint32_t ALLOW_SET_READ_ACCESS = 0x001200A9;
constexpr std::uint32_t ALLOW_SET_WRITE_ACCESS = 0x001201BF;

constexpr std::uint32_t SE_FILE_OBJECT_TYPE = 1;
constexpr std::uint32_t DACL_SECURITY_INFORMATION_FLAG = 0x00000004;
constexpr std::uint32_t DACL_WRITE_FLAGS = 0x20000004;  // DACL | UNPROTECTED_DACL
constexpr std::uint32_t GRANT_ACCESS_MODE = 1;
constexpr std::uint32_t SUB_CONTAINERS_AND_OBJECTS_INHERIT = 3;
constexpr std::uint32_t NO_MULTIPLE_TRUSTEE_OPERATION = 0;
constexpr std::uint32_t TRUSTEE_IS_SID_FORM = 0;
constexpr std::uint32_t TRUSTEE_IS_GROUP_TYPE = 2;

// Grants `root` and, when it is a directory, everything below it.
Status<SandboxError> grant_allow_set_root(Platform& platform, const OsString& root, Sid sid,
                                          std::uint32_t access_mask, bool best_effort);

// Adds one inheritable allow entry for `sid` to the DACL of `path`.
Status<SandboxError> grant_path_access(Platform& platform, const OsString& path, Sid sid,
                                       std::uint32_t access_mask);

}  // namespace zub
