#pragma once
// Portable forms of the records the helper fills for the system. Their layout
// matches the Win64 structures field for field, so the Win32 backend can hand
// them over as they are (it checks sizes and offsets at compile time).
#include <cstddef>
#include <cstdint>

namespace zub {

// A handle value. 0 and INVALID_HANDLE count as no handle and are never closed.
using Handle = std::uintptr_t;
constexpr Handle NO_HANDLE = 0;
constexpr Handle INVALID_HANDLE = static_cast<Handle>(-1);
constexpr bool is_closable_handle(Handle h) { return h != NO_HANDLE && h != INVALID_HANDLE; }

// Opaque system-owned security data, released with LocalFree.
using Sid = void*;
struct OpaqueAcl;
struct OpaqueSecurityDescriptor;
using Acl = OpaqueAcl*;
using SecurityDescriptor = OpaqueSecurityDescriptor*;

// ACL's header: `size` counts the bytes of the whole list, entries included,
// so two lists are equal when their first `size` bytes are.
struct AclHeader {
    std::uint8_t revision;
    std::uint8_t sbz1;
    std::uint16_t size;
    std::uint16_t entry_count;
    std::uint16_t sbz2;
};

// SECURITY_DESCRIPTOR in absolute form: the parts are pointers, not offsets.
struct AbsoluteSecurityDescriptor {
    std::uint8_t revision;
    std::uint8_t sbz1;
    std::uint16_t control;
    Sid owner;
    Sid group;
    Acl sacl;
    Acl dacl;
};

struct SidAndAttributes {
    Sid sid;
    std::uint32_t attributes;
};

struct SecurityCapabilities {
    Sid app_container_sid;
    SidAndAttributes* capabilities;
    std::uint32_t capability_count;
    std::uint32_t reserved;
};

struct Trustee {
    Trustee* multiple_trustee;
    std::uint32_t multiple_trustee_operation;
    std::uint32_t trustee_form;
    std::uint32_t trustee_type;
    void* name;  // the SID, for TRUSTEE_IS_SID
};

struct ExplicitAccess {
    std::uint32_t access_permissions;
    std::uint32_t access_mode;
    std::uint32_t inheritance;
    Trustee trustee;
};

struct SecurityAttributes {
    std::uint32_t length;
    void* security_descriptor;
    std::int32_t inherit_handle;
};

struct JobBasicLimitInformation {
    std::int64_t per_process_user_time_limit;
    std::int64_t per_job_user_time_limit;
    std::uint32_t limit_flags;
    std::size_t minimum_working_set_size;
    std::size_t maximum_working_set_size;
    std::uint32_t active_process_limit;
    std::uintptr_t affinity;
    std::uint32_t priority_class;
    std::uint32_t scheduling_class;
};

struct IoCounters {
    std::uint64_t read_operation_count;
    std::uint64_t write_operation_count;
    std::uint64_t other_operation_count;
    std::uint64_t read_transfer_count;
    std::uint64_t write_transfer_count;
    std::uint64_t other_transfer_count;
};

struct JobExtendedLimitInformation {
    JobBasicLimitInformation basic_limit_information;
    IoCounters io_info;
    std::size_t process_memory_limit;
    std::size_t job_memory_limit;
    std::size_t peak_process_memory_used;
    std::size_t peak_job_memory_used;
};

struct StartupInfo {
    std::uint32_t cb;
    char16_t* reserved;
    char16_t* desktop;
    char16_t* title;
    std::uint32_t x;
    std::uint32_t y;
    std::uint32_t x_size;
    std::uint32_t y_size;
    std::uint32_t x_count_chars;
    std::uint32_t y_count_chars;
    std::uint32_t fill_attribute;
    std::uint32_t flags;
    std::uint16_t show_window;
    std::uint16_t cb_reserved2;
    std::uint8_t* reserved2;
    Handle std_input;
    Handle std_output;
    Handle std_error;
};

struct StartupInfoEx {
    StartupInfo startup_info;
    void* attribute_list;
};

struct ProcessInformation {
    Handle process;
    Handle thread;
    std::uint32_t process_id;
    std::uint32_t thread_id;
};

// Constants of the published interface that the logic uses.
constexpr std::uint32_t ERROR_FILE_NOT_FOUND_CODE = 2;
constexpr std::uint32_t ERROR_ACCESS_DENIED_CODE = 5;
constexpr std::uint32_t ERROR_INVALID_HANDLE_CODE = 6;
constexpr std::uint32_t ERROR_NO_MORE_FILES_CODE = 18;
constexpr std::uint32_t ERROR_SHARING_VIOLATION_CODE = 32;
constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER_CODE = 122;
constexpr std::uint32_t HRESULT_ALREADY_EXISTS = 0x800700B7;
constexpr std::uint32_t WAIT_OBJECT_0_RESULT = 0;

constexpr std::uint32_t OPEN_EXISTING_DISPOSITION = 3;
constexpr std::uint32_t FILE_SHARE_ALL = 7;  // read | write | delete

constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY_BIT = 0x00000010;
constexpr std::uint32_t FILE_ATTRIBUTE_REPARSE_POINT_BIT = 0x00000400;

// PROC_THREAD_ATTRIBUTE_SECURITY_CAPABILITIES, under a name the system headers do not define.
constexpr std::uintptr_t SECURITY_CAPABILITIES_ATTRIBUTE = 0x00020009;
// PROC_THREAD_ATTRIBUTE_HANDLE_LIST: the only inheritable handles the child receives.
constexpr std::uintptr_t HANDLE_LIST_ATTRIBUTE = 0x00020002;
constexpr std::uint32_t WIN_CAPABILITY_INTERNET_CLIENT_SID = 85;

constexpr std::uint32_t STD_INPUT_HANDLE_ID = 0xFFFFFFF6;
constexpr std::uint32_t STD_OUTPUT_HANDLE_ID = 0xFFFFFFF5;
constexpr std::uint32_t STD_ERROR_HANDLE_ID = 0xFFFFFFF4;

}  // namespace zub
