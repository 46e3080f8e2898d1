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

constexpr std::uint32_t DACL_SECURITY_INFORMATION_FLAG = 0x00000004;
// Control bits of the descriptor written: the DACL is present and, unless the
// object had it, not marked as inherited automatically. SE_DACL_PROTECTED is
// never set, so the object inherits from its parent.
constexpr std::uint16_t SE_DACL_PRESENT_BIT = 0x0004;
constexpr std::uint16_t SE_DACL_AUTO_INHERITED_BIT = 0x0400;
constexpr std::uint16_t SE_DACL_PROTECTED_BIT = 0x1000;
constexpr std::uint8_t SECURITY_DESCRIPTOR_REVISION_1 = 1;
constexpr std::uint32_t GRANT_ACCESS_MODE = 1;
constexpr std::uint32_t INHERIT_TO_CONTAINERS_AND_OBJECTS = 3;
constexpr std::uint32_t NO_MULTIPLE_TRUSTEE_OPERATION = 0;
constexpr std::uint32_t TRUSTEE_IS_SID_FORM = 0;
constexpr std::uint32_t TRUSTEE_IS_GROUP_TYPE = 2;

// Rights the walk opens objects with: never MAXIMUM_ALLOWED, which would be
// granted DELETE and the data rights too, and those are share-checked.
constexpr std::uint32_t FILE_LIST_DIRECTORY_RIGHT = 0x00000001;
constexpr std::uint32_t FILE_READ_ATTRIBUTES_RIGHT = 0x00000080;
constexpr std::uint32_t READ_CONTROL_RIGHT = 0x00020000;
constexpr std::uint32_t WRITE_DAC_RIGHT = 0x00040000;
constexpr std::uint32_t SYNCHRONIZE_RIGHT = 0x00100000;
constexpr std::uint32_t DACL_READ_RIGHTS = READ_CONTROL_RIGHT | FILE_READ_ATTRIBUTES_RIGHT | SYNCHRONIZE_RIGHT;
constexpr std::uint32_t DACL_WRITE_RIGHTS = DACL_READ_RIGHTS | WRITE_DAC_RIGHT;
constexpr std::uint32_t DIRECTORY_LIST_RIGHTS = FILE_LIST_DIRECTORY_RIGHT | FILE_READ_ATTRIBUTES_RIGHT | SYNCHRONIZE_RIGHT;
// Breaks no oplock and is checked against no sharing mode.
constexpr std::uint32_t LOCATE_RIGHTS = FILE_READ_ATTRIBUTES_RIGHT | SYNCHRONIZE_RIGHT;

// The root is opened by path with CreateFileW (all sharing, an existing object):
// directories too, and a final reparse point itself, not its target.
constexpr std::uint32_t OPEN_NO_FOLLOW_FLAGS = 0x02200000;  // BACKUP_SEMANTICS | OPEN_REPARSE_POINT

// Grants `root` and, when it is a directory, everything below it.
Status<SandboxError> grant_allow_set_root(Files& files, Security& security, const OsString& root,
                                          Sid sid, std::uint32_t access_mask, bool best_effort);

}  // namespace zub
