#pragma once
// The AppContainer profile service.
#include <cstdint>

#include "platform/call_results.h"

namespace zub {

class ProfileService {
public:
    virtual ~ProfileService() = default;
    // Both return an HRESULT; on 0, *sid holds a SID the caller owns and
    // releases with free_sid.
    virtual std::uint32_t create_app_container_profile(const char16_t* name,
                                                       const char16_t* display_name,
                                                       const char16_t* description,
                                                       Sid* sid) = 0;
    virtual std::uint32_t derive_app_container_sid_from_app_container_name(const char16_t* name,
                                                                           Sid* sid) = 0;
    // FreeSid: the release the profile service prescribes for the SIDs it returns.
    virtual void free_sid(Sid sid) = 0;
};

}  // namespace zub
