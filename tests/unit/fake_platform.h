#pragma once
// A small in-memory Windows for the logic's tests: a file tree with DACL entry
// lists, a profile registry, a handle table and a security-memory table that
// fail the test on a double release, a close of 0 or -1 or a leak, a call log
// for order assertions, and scripted failures ("the 2nd SetKernelObjectSecurity
// fails with 5").
#include <array>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "support/env_entries.h"

namespace zub::test {

// Error codes with this bit set are application-defined: FormatMessageW has no text for them.
constexpr std::uint32_t CUSTOMER_CODE_BIT = 0x20000000;

// The system calls the fake serves. Scripted failures, hooks and counts name
// them by this enum, so that a misspelt name does not compile.
enum class Op {
    GetCommandLineW, GetModuleFileNameW, GetStdHandle, GetConsoleMode, GetConsoleOutputCP,
    WriteConsoleW, WriteFile, ExitProcess,
    CreateAppContainerProfile, DeriveAppContainerSidFromAppContainerName, CreateWellKnownSid,
    GetKernelObjectSecurity, GetSecurityDescriptorControl, GetSecurityDescriptorDacl, SetEntriesInAclW, SetKernelObjectSecurity,
    LocalFree, FreeSid, CreateGrantMutex, ReleaseMutex,
    NtCreateFile, QueryFileIdentity, GetFileInformationByHandleEx, FindFirstFileExW,
    InitializeProcThreadAttributeList, UpdateProcThreadAttribute, DeleteProcThreadAttributeList,
    CreateJobObjectW, SetInformationJobObject, CreateProcessW, AssignProcessToJobObject,
    ResumeThread, WaitForSingleObject, GetExitCodeProcess, TerminateProcess,
    SetHandleInformation, CreateFileW, CloseHandle,
    GetEnvironmentStringsW, FreeEnvironmentStringsW, FormatMessageW,
};

// The system call's name, as the log writes it.
std::string_view op_name(Op op);
std::ostream& operator<<(std::ostream& out, Op op);

// Thrown by exit_process, so a test can catch the helper's end.
struct FakeExit {
    std::uint32_t status;
};

// A DACL entry. SetEntriesInAclW joins rights only into an explicit allow
// entry of the same SID and inheritance: an inherited or a deny one stays.
struct FakeAce {
    Sid sid;
    std::uint32_t mask;
    std::uint16_t flags;     // inheritance (OBJECT_INHERIT 1, CONTAINER_INHERIT 2), INHERITED_ACE 0x10
    std::uint16_t deny = 0;  // 1: an access-denied entry
};

struct FakeNode {
    std::uint32_t attributes = 0;
    std::vector<OsString> children;     // entry names in listing order
    std::uint32_t denied_access = 0;    // rights an open asking for them is refused
    FileId file_id;                       // as the volume reports it
    std::uint64_t object = 0;             // the fake's own identity of the object
    std::optional<OsString> link_target;  // a reparse point's target path
    std::uint16_t dacl_control = 0x0404;  // SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED
    std::vector<FakeAce> dacl;            // when present and not null
    bool null_dacl = false;
    bool oplocked = false;                // a script holds an oplock on it
};

// What a volume reports as file IDs: NTFS-like 64-bit IDs, ReFS-like IDs that
// use the high 64 bits too, or none at all (0, or all ones).
enum class FakeVolume { Ntfs, Refs, NoIds, AllOnesIds };

// One object that an open, a DACL read or write, or a listing reached.
struct Touch {
    std::string operation;  // "open", "read", "write", "list"
    OsString path;
};

struct RecordedGrant {
    OsString path;
    ExplicitAccess entry;
    std::uint32_t security_info;
    std::uint16_t control;  // of the descriptor written
};

struct RecordedCreateFile {
    OsString name;
    std::uint32_t access;
    std::uint32_t share_mode;
    SecurityAttributes security_attributes;
    std::uint32_t disposition;
    std::uint32_t flags;
};

struct RecordedCreateProcess {
    OsString command_line;
    bool inherit_handles;
    std::uint32_t creation_flags;
    std::u16string environment;  // the whole block, final NUL units included
    std::optional<OsString> current_directory;
    StartupInfoEx startup_info;
    std::optional<SecurityCapabilities> security_capabilities;
    std::vector<SidAndAttributes> capability_entries;
    std::uint32_t attribute_count = 0;         // as the list was initialised
    std::vector<std::uintptr_t> attributes;     // as they were added
    std::optional<std::vector<Handle>> handle_list;  // read through the list at creation
};

class FakePlatform : public Platform {
public:
    FakePlatform();
    ~FakePlatform() override;  // fails the test on anything left unreleased

    // ---- set-up -------------------------------------------------------------
    OsString command_line;
    OsString module_path = u"C:\\zub\\zub-sandbox-helper.exe";
    std::array<Handle, 3> std_handles{0x10, 0x14, 0x18};  // stdin, stdout, stderr
    bool stderr_is_console = false;
    std::uint32_t console_output_cp = 65001;
    std::optional<std::u16string> environment;  // NAME=VALUE NUL ... NUL; none: call fails
    std::uint32_t environment_error = 8;
    std::uint32_t child_exit_code = 0;
    std::uint32_t wait_result = 0;
    std::size_t attribute_list_size = 48;
    FakeVolume volume = FakeVolume::Ntfs;  // for the IDs of objects added from now on
    std::uint32_t grant_mutex_wait_result = 0;

    void add_dir(const OsString& path);
    void add_file(const OsString& path);
    // A reparse point (junction or symbolic link); `directory` adds the directory bit.
    void add_reparse_point(const OsString& path, bool directory = true, const OsString& target = {});
    void make_unlistable(const OsString& path);
    // A hostile child at work: an existing directory made a mount point in
    // place (same object, same file ID), or removed and replaced by a link (a
    // new object).
    void make_link_in_place(const OsString& path, const OsString& target);
    void replace_with_link(const OsString& path, const OsString& target);
    // Wine follows a link even when asked not to; only the file ID tells.
    bool follows_links_like_wine = false;
    // The object that a Win32 path names: trailing dots and spaces trimmed from
    // each component, links followed in every component and, unless
    // `follow_final` is false, in the last.
    std::optional<OsString> resolve(const OsString& path, bool follow_final) const;

    // Makes the nth call (1-based) of `operation` fail with `code`.
    void fail(Op operation, int nth, std::uint32_t code);
    // Runs `change` after the nth call of `operation`, before any other call.
    void after_call(Op operation, int nth, std::function<void(FakePlatform&)> change);

    // ---- observations -------------------------------------------------------
    std::vector<std::string> log;  // "Operation detail", in call order
    std::optional<std::size_t> failed_at;  // index in `log` of the scripted failure that struck
    std::vector<Op> operations() const;  // the operations of `log`
    int calls(Op operation) const;
    std::vector<RecordedGrant> grants;             // successful DACL writes, in order
    // The objects that DACL writes reached: one each as the walk writes them,
    // and what SetSecurityInfo's propagation would have written besides (one
    // write for every object below a directory).
    std::uint64_t dacl_writes = 0;
    std::uint64_t dacl_writes_if_propagated = 0;
    std::size_t peak_file_handles = 0;  // file and directory handles open at once
    std::vector<OsString> listed;                  // directories whose listing was opened
    std::vector<Touch> touched;                    // every object reached, in order
    std::vector<OsString> profile_names;           // names passed to the profile calls
    std::vector<RecordedCreateFile> created_files;
    std::vector<std::pair<Handle, std::uint32_t>> handle_information;  // handle, flags
    std::optional<RecordedCreateProcess> created_process;
    std::optional<JobExtendedLimitInformation> job_limits;
    std::string stderr_bytes;
    std::u16string console_text;
    std::map<std::string, Sid> profiles;  // the profile registry: name to its SID
    Handle last_job = NO_HANDLE;

    // Fails the current test when any handle or security memory is still held.
    void expect_all_released();

    // ---- Platform -------------------------------------------------------------
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

    // The fake's own name for a handle or security object ("job", "sid:1", ...).
    std::string name_of(Handle handle) const;
    std::string name_of(const void* memory) const;

    std::map<OsString, FakeNode> files;

private:
    // Counts the call, logs it and returns the scripted failure code, if any.
    std::optional<std::uint32_t> enter(Op operation, const std::string& detail);
    Handle open_handle(const std::string& what);
    void* allocate(const std::string& kind, std::size_t bytes = 1);
    void release(void* memory, Op operation);
    void add_node(const OsString& path, std::uint32_t attributes);
    HandleResult open_object(const OsString& path, std::uint32_t access);
    // The current path of the object an open file handle refers to; empty once it is gone.
    OsString object_path(Handle handle) const;
    struct FileHandle {
        std::uint64_t object;
        std::uint32_t access;
    };
    struct Hook {
        Op operation;
        int nth;
        std::function<void(FakePlatform&)> change;
    };

    std::map<Op, int> counts_;
    std::map<Op, std::map<int, std::uint32_t>> failures_;
    std::vector<Hook> hooks_;
    std::vector<std::function<void(FakePlatform&)>> due_changes_;
    std::map<Handle, FileHandle> file_handles_;
    std::uint64_t next_file_id_ = 1000;
    FileId new_file_id();
    Handle grant_mutex_ = NO_HANDLE;
    bool grant_mutex_held_ = false;
    Handle next_handle_ = 0x100;
    std::map<Handle, std::string> open_handles_;
    std::set<Handle> closed_handles_;
    std::map<const void*, std::string> live_memory_;
    std::set<const void*> freed_memory_;
    std::vector<std::unique_ptr<std::uint64_t[]>> memory_tokens_;
    int next_memory_ = 1;
    std::map<const void*, std::vector<ExplicitAccess>> acl_entries_;
    std::set<const void*> initialized_lists_;
    const SecurityCapabilities* attribute_value_ = nullptr;
    std::uint32_t attribute_count_ = 0;
    std::vector<std::uintptr_t> attributes_;
    const Handle* handle_list_ = nullptr;
    std::size_t handle_list_size_ = 0;
    std::u16string environment_copy_;
    bool environment_live_ = false;
};

// UTF-8 test text to an OS string.
OsString os(std::string_view utf8);

using test_support::env_block_of;

}  // namespace zub::test
