#pragma once
// The Win32 backend with stand-ins for the three operations Wine 8 lacks: the
// AppContainer profile service, the InternetClient capability SID, and the
// security-capabilities process attribute. Everything else is the real call,
// but for one switch of the test build alone: ZUB_WINETEST_WITHOUT_GRANT_LOCK=1
// in the helper's environment makes the grant mutex unobtainable, so a test
// can show what parallel helpers do without it.
//
// What Windows does to the environment of a process it starts in a container
// is modelled too, so that a parent meets it under Wine: a block without
// LOCALAPPDATA or SystemRoot is refused with 203, and the child's LOCALAPPDATA,
// TEMP and TMP are replaced by the container's folders below the LOCALAPPDATA
// passed. The profile has its folder, <LOCALAPPDATA>\Packages\<name>\AC\Temp,
// below the helper's own LOCALAPPDATA.
//
// The stand-in keeps its state in the Wine registry (wine_standin_registry.h),
// so it holds across helper processes.
#include <string>

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
    BoolResult create_process_w(char16_t* command_line, bool inherit_handles,
                                std::uint32_t creation_flags, const char16_t* environment,
                                const char16_t* current_directory, StartupInfoEx* startup_info,
                                ProcessInformation* process_information) override;

private:
    std::u16string container_name_;    // of the profile this run obtained
    bool in_container_launch_ = false;  // the capabilities attribute was handed over
};

}  // namespace zub
