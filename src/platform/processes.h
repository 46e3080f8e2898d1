#pragma once
// Launch attribute lists, job objects, process creation and supervision.
#include <cstddef>
#include <cstdint>

#include "platform/call_results.h"

namespace zub {

class Processes {
public:
    virtual ~Processes() = default;
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
};

}  // namespace zub
