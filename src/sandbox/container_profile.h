#pragma once
// The AppContainer identity of a run: created on first use of a name, reused after.
#include <string>

#include "platform/owned.h"
#include "base/result.h"
#include "protocol/sandbox_error.h"

namespace zub {

inline constexpr char CONTAINER_DISPLAY_NAME[] = "ZUB Sandbox Lifecycle Child";
inline constexpr char CONTAINER_DESCRIPTION[] =
    "Sandbox container for npm-package lifecycle scripts spawned by zub";

// Sole owner of the container SID; released once with FreeSid. Never copied.
using ContainerSid = ProfileSid;

Result<ContainerSid, SandboxError> ensure_container_profile(ProfileService& service,
                                                            const std::string& appcontainer_name);

}  // namespace zub
