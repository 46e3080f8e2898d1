#include "sandbox/container_capabilities.h"

namespace zub {

Result<ContainerCapabilities, SandboxError> build_container_capabilities(
    Security& security, Sid container_sid, bool grant_internet_client) {
    // Allocated on every run, requested or not, so the release order of the run never varies.
    auto storage = std::make_unique<ContainerCapabilities::Storage>();
    if (!grant_internet_client) {
        return ContainerCapabilities(container_sid, std::move(storage), false);
    }

    std::uint32_t size = CAPABILITY_SID_BUFFER_SIZE;
    const BoolResult made = security.create_well_known_sid(
        WIN_CAPABILITY_INTERNET_CLIENT_SID, nullptr, storage->sid_buffer.data(), &size);
    if (!made.ok) return SandboxError{sandbox_error::CreateWellKnownSid{made.error}};

    storage->entry = SidAndAttributes{storage->sid_buffer.data(), SE_GROUP_ENABLED_ATTRIBUTE};
    return ContainerCapabilities(container_sid, std::move(storage), true);
}

}  // namespace zub
