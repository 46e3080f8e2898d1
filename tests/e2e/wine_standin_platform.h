#pragma once
// The Win32 backend with stand-ins for the three operations Wine 8 lacks: the
// AppContainer profile service, the InternetClient capability SID, and the
// security-capabilities process attribute. Everything else is the real call,
// but for one switch of the test build alone: ZUB_WINETEST_WITHOUT_GRANT_LOCK=1
// in the helper's environment makes the grant mutex unobtainable, so a test
// can show what parallel helpers do without it.
//
// The stand-in keeps its state in the Wine registry (wine_standin_registry.h),
// so it holds across helper processes.
#include "platform/win32_platform.h"

namespace zub {

class WineStandinPlatform : public Win32Platform {
public:
    std::uint32_t create_app_container_profile(const char16_t* name, const char16_t* display_name,
                                               const char16_t* description, Sid* sid) override;
    std::uint32_t derive_app_container_sid_from_app_container_name(const char16_t* name,
                                                                   Sid* sid) override;
    BoolResult create_well_known_sid(std::uint32_t type, Sid domain_sid, void* buffer,
                                     std::uint32_t* size) override;
    BoolResult update_proc_thread_attribute(void* list, std::uint32_t flags,
                                            std::uintptr_t attribute, void* value,
                                            std::size_t size) override;
    HandleResult create_grant_mutex() override;
};

}  // namespace zub
