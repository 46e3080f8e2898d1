#pragma once
// A platform that can do one thing: hand out an environment block and take it
// back. Any other operation aborts, so the fuzzer reports a call it should not see.
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace zub::fuzz {

class EnvPlatform final : public Platform {
public:
    explicit EnvPlatform(std::u16string block) : block_(std::move(block)) {}

    int gets() const { return gets_; }
    int frees() const { return frees_; }

    const char16_t* get_environment_strings_w(std::uint32_t* error) override;
    void free_environment_strings_w(const char16_t* block) override;

    OsString get_command_line() override;
    OsString get_module_file_name() override;
    Handle get_std_handle(std::uint32_t) override;
    bool get_console_mode(Handle) override;
    std::uint32_t get_console_output_cp() override;
    BoolResult write_console_w(Handle, std::u16string_view) override;
    BoolResult write_file(Handle, std::string_view) override;
    [[noreturn]] void exit_process(std::uint32_t) override;
    std::uint32_t create_app_container_profile(const char16_t*, const char16_t*, const char16_t*,
                                               Sid*) override;
    std::uint32_t derive_app_container_sid_from_app_container_name(const char16_t*, Sid*) override;
    BoolResult create_well_known_sid(std::uint32_t, Sid, void*, std::uint32_t*) override;
    std::uint32_t get_security_info(Handle, std::uint32_t, std::uint32_t, Acl*,
                                    SecurityDescriptor*) override;
    std::uint32_t set_entries_in_acl_w(std::uint32_t, const ExplicitAccess*, Acl, Acl*) override;
    std::uint32_t set_security_info(Handle, std::uint32_t, std::uint32_t, Acl) override;
    void local_free(void*) override;
    HandleResult open_relative(Handle, std::u16string_view, std::uint32_t) override;
    BoolResult get_file_information_by_handle(Handle, FileIdentity*) override;
    std::unique_ptr<DirectoryListing> open_directory_listing(Handle) override;
    std::optional<std::uint32_t> attributes_from_directory_entry(const char16_t*) override;
    void free_sid(Sid) override;
    BoolResult initialize_proc_thread_attribute_list(void*, std::uint32_t, std::uint32_t,
                                                     std::size_t*) override;
    BoolResult update_proc_thread_attribute(void*, std::uint32_t, std::uintptr_t, void*,
                                            std::size_t) override;
    void delete_proc_thread_attribute_list(void*) override;
    HandleResult create_job_object_w() override;
    BoolResult set_information_job_object(Handle, std::uint32_t, const JobExtendedLimitInformation*,
                                          std::uint32_t) override;
    BoolResult create_process_w(char16_t*, bool, std::uint32_t, const char16_t*, const char16_t*,
                                StartupInfoEx*, ProcessInformation*) override;
    BoolResult assign_process_to_job_object(Handle, Handle) override;
    std::uint32_t resume_thread(Handle, std::uint32_t*) override;
    std::uint32_t wait_for_single_object(Handle, std::uint32_t) override;
    BoolResult get_exit_code_process(Handle, std::uint32_t*) override;
    void terminate_process(Handle, std::uint32_t) override;
    BoolResult set_handle_information(Handle, std::uint32_t, std::uint32_t) override;
    HandleResult create_file_w(const char16_t*, std::uint32_t, std::uint32_t,
                               const SecurityAttributes*, std::uint32_t, std::uint32_t) override;
    bool close_handle(Handle) override;
    std::string format_message(std::uint32_t) override;

private:
    std::u16string block_;  // NUL-terminated strings, then one more NUL
    int gets_ = 0;
    int frees_ = 0;
};

}  // namespace zub::fuzz
