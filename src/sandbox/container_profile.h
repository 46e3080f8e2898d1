#pragma once
// The AppContainer identity of a run: created on first use of a name, reused after.
#include <string>

#include "platform/platform.h"
#include "protocol/result.h"
#include "protocol/sandbox_error.h"

namespace zub {

inline constexpr char CONTAINER_DISPLAY_NAME[] = "ZUB Sandbox Lifecycle Child";
inline constexpr char CONTAINER_DESCRIPTION[] =
    "Sandbox container for npm-package lifecycle scripts spawned by zub";

// Sole owner of the container SID; released once with FreeSid, as the profile
// service requires of the SIDs it hands out. Never copied.
class ContainerSid {
public:
    ContainerSid(Platform& platform, Sid sid) : platform_(&platform), sid_(sid) {}
    ContainerSid(ContainerSid&& other) noexcept : platform_(other.platform_), sid_(other.sid_) {
        other.sid_ = nullptr;
    }
    ContainerSid& operator=(ContainerSid&&) = delete;
    ContainerSid(const ContainerSid&) = delete;
    ContainerSid& operator=(const ContainerSid&) = delete;
    ~ContainerSid() {
        if (sid_ != nullptr) platform_->free_sid(sid_);
    }

    Sid get() const { return sid_; }

private:
    Platform* platform_;
    Sid sid_;
};

Result<ContainerSid, SandboxError> ensure_container_profile(Platform& platform,
                                                            const std::string& appcontainer_name);

}  // namespace zub
