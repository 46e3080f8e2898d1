#include "sandbox/container_profile.h"

namespace zub {

Result<ContainerSid, SandboxError> ensure_container_profile(ProfileService& service,
                                                            const std::string& appcontainer_name) {
    // All three texts exist before the first call; c_str() supplies the one NUL unit.
    const std::u16string name = to_utf16(appcontainer_name);
    const std::u16string display_name = to_utf16(CONTAINER_DISPLAY_NAME);
    const std::u16string description = to_utf16(CONTAINER_DESCRIPTION);

    Sid sid = nullptr;
    const std::uint32_t created = service.create_app_container_profile(
        name.c_str(), display_name.c_str(), description.c_str(), &sid);
    if (created == 0) return ContainerSid(service, sid);
    if (created != HRESULT_ALREADY_EXISTS) {
        // Only exactly 0 is success: S_FALSE and other positive codes fail too.
        return SandboxError{sandbox_error::CreateAppContainerProfile{appcontainer_name, created}};
    }

    // The profile exists from an earlier run; its display name and description stay as they are.
    sid = nullptr;
    const std::uint32_t derived =
        service.derive_app_container_sid_from_app_container_name(name.c_str(), &sid);
    if (derived != 0) {
        return SandboxError{
            sandbox_error::DeriveAppContainerSidFromAppContainerName{appcontainer_name, derived}};
    }
    return ContainerSid(service, sid);
}

}  // namespace zub
