#include "env_platform.h"

#include "fuzz_support.h"

namespace zub::fuzz {
namespace {

[[noreturn]] void unexpected_call(const char* name) { check_failed(name, "env_platform", 0); }

}  // namespace

const char16_t* EnvPlatform::get_environment_strings_w(std::uint32_t* error) {
    ++gets_;
    *error = 0;
    return block_.c_str();
}

void EnvPlatform::free_environment_strings_w(const char16_t* block) {
    FUZZ_CHECK(block == block_.c_str());
    FUZZ_CHECK(frees_ < gets_);
    ++frees_;
}

#define ZUB_UNEXPECTED(name) unexpected_call("unexpected platform call " name)

OsString EnvPlatform::get_command_line() { ZUB_UNEXPECTED("get_command_line"); }
OsString EnvPlatform::get_module_file_name() { ZUB_UNEXPECTED("get_module_file_name"); }
Handle EnvPlatform::get_std_handle(std::uint32_t) { ZUB_UNEXPECTED("get_std_handle"); }
bool EnvPlatform::get_console_mode(Handle) { ZUB_UNEXPECTED("get_console_mode"); }
std::uint32_t EnvPlatform::get_console_output_cp() { ZUB_UNEXPECTED("get_console_output_cp"); }
BoolResult EnvPlatform::write_console_w(Handle, std::u16string_view) {
    ZUB_UNEXPECTED("write_console_w");
}
BoolResult EnvPlatform::write_file(Handle, std::string_view) { ZUB_UNEXPECTED("write_file"); }
void EnvPlatform::exit_process(std::uint32_t) { ZUB_UNEXPECTED("exit_process"); }
std::uint32_t EnvPlatform::create_app_container_profile(const char16_t*, const char16_t*,
                                                        const char16_t*, Sid*) {
    ZUB_UNEXPECTED("create_app_container_profile");
}
std::uint32_t EnvPlatform::derive_app_container_sid_from_app_container_name(const char16_t*,
                                                                            Sid*) {
    ZUB_UNEXPECTED("derive_app_container_sid_from_app_container_name");
}
BoolResult EnvPlatform::create_well_known_sid(std::uint32_t, Sid, void*, std::uint32_t*) {
    ZUB_UNEXPECTED("create_well_known_sid");
}
std::uint32_t EnvPlatform::get_security_info(Handle, std::uint32_t, std::uint32_t, Acl*,
                                             SecurityDescriptor*) {
    ZUB_UNEXPECTED("get_security_info");
}
std::uint32_t EnvPlatform::set_entries_in_acl_w(std::uint32_t, const ExplicitAccess*, Acl, Acl*) {
    ZUB_UNEXPECTED("set_entries_in_acl_w");
}
std::uint32_t EnvPlatform::set_security_info(Handle, std::uint32_t, std::uint32_t, Acl) {
    ZUB_UNEXPECTED("set_security_info");
}
void EnvPlatform::local_free(void*) { ZUB_UNEXPECTED("local_free"); }
void EnvPlatform::free_sid(Sid) { ZUB_UNEXPECTED("free_sid"); }
HandleResult EnvPlatform::open_relative(Handle, std::u16string_view, std::uint32_t) {
    ZUB_UNEXPECTED("open_relative");
}
BoolResult EnvPlatform::get_file_information_by_handle(Handle, FileIdentity*) {
    ZUB_UNEXPECTED("get_file_information_by_handle");
}
std::unique_ptr<DirectoryListing> EnvPlatform::open_directory_listing(Handle) {
    ZUB_UNEXPECTED("open_directory_listing");
}
std::optional<std::uint32_t> EnvPlatform::attributes_from_directory_entry(const char16_t*) {
    ZUB_UNEXPECTED("attributes_from_directory_entry");
}
BoolResult EnvPlatform::initialize_proc_thread_attribute_list(void*, std::uint32_t, std::uint32_t,
                                                              std::size_t*) {
    ZUB_UNEXPECTED("initialize_proc_thread_attribute_list");
}
BoolResult EnvPlatform::update_proc_thread_attribute(void*, std::uint32_t, std::uintptr_t, void*,
                                                     std::size_t) {
    ZUB_UNEXPECTED("update_proc_thread_attribute");
}
void EnvPlatform::delete_proc_thread_attribute_list(void*) {
    ZUB_UNEXPECTED("delete_proc_thread_attribute_list");
}
HandleResult EnvPlatform::create_job_object_w() { ZUB_UNEXPECTED("create_job_object_w"); }
BoolResult EnvPlatform::set_information_job_object(Handle, std::uint32_t,
                                                   const JobExtendedLimitInformation*,
                                                   std::uint32_t) {
    ZUB_UNEXPECTED("set_information_job_object");
}
BoolResult EnvPlatform::create_process_w(char16_t*, bool, std::uint32_t, const char16_t*,
                                         const char16_t*, StartupInfoEx*, ProcessInformation*) {
    ZUB_UNEXPECTED("create_process_w");
}
BoolResult EnvPlatform::assign_process_to_job_object(Handle, Handle) {
    ZUB_UNEXPECTED("assign_process_to_job_object");
}
std::uint32_t EnvPlatform::resume_thread(Handle, std::uint32_t*) {
    ZUB_UNEXPECTED("resume_thread");
}
std::uint32_t EnvPlatform::wait_for_single_object(Handle, std::uint32_t) {
    ZUB_UNEXPECTED("wait_for_single_object");
}
BoolResult EnvPlatform::get_exit_code_process(Handle, std::uint32_t*) {
    ZUB_UNEXPECTED("get_exit_code_process");
}
void EnvPlatform::terminate_process(Handle, std::uint32_t) { ZUB_UNEXPECTED("terminate_process"); }
BoolResult EnvPlatform::set_handle_information(Handle, std::uint32_t, std::uint32_t) {
    ZUB_UNEXPECTED("set_handle_information");
}
HandleResult EnvPlatform::create_file_w(const char16_t*, std::uint32_t, std::uint32_t,
                                        const SecurityAttributes*, std::uint32_t, std::uint32_t) {
    ZUB_UNEXPECTED("create_file_w");
}
bool EnvPlatform::close_handle(Handle) { ZUB_UNEXPECTED("close_handle"); }
std::string EnvPlatform::format_message(std::uint32_t) { ZUB_UNEXPECTED("format_message"); }

}  // namespace zub::fuzz
