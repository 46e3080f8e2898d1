#pragma once
// The real Windows backend of the platform operations.
#include "platform/platform.h"

namespace zub {

class Win32Platform : public Platform {
public:
    OsString get_command_line() override;
    OsString get_module_file_name() override;
    Handle get_std_handle(std::uint32_t which) override;
    bool get_console_mode(Handle handle) override;
    std::uint32_t get_console_output_cp() override;
    BoolResult write_console_w(Handle handle, std::u16string_view text) override;
    BoolResult write_file(Handle handle, std::string_view bytes) override;
    [[noreturn]] void exit_process(std::uint32_t status) override;
    std::uint32_t create_app_container_profile(const char16_t* name, const char16_t* display_name,
                                               const char16_t* description, Sid* sid) override;
    std::uint32_t derive_app_container_sid_from_app_container_name(const char16_t* name,
                                                                   Sid* sid) override;
    BoolResult create_well_known_sid(std::uint32_t type, Sid domain_sid, void* buffer,
                                     std::uint32_t* size) override;
    BoolResult get_kernel_object_security(Handle object, std::uint32_t security_info, void* buffer,
                                          std::uint32_t size, std::uint32_t* needed) override;
    BoolResult get_security_descriptor_dacl(SecurityDescriptor descriptor, bool* present,
                                            Acl* dacl) override;
    std::uint32_t set_entries_in_acl_w(std::uint32_t count, const ExplicitAccess* entries,
                                       Acl old_acl, Acl* new_acl) override;
    BoolResult get_security_descriptor_control(SecurityDescriptor descriptor,
                                               std::uint16_t* control) override;
    BoolResult set_kernel_object_security(Handle object, std::uint32_t security_info,
                                          const AbsoluteSecurityDescriptor* descriptor) override;
    HandleResult create_grant_mutex() override;
    BoolResult release_mutex(Handle mutex) override;
    void local_free(void* memory) override;
    HandleResult open_relative(Handle directory, std::u16string_view name,
                               std::uint32_t access) override;
    BoolResult query_file_identity(Handle file, IdWidth width, FileIdentity* identity) override;
    std::unique_ptr<DirectoryListing> open_directory_listing(Handle directory) override;
    std::optional<std::uint32_t> attributes_from_directory_entry(const char16_t* path) override;
    void free_sid(Sid sid) override;
    BoolResult initialize_proc_thread_attribute_list(void* list, std::uint32_t count,
                                                     std::uint32_t flags,
                                                     std::size_t* size) override;
    BoolResult update_proc_thread_attribute(void* list, std::uint32_t flags,
                                            std::uintptr_t attribute, void* value,
                                            std::size_t size) override;
    void delete_proc_thread_attribute_list(void* list) override;
    HandleResult create_job_object_w() override;
    BoolResult set_information_job_object(Handle job, std::uint32_t info_class,
                                          const JobExtendedLimitInformation* info,
                                          std::uint32_t size) override;
    BoolResult create_process_w(char16_t* command_line, bool inherit_handles,
                                std::uint32_t creation_flags, const char16_t* environment,
                                const char16_t* current_directory, StartupInfoEx* startup_info,
                                ProcessInformation* process_information) override;
    BoolResult assign_process_to_job_object(Handle job, Handle process) override;
    std::uint32_t resume_thread(Handle thread, std::uint32_t* error) override;
    std::uint32_t wait_for_single_object(Handle handle, std::uint32_t milliseconds) override;
    BoolResult get_exit_code_process(Handle process, std::uint32_t* exit_code) override;
    void terminate_process(Handle process, std::uint32_t exit_code) override;
    BoolResult set_handle_information(Handle handle, std::uint32_t mask,
                                      std::uint32_t flags) override;
    HandleResult create_file_w(const char16_t* name, std::uint32_t access,
                               std::uint32_t share_mode,
                               const SecurityAttributes* security_attributes,
                               std::uint32_t creation_disposition,
                               std::uint32_t flags_and_attributes) override;
    bool close_handle(Handle handle) override;
    const char16_t* get_environment_strings_w(std::uint32_t* error) override;
    void free_environment_strings_w(const char16_t* block) override;
    std::string format_message(std::uint32_t code) override;
};

}  // namespace zub
