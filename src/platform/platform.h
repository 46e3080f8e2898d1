#pragma once
// Every operation the helper asks of the operating system. The Win32 backend
// makes the real calls; tests substitute a fake. Each operation that can fail
// returns the Win32 error read immediately after the call, so no release in
// between can overwrite it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/records.h"
#include "protocol/os_string.h"

namespace zub {

// A call that returns a truth value; `error` is GetLastError when it failed.
struct BoolResult {
    bool ok;
    std::uint32_t error;
};

struct HandleResult {
    Handle handle;
    std::uint32_t error;
};

// One entry of a directory listing ("." and ".." never appear).
struct DirEntry {
    OsString name;
    std::uint32_t attributes;
    std::uint64_t file_id;
};

// A listing read through a directory handle, which it borrows.
class DirectoryListing {
public:
    virtual ~DirectoryListing() = default;
    // The next entry; false at the end of the listing or on a read error.
    virtual bool next(DirEntry& entry) = 0;
};

// What an open handle says of its object (GetFileInformationByHandle).
struct FileIdentity {
    std::uint32_t attributes;
    std::uint64_t file_id;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Command line, exit and console output.
    virtual OsString get_command_line() = 0;
    virtual OsString get_module_file_name() = 0;  // empty when the call fails
    virtual Handle get_std_handle(std::uint32_t which) = 0;
    virtual bool get_console_mode(Handle handle) = 0;  // true when the handle is a console
    virtual std::uint32_t get_console_output_cp() = 0;
    virtual BoolResult write_console_w(Handle handle, std::u16string_view text) = 0;
    virtual BoolResult write_file(Handle handle, std::string_view bytes) = 0;
    [[noreturn]] virtual void exit_process(std::uint32_t status) = 0;

    // AppContainer profile service. Both return an HRESULT; on 0, *sid holds a
    // SID the caller owns and releases with free_sid.
    virtual std::uint32_t create_app_container_profile(const char16_t* name,
                                                       const char16_t* display_name,
                                                       const char16_t* description,
                                                       Sid* sid) = 0;
    virtual std::uint32_t derive_app_container_sid_from_app_container_name(const char16_t* name,
                                                                           Sid* sid) = 0;

    // Security functions.
    virtual BoolResult create_well_known_sid(std::uint32_t type, Sid domain_sid, void* buffer,
                                             std::uint32_t* size) = 0;
    // A DACL read and written through an open handle, so nothing is resolved
    // again by path. Both return a Win32 error code, 0 on success.
    virtual std::uint32_t get_security_info(Handle object, std::uint32_t object_type,
                                            std::uint32_t security_info, Acl* dacl,
                                            SecurityDescriptor* descriptor) = 0;
    virtual std::uint32_t set_entries_in_acl_w(std::uint32_t count, const ExplicitAccess* entries,
                                               Acl old_acl, Acl* new_acl) = 0;
    virtual std::uint32_t set_security_info(Handle object, std::uint32_t object_type,
                                            std::uint32_t security_info, Acl dacl) = 0;
    virtual void local_free(void* memory) = 0;
    // FreeSid: the release the profile service prescribes for the SIDs it returns.
    virtual void free_sid(Sid sid) = 0;

    // Files by handle. `open_relative` opens `name` inside `directory` by its
    // literal name (NtCreateFile with a root directory; no Win32 path rules),
    // a final reparse point itself and not its target, for backup intent.
    virtual HandleResult open_relative(Handle directory, std::u16string_view name,
                                       std::uint32_t access) = 0;
    virtual BoolResult get_file_information_by_handle(Handle file, FileIdentity* identity) = 0;
    // Null when the listing cannot be started; an empty directory gives a
    // listing without entries.
    virtual std::unique_ptr<DirectoryListing> open_directory_listing(Handle directory) = 0;
    // A path's attributes as its parent directory's entry shows them
    // (FindFirstFileExW), for a path that cannot be opened.
    virtual std::optional<std::uint32_t> attributes_from_directory_entry(const char16_t* path) = 0;

    // Process, thread and job functions.
    virtual BoolResult initialize_proc_thread_attribute_list(void* list, std::uint32_t count,
                                                             std::uint32_t flags,
                                                             std::size_t* size) = 0;
    virtual BoolResult update_proc_thread_attribute(void* list, std::uint32_t flags,
                                                    std::uintptr_t attribute, void* value,
                                                    std::size_t size) = 0;
    virtual void delete_proc_thread_attribute_list(void* list) = 0;
    // Unnamed, default security, not inheritable.
    virtual HandleResult create_job_object_w() = 0;
    virtual BoolResult set_information_job_object(Handle job, std::uint32_t info_class,
                                                  const JobExtendedLimitInformation* info,
                                                  std::uint32_t size) = 0;
    // Application name and both attribute records are null.
    virtual BoolResult create_process_w(char16_t* command_line, bool inherit_handles,
                                        std::uint32_t creation_flags,
                                        const char16_t* environment,
                                        const char16_t* current_directory,
                                        StartupInfoEx* startup_info,
                                        ProcessInformation* process_information) = 0;
    virtual BoolResult assign_process_to_job_object(Handle job, Handle process) = 0;
    // The previous suspend count, or 0xFFFFFFFF with `error` set.
    virtual std::uint32_t resume_thread(Handle thread, std::uint32_t* error) = 0;
    virtual std::uint32_t wait_for_single_object(Handle handle, std::uint32_t milliseconds) = 0;
    virtual BoolResult get_exit_code_process(Handle process, std::uint32_t* exit_code) = 0;
    virtual void terminate_process(Handle process, std::uint32_t exit_code) = 0;

    // Handles and the null device.
    virtual BoolResult set_handle_information(Handle handle, std::uint32_t mask,
                                              std::uint32_t flags) = 0;
    virtual HandleResult create_file_w(const char16_t* name, std::uint32_t access,
                                       std::uint32_t share_mode,
                                       const SecurityAttributes* security_attributes,
                                       std::uint32_t creation_disposition,
                                       std::uint32_t flags_and_attributes) = 0;
    virtual bool close_handle(Handle handle) = 0;

    // Environment. Null with `error` set on failure.
    virtual const char16_t* get_environment_strings_w(std::uint32_t* error) = 0;
    virtual void free_environment_strings_w(const char16_t* block) = 0;
    // The system's text for a Win32 error code (FormatMessageW), trailing line end
    // removed; empty when the system has none.
    virtual std::string format_message(std::uint32_t code) = 0;
};

}  // namespace zub
