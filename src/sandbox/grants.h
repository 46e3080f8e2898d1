#pragma once
// Access entries for the container SID on allow-listed paths and the trees below them.
#include <cstdint>

#include "platform/files.h"
#include "platform/security.h"
#include "base/result.h"
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

// Rights the walk opens objects with. Never MAXIMUM_ALLOWED: a DACL written
// through such a handle is not propagated to existing children.
constexpr std::uint32_t FILE_LIST_DIRECTORY_RIGHT = 0x00000001;
constexpr std::uint32_t FILE_READ_ATTRIBUTES_RIGHT = 0x00000080;
constexpr std::uint32_t READ_CONTROL_RIGHT = 0x00020000;
constexpr std::uint32_t WRITE_DAC_RIGHT = 0x00040000;
constexpr std::uint32_t SYNCHRONIZE_RIGHT = 0x00100000;
constexpr std::uint32_t DACL_READ_RIGHTS = READ_CONTROL_RIGHT | FILE_READ_ATTRIBUTES_RIGHT | SYNCHRONIZE_RIGHT;
constexpr std::uint32_t DACL_WRITE_RIGHTS = DACL_READ_RIGHTS | WRITE_DAC_RIGHT;

// The root is opened by path with CreateFileW (all sharing, an existing object):
// directories too, and a final reparse point itself, not its target.
constexpr std::uint32_t OPEN_NO_FOLLOW_FLAGS = 0x02200000;  // BACKUP_SEMANTICS | OPEN_REPARSE_POINT

// Grants `root` and, when it is a directory, everything below it.
Status<SandboxError> grant_allow_set_root(Files& files, Security& security, const OsString& root,
                                          Sid sid, std::uint32_t access_mask, bool best_effort);

}  // namespace zub
