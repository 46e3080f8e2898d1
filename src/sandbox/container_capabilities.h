#pragma once
// The capability set the child is started with: nothing, or InternetClient.
#include <array>
#include <cstddef>
#include <memory>

#include "platform/security.h"
#include "base/result.h"
#include "protocol/sandbox_error.h"

namespace zub {

constexpr std::uint32_t SE_GROUP_ENABLED_ATTRIBUTE = 0x00000004;
constexpr std::size_t CAPABILITY_SID_BUFFER_SIZE = 64;

class ContainerCapabilities {
public:
    // The buffer and its entry live on the heap so that the addresses in the
    // security capabilities record survive moves of this owner.
    struct Storage {
        std::array<std::byte, CAPABILITY_SID_BUFFER_SIZE> sid_buffer{};
        SidAndAttributes entry{};
    };

    ContainerCapabilities(Sid container_sid, std::unique_ptr<Storage> storage, bool with_entry)
        : container_sid_(container_sid), storage_(std::move(storage)), with_entry_(with_entry) {}

    // The values of the SECURITY_CAPABILITIES record for this run.
    SecurityCapabilities security_capabilities() const {
        return SecurityCapabilities{container_sid_, with_entry_ ? &storage_->entry : nullptr,
                                    with_entry_ ? 1u : 0u, 0u};
    }
    const Storage& storage() const { return *storage_; }

private:
    Sid container_sid_;  // borrowed from the ContainerSid
    std::unique_ptr<Storage> storage_;
    bool with_entry_;
};

Result<ContainerCapabilities, SandboxError> build_container_capabilities(
    Security& security, Sid container_sid, bool grant_internet_client);

}  // namespace zub
