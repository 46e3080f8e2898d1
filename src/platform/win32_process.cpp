// Launch attribute lists, job objects, process creation and supervision.
#include <windows.h>

#include <cstddef>

#include "platform/win32_cast.h"
#include "platform/win32_platform.h"

namespace zub {
namespace {

using BasicLimit = JOBOBJECT_BASIC_LIMIT_INFORMATION;
using ExtendedLimit = JOBOBJECT_EXTENDED_LIMIT_INFORMATION;

static_assert(sizeof(JobBasicLimitInformation) == sizeof(BasicLimit));
static_assert(offsetof(JobBasicLimitInformation, per_process_user_time_limit) ==
              offsetof(BasicLimit, PerProcessUserTimeLimit));
static_assert(offsetof(JobBasicLimitInformation, per_job_user_time_limit) ==
              offsetof(BasicLimit, PerJobUserTimeLimit));
static_assert(offsetof(JobBasicLimitInformation, limit_flags) == offsetof(BasicLimit, LimitFlags));
static_assert(offsetof(JobBasicLimitInformation, minimum_working_set_size) ==
              offsetof(BasicLimit, MinimumWorkingSetSize));
static_assert(offsetof(JobBasicLimitInformation, maximum_working_set_size) ==
              offsetof(BasicLimit, MaximumWorkingSetSize));
static_assert(offsetof(JobBasicLimitInformation, active_process_limit) ==
              offsetof(BasicLimit, ActiveProcessLimit));
static_assert(offsetof(JobBasicLimitInformation, affinity) == offsetof(BasicLimit, Affinity));
static_assert(offsetof(JobBasicLimitInformation, priority_class) ==
              offsetof(BasicLimit, PriorityClass));
static_assert(offsetof(JobBasicLimitInformation, scheduling_class) ==
              offsetof(BasicLimit, SchedulingClass));

static_assert(sizeof(IoCounters) == sizeof(IO_COUNTERS));
static_assert(offsetof(IoCounters, read_operation_count) == offsetof(IO_COUNTERS, ReadOperationCount));
static_assert(offsetof(IoCounters, write_operation_count) ==
              offsetof(IO_COUNTERS, WriteOperationCount));
static_assert(offsetof(IoCounters, other_operation_count) ==
              offsetof(IO_COUNTERS, OtherOperationCount));
static_assert(offsetof(IoCounters, read_transfer_count) == offsetof(IO_COUNTERS, ReadTransferCount));
static_assert(offsetof(IoCounters, write_transfer_count) ==
              offsetof(IO_COUNTERS, WriteTransferCount));
static_assert(offsetof(IoCounters, other_transfer_count) ==
              offsetof(IO_COUNTERS, OtherTransferCount));

static_assert(sizeof(JobExtendedLimitInformation) == sizeof(ExtendedLimit));
static_assert(sizeof(ExtendedLimit) == 144);
static_assert(offsetof(JobExtendedLimitInformation, basic_limit_information) ==
              offsetof(ExtendedLimit, BasicLimitInformation));
static_assert(offsetof(JobExtendedLimitInformation, io_info) == offsetof(ExtendedLimit, IoInfo));
static_assert(offsetof(JobExtendedLimitInformation, process_memory_limit) ==
              offsetof(ExtendedLimit, ProcessMemoryLimit));
static_assert(offsetof(JobExtendedLimitInformation, job_memory_limit) ==
              offsetof(ExtendedLimit, JobMemoryLimit));
static_assert(offsetof(JobExtendedLimitInformation, peak_process_memory_used) ==
              offsetof(ExtendedLimit, PeakProcessMemoryUsed));
static_assert(offsetof(JobExtendedLimitInformation, peak_job_memory_used) ==
              offsetof(ExtendedLimit, PeakJobMemoryUsed));

static_assert(sizeof(StartupInfo) == sizeof(STARTUPINFOW));
static_assert(offsetof(StartupInfo, cb) == offsetof(STARTUPINFOW, cb));
static_assert(offsetof(StartupInfo, reserved) == offsetof(STARTUPINFOW, lpReserved));
static_assert(offsetof(StartupInfo, desktop) == offsetof(STARTUPINFOW, lpDesktop));
static_assert(offsetof(StartupInfo, title) == offsetof(STARTUPINFOW, lpTitle));
static_assert(offsetof(StartupInfo, x) == offsetof(STARTUPINFOW, dwX));
static_assert(offsetof(StartupInfo, y) == offsetof(STARTUPINFOW, dwY));
static_assert(offsetof(StartupInfo, x_size) == offsetof(STARTUPINFOW, dwXSize));
static_assert(offsetof(StartupInfo, y_size) == offsetof(STARTUPINFOW, dwYSize));
static_assert(offsetof(StartupInfo, x_count_chars) == offsetof(STARTUPINFOW, dwXCountChars));
static_assert(offsetof(StartupInfo, y_count_chars) == offsetof(STARTUPINFOW, dwYCountChars));
static_assert(offsetof(StartupInfo, fill_attribute) == offsetof(STARTUPINFOW, dwFillAttribute));
static_assert(offsetof(StartupInfo, flags) == offsetof(STARTUPINFOW, dwFlags));
static_assert(offsetof(StartupInfo, show_window) == offsetof(STARTUPINFOW, wShowWindow));
static_assert(offsetof(StartupInfo, cb_reserved2) == offsetof(STARTUPINFOW, cbReserved2));
static_assert(offsetof(StartupInfo, reserved2) == offsetof(STARTUPINFOW, lpReserved2));
static_assert(offsetof(StartupInfo, std_input) == offsetof(STARTUPINFOW, hStdInput));
static_assert(offsetof(StartupInfo, std_output) == offsetof(STARTUPINFOW, hStdOutput));
static_assert(offsetof(StartupInfo, std_error) == offsetof(STARTUPINFOW, hStdError));

static_assert(sizeof(StartupInfoEx) == sizeof(STARTUPINFOEXW));
static_assert(sizeof(STARTUPINFOEXW) == 112);
static_assert(offsetof(StartupInfoEx, startup_info) == offsetof(STARTUPINFOEXW, StartupInfo));
static_assert(offsetof(StartupInfoEx, attribute_list) == offsetof(STARTUPINFOEXW, lpAttributeList));

static_assert(sizeof(ProcessInformation) == sizeof(PROCESS_INFORMATION));
static_assert(offsetof(ProcessInformation, process) == offsetof(PROCESS_INFORMATION, hProcess));
static_assert(offsetof(ProcessInformation, thread) == offsetof(PROCESS_INFORMATION, hThread));
static_assert(offsetof(ProcessInformation, process_id) == offsetof(PROCESS_INFORMATION, dwProcessId));
static_assert(offsetof(ProcessInformation, thread_id) == offsetof(PROCESS_INFORMATION, dwThreadId));

LPPROC_THREAD_ATTRIBUTE_LIST attribute_list(void* list) {
    return static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list);
}

}  // namespace

BoolResult Win32Platform::initialize_proc_thread_attribute_list(void* list, std::uint32_t count,
                                                                std::uint32_t flags,
                                                                std::size_t* size) {
    SIZE_T length = *size;
    const BoolResult result = win32::bool_result(
        InitializeProcThreadAttributeList(attribute_list(list), count, flags, &length));
    *size = length;
    return result;
}

BoolResult Win32Platform::update_proc_thread_attribute(void* list, std::uint32_t flags,
                                                       std::uintptr_t attribute, void* value,
                                                       std::size_t size) {
    // `value` is referred to by the list, not copied: it must stay where it is.
    return win32::bool_result(UpdateProcThreadAttribute(attribute_list(list), flags, attribute,
                                                        value, size, nullptr, nullptr));
}

void Win32Platform::delete_proc_thread_attribute_list(void* list) {
    DeleteProcThreadAttributeList(attribute_list(list));
}

HandleResult Win32Platform::create_job_object_w() {
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) return {NO_HANDLE, static_cast<std::uint32_t>(GetLastError())};
    return {win32::from_win(job), 0};
}

BoolResult Win32Platform::set_information_job_object(Handle job, std::uint32_t info_class,
                                                     const JobExtendedLimitInformation* info,
                                                     std::uint32_t size) {
    // The system only reads the record; its declaration lacks the const.
    return win32::bool_result(SetInformationJobObject(
        win32::to_win(job), static_cast<JOBOBJECTINFOCLASS>(info_class),
        const_cast<JobExtendedLimitInformation*>(info), size));
}

BoolResult Win32Platform::create_process_w(char16_t* command_line, bool inherit_handles,
                                           std::uint32_t creation_flags,
                                           const char16_t* environment,
                                           const char16_t* current_directory,
                                           StartupInfoEx* startup_info,
                                           ProcessInformation* process_information) {
    // The environment block is only read; the declaration lacks the const.
    return win32::bool_result(CreateProcessW(
        nullptr, win32::wide(command_line), nullptr, nullptr, inherit_handles ? TRUE : FALSE,
        creation_flags, const_cast<char16_t*>(environment), win32::wide(current_directory),
        reinterpret_cast<LPSTARTUPINFOW>(startup_info),
        reinterpret_cast<LPPROCESS_INFORMATION>(process_information)));
}

BoolResult Win32Platform::assign_process_to_job_object(Handle job, Handle process) {
    return win32::bool_result(AssignProcessToJobObject(win32::to_win(job), win32::to_win(process)));
}

std::uint32_t Win32Platform::resume_thread(Handle thread, std::uint32_t* error) {
    const DWORD previous = ResumeThread(win32::to_win(thread));
    *error = previous == static_cast<DWORD>(-1) ? static_cast<std::uint32_t>(GetLastError()) : 0;
    return previous;
}

std::uint32_t Win32Platform::wait_for_single_object(Handle handle, std::uint32_t milliseconds) {
    return WaitForSingleObject(win32::to_win(handle), milliseconds);
}

BoolResult Win32Platform::get_exit_code_process(Handle process, std::uint32_t* exit_code) {
    DWORD code = 0;
    const BoolResult result = win32::bool_result(GetExitCodeProcess(win32::to_win(process), &code));
    *exit_code = code;
    return result;
}

}  // namespace zub
