#include "fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <ostream>
#include <span>

namespace zub::test {

OsString os(std::string_view utf8) { return to_utf16(utf8); }

namespace {

std::string hex(std::uintptr_t value) {
    char digits[2 * sizeof value];
    char* end = std::to_chars(std::begin(digits), std::end(digits), value, 16).ptr;
    return "0x" + std::string(digits, end);
}

std::string text(const char16_t* wide) { return wide ? to_utf8_lossy(wide) : "(null)"; }

OsString parent_of(const OsString& path) {
    const auto cut = path.find_last_of(u"\\/");
    return cut == OsString::npos ? OsString() : path.substr(0, cut);
}

class FakeListing : public DirectoryListing {
public:
    explicit FakeListing(std::vector<DirEntry> entries) : entries_(std::move(entries)) {}
    bool next(DirEntry& entry) override {
        if (position_ == entries_.size()) return false;
        entry = entries_[position_++];
        return true;
    }

private:
    std::vector<DirEntry> entries_;
    std::size_t position_ = 0;
};

// A Win32 path component loses its trailing dots and spaces ("foo. " names "foo").
OsString trimmed(OsString component) {
    const auto keep = component.find_last_not_of(u". ");
    if (keep != OsString::npos) component.resize(keep + 1);
    return component;
}

bool is_at_or_below(const OsString& path, const OsString& top) {
    return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0 &&
                           path[top.size()] == u'\\');
}

}  // namespace

FakePlatform::FakePlatform() {
    for (Handle h : std_handles) open_handles_[h] = "helper-std";
}

FakePlatform::~FakePlatform() { expect_all_released(); }

void FakePlatform::expect_all_released() {
    for (const auto& [handle, what] : open_handles_) {
        if (what != "helper-std") ADD_FAILURE() << "handle leaked: " << what << " " << hex(handle);
    }
    for (const auto& [memory, what] : live_memory_) ADD_FAILURE() << "not released: " << what;
    if (environment_live_) ADD_FAILURE() << "environment block not freed";
    for (const void* list : initialized_lists_) {
        ADD_FAILURE() << "attribute list not deleted: " << hex(reinterpret_cast<std::uintptr_t>(list));
    }
    open_handles_.erase(open_handles_.begin(), open_handles_.end());
    for (Handle h : std_handles) open_handles_[h] = "helper-std";
    live_memory_.clear();
    initialized_lists_.clear();
    environment_live_ = false;
}

void FakePlatform::add_node(const OsString& path, std::uint32_t attributes) {
    FakeNode& node = files[path];
    node.attributes = attributes;
    node.object = next_file_id_;
    node.file_id = new_file_id();
    const OsString parent = parent_of(path);
    auto it = files.find(parent);
    if (!parent.empty() && it != files.end()) {
        it->second.children.push_back(path.substr(parent.size() + 1));
    }
}

FileId FakePlatform::new_file_id() {
    const std::uint64_t number = next_file_id_++;
    if (volume == FakeVolume::NoIds) return FileId{};
    if (volume == FakeVolume::AllOnesIds) return FileId::from_64(~std::uint64_t{0});
    FileId id = FileId::from_64(number);
    if (volume == FakeVolume::Refs) id.bytes[12] = 0x5A;  // beyond what 64 bits hold
    return id;
}

void FakePlatform::add_dir(const OsString& path) { add_node(path, FILE_ATTRIBUTE_DIRECTORY_BIT); }
void FakePlatform::add_file(const OsString& path) { add_node(path, 0x20); }
void FakePlatform::add_reparse_point(const OsString& path, bool directory, const OsString& target) {
    add_node(path, FILE_ATTRIBUTE_REPARSE_POINT_BIT | (directory ? FILE_ATTRIBUTE_DIRECTORY_BIT : 0));
    if (!target.empty()) files[path].link_target = target;
}
void FakePlatform::make_unlistable(const OsString& path) {
    files.at(path).denied_access |= 0x1;  // FILE_LIST_DIRECTORY
}

void FakePlatform::make_link_in_place(const OsString& path, const OsString& target) {
    FakeNode& node = files.at(path);
    node.attributes |= FILE_ATTRIBUTE_REPARSE_POINT_BIT;
    node.link_target = target;
}

void FakePlatform::replace_with_link(const OsString& path, const OsString& target) {
    for (auto it = files.begin(); it != files.end();) {
        it = is_at_or_below(it->first, path) ? files.erase(it) : std::next(it);
    }
    FakeNode& node = files[path];  // keeps its place in its parent's listing
    node.attributes = FILE_ATTRIBUTE_REPARSE_POINT_BIT | FILE_ATTRIBUTE_DIRECTORY_BIT;
    node.object = next_file_id_;
    node.file_id = new_file_id();
    node.link_target = target;
}

std::optional<OsString> FakePlatform::resolve(const OsString& path, bool follow_final) const {
    OsString current;
    std::size_t start = 0;
    int links_followed = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == OsString::npos) end = path.size();
        const bool last = end == path.size();
        const OsString component = trimmed(path.substr(start, end - start));
        start = end + 1;
        if (component.empty()) continue;
        if (!current.empty()) current += u'\\';
        current += component;
        auto it = files.find(current);
        if (it != files.end() && it->second.link_target && (!last || follow_final)) {
            if (++links_followed > 16) return std::nullopt;
            const std::optional<OsString> target = resolve(*it->second.link_target, true);
            if (!target) return std::nullopt;
            current = *target;
        }
    }
    if (!files.count(current)) return std::nullopt;
    return current;
}

std::string_view op_name(Op op) {
    switch (op) {
        case Op::GetCommandLineW: return "GetCommandLineW";
        case Op::GetModuleFileNameW: return "GetModuleFileNameW";
        case Op::GetStdHandle: return "GetStdHandle";
        case Op::GetConsoleMode: return "GetConsoleMode";
        case Op::GetConsoleOutputCP: return "GetConsoleOutputCP";
        case Op::WriteConsoleW: return "WriteConsoleW";
        case Op::WriteFile: return "WriteFile";
        case Op::ExitProcess: return "ExitProcess";
        case Op::CreateAppContainerProfile: return "CreateAppContainerProfile";
        case Op::DeriveAppContainerSidFromAppContainerName: return "DeriveAppContainerSidFromAppContainerName";
        case Op::CreateWellKnownSid: return "CreateWellKnownSid";
        case Op::GetKernelObjectSecurity: return "GetKernelObjectSecurity";
        case Op::GetSecurityDescriptorDacl: return "GetSecurityDescriptorDacl";
        case Op::SetEntriesInAclW: return "SetEntriesInAclW";
        case Op::GetSecurityDescriptorControl: return "GetSecurityDescriptorControl";
        case Op::SetKernelObjectSecurity: return "SetKernelObjectSecurity";
        case Op::CreateGrantMutex: return "CreateGrantMutex";
        case Op::ReleaseMutex: return "ReleaseMutex";
        case Op::LocalFree: return "LocalFree";
        case Op::FreeSid: return "FreeSid";
        case Op::NtCreateFile: return "NtCreateFile";
        case Op::QueryFileIdentity: return "QueryFileIdentity";
        case Op::GetFileInformationByHandleEx: return "GetFileInformationByHandleEx";
        case Op::FindFirstFileExW: return "FindFirstFileExW";
        case Op::InitializeProcThreadAttributeList: return "InitializeProcThreadAttributeList";
        case Op::UpdateProcThreadAttribute: return "UpdateProcThreadAttribute";
        case Op::DeleteProcThreadAttributeList: return "DeleteProcThreadAttributeList";
        case Op::CreateJobObjectW: return "CreateJobObjectW";
        case Op::SetInformationJobObject: return "SetInformationJobObject";
        case Op::CreateProcessW: return "CreateProcessW";
        case Op::AssignProcessToJobObject: return "AssignProcessToJobObject";
        case Op::ResumeThread: return "ResumeThread";
        case Op::WaitForSingleObject: return "WaitForSingleObject";
        case Op::GetExitCodeProcess: return "GetExitCodeProcess";
        case Op::TerminateProcess: return "TerminateProcess";
        case Op::SetHandleInformation: return "SetHandleInformation";
        case Op::CreateFileW: return "CreateFileW";
        case Op::CloseHandle: return "CloseHandle";
        case Op::GetEnvironmentStringsW: return "GetEnvironmentStringsW";
        case Op::FreeEnvironmentStringsW: return "FreeEnvironmentStringsW";
        case Op::FormatMessageW: return "FormatMessageW";
    }
    return "?";  // not an enumerator; -Wswitch keeps the list above complete
}

std::ostream& operator<<(std::ostream& out, Op op) { return out << op_name(op); }

void FakePlatform::after_call(Op operation, int nth, std::function<void(FakePlatform&)> change) {
    hooks_.push_back({operation, nth, std::move(change)});
}

void FakePlatform::fail(Op operation, int nth, std::uint32_t code) { failures_[operation][nth] = code; }

std::vector<Op> FakePlatform::operations() const {
    std::vector<Op> ops;
    for (const std::string& entry : log) {
        const std::string_view logged = std::string_view(entry).substr(0, entry.find(' '));
        int i = 0;
        while (i <= static_cast<int>(Op::FormatMessageW) && op_name(static_cast<Op>(i)) != logged) ++i;
        if (i > static_cast<int>(Op::FormatMessageW)) {
            ADD_FAILURE() << "not an operation: " << entry;
        } else {
            ops.push_back(static_cast<Op>(i));
        }
    }
    return ops;
}

int FakePlatform::calls(Op operation) const {
    auto it = counts_.find(operation);
    return it == counts_.end() ? 0 : it->second;
}

std::optional<std::uint32_t> FakePlatform::enter(Op operation, const std::string& detail) {
    for (const auto& change : std::exchange(due_changes_, {})) change(*this);
    const std::string name(op_name(operation));
    log.push_back(detail.empty() ? name : name + " " + detail);
    const int nth = ++counts_[operation];
    for (Hook& hook : hooks_) {
        if (hook.operation == operation && hook.nth == nth) due_changes_.push_back(hook.change);
    }
    auto it = failures_.find(operation);
    if (it == failures_.end()) return std::nullopt;
    auto hit = it->second.find(nth);
    if (hit == it->second.end()) return std::nullopt;
    failed_at = log.size() - 1;
    return hit->second;
}

Handle FakePlatform::open_handle(const std::string& what) {
    const Handle h = next_handle_;
    next_handle_ += 4;
    open_handles_[h] = what;
    return h;
}

void* FakePlatform::allocate(const std::string& kind, std::size_t bytes) {
    memory_tokens_.push_back(std::make_unique<std::uint64_t[]>((bytes + 7) / 8));
    void* memory = memory_tokens_.back().get();
    live_memory_[memory] = kind + ":" + std::to_string(next_memory_++);
    return memory;
}

std::string FakePlatform::name_of(Handle handle) const {
    auto it = open_handles_.find(handle);
    return it == open_handles_.end() ? hex(handle) : it->second;
}

std::string FakePlatform::name_of(const void* memory) const {
    auto it = live_memory_.find(memory);
    return it == live_memory_.end() ? hex(reinterpret_cast<std::uintptr_t>(memory)) : it->second;
}

// ---- command line, exit, console ----------------------------------------------

OsString FakePlatform::get_command_line() {
    enter(Op::GetCommandLineW, "");
    return command_line;
}

OsString FakePlatform::get_module_file_name() {
    if (enter(Op::GetModuleFileNameW, "")) return {};
    return module_path;
}

Handle FakePlatform::get_std_handle(std::uint32_t which) {
    enter(Op::GetStdHandle, hex(which));
    switch (which) {
        case STD_INPUT_HANDLE_ID: return std_handles[0];
        case STD_OUTPUT_HANDLE_ID: return std_handles[1];
        case STD_ERROR_HANDLE_ID: return std_handles[2];
        default: ADD_FAILURE() << "GetStdHandle with " << hex(which); return INVALID_HANDLE;
    }
}

bool FakePlatform::get_console_mode(Handle handle) {
    enter(Op::GetConsoleMode, hex(handle));
    return handle == std_handles[2] && stderr_is_console;
}

std::uint32_t FakePlatform::get_console_output_cp() {
    enter(Op::GetConsoleOutputCP, "");
    return console_output_cp;
}

BoolResult FakePlatform::write_console_w(Handle handle, std::u16string_view text_units) {
    if (auto code = enter(Op::WriteConsoleW, hex(handle))) return {false, *code};
    if (handle != std_handles[2]) ADD_FAILURE() << "WriteConsoleW to " << hex(handle);
    console_text.append(text_units);
    return {true, 0};
}

BoolResult FakePlatform::write_file(Handle handle, std::string_view bytes) {
    if (auto code = enter(Op::WriteFile, hex(handle))) return {false, *code};
    if (handle != std_handles[2]) ADD_FAILURE() << "WriteFile to " << hex(handle);
    stderr_bytes.append(bytes);
    return {true, 0};
}

void FakePlatform::exit_process(std::uint32_t status) {
    enter(Op::ExitProcess, std::to_string(status));
    throw FakeExit{status};
}

// ---- profile service and security ---------------------------------------------

std::uint32_t FakePlatform::create_app_container_profile(const char16_t* name,
                                                         const char16_t* display_name,
                                                         const char16_t* description, Sid* sid) {
    const std::string key = text(name);
    profile_names.push_back(name);
    EXPECT_EQ(*sid, nullptr);
    EXPECT_EQ(text(display_name), "ZUB Sandbox Lifecycle Child");
    EXPECT_EQ(text(description), "Sandbox container for npm-package lifecycle scripts spawned by zub");
    if (auto code = enter(Op::CreateAppContainerProfile, key)) return *code;
    if (profiles.count(key)) return HRESULT_ALREADY_EXISTS;
    profiles[key] = nullptr;
    *sid = allocate("sid");
    return 0;
}

std::uint32_t FakePlatform::derive_app_container_sid_from_app_container_name(const char16_t* name,
                                                                             Sid* sid) {
    const std::string key = text(name);
    profile_names.push_back(name);
    EXPECT_EQ(*sid, nullptr);
    if (auto code = enter(Op::DeriveAppContainerSidFromAppContainerName, key)) return *code;
    if (!profiles.count(key)) return 0x80070002;
    *sid = allocate("sid");
    return 0;
}

BoolResult FakePlatform::create_well_known_sid(std::uint32_t type, Sid domain_sid, void* buffer,
                                               std::uint32_t* size) {
    if (auto code = enter(Op::CreateWellKnownSid, std::to_string(type) + " size " + std::to_string(*size))) {
        return {false, *code};
    }
    EXPECT_EQ(domain_sid, nullptr);
    if (type != 85 || *size < 12) return {false, 87};
    // S-1-15-3-1: revision 1, one sub-authority, authority 15, sub-authority 3... as bytes.
    const unsigned char sid_bytes[12] = {1, 2, 0, 0, 0, 0, 0, 15, 3, 0, 0, 0};
    std::memcpy(buffer, sid_bytes, sizeof sid_bytes);
    *size = 12;
    return {true, 0};
}

// The fake's DACL in bytes: a header as the system's (its size covers the
// entries), then each entry as FakeAce holds it. A descriptor is
// its control, a null-DACL mark and the DACL, 8 bytes in.
constexpr std::size_t FAKE_ACE_BYTES = 16;
constexpr std::size_t FAKE_DESCRIPTOR_HEADER = 8;

std::size_t fake_acl_bytes(const std::vector<FakeAce>& entries) {
    return sizeof(AclHeader) + entries.size() * FAKE_ACE_BYTES;
}

void write_fake_acl(const std::vector<FakeAce>& entries, void* to) {
    auto* bytes = static_cast<unsigned char*>(to);
    const AclHeader header{2, 0, static_cast<std::uint16_t>(fake_acl_bytes(entries)),
                           static_cast<std::uint16_t>(entries.size()), 0};
    std::memcpy(bytes, &header, sizeof header);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::memcpy(bytes + sizeof header + i * FAKE_ACE_BYTES, &entries[i], FAKE_ACE_BYTES);
    }
}

std::vector<FakeAce> read_fake_acl(const void* from) {
    static_assert(sizeof(FakeAce) == FAKE_ACE_BYTES);
    AclHeader header{};
    std::memcpy(&header, from, sizeof header);
    std::vector<FakeAce> entries(header.entry_count);
    const auto* first = static_cast<const unsigned char*>(from) + sizeof header;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::memcpy(&entries[i], first + i * FAKE_ACE_BYTES, FAKE_ACE_BYTES);
    }
    return entries;
}

BoolResult FakePlatform::get_kernel_object_security(Handle object, std::uint32_t security_info,
                                                    void* buffer, std::uint32_t size,
                                                    std::uint32_t* needed) {
    const OsString path = object_path(object);
    if (auto code = enter(Op::GetKernelObjectSecurity, text(path.c_str()))) return {false, *code};
    EXPECT_EQ(security_info, 4u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 8, 0u) << "descriptor buffer not aligned";
    if (!(file_handles_.at(object).access & 0x00020000)) return {false, ERROR_ACCESS_DENIED_CODE};  // READ_CONTROL
    const FakeNode& node = files.at(path);
    *needed = static_cast<std::uint32_t>(FAKE_DESCRIPTOR_HEADER + fake_acl_bytes(node.dacl));
    if (*needed > size) return {false, ERROR_INSUFFICIENT_BUFFER_CODE};
    touched.push_back({"read", path});
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::memcpy(bytes, &node.dacl_control, sizeof node.dacl_control);
    bytes[2] = node.null_dacl ? 1 : 0;
    write_fake_acl(node.dacl, bytes + FAKE_DESCRIPTOR_HEADER);
    return {true, 0};
}

BoolResult FakePlatform::get_security_descriptor_dacl(SecurityDescriptor descriptor, bool* present,
                                                      Acl* dacl) {
    if (auto code = enter(Op::GetSecurityDescriptorDacl, "")) return {false, *code};
    std::uint16_t control = 0;
    std::memcpy(&control, descriptor, sizeof control);
    auto* bytes = reinterpret_cast<unsigned char*>(descriptor);
    *present = (control & 0x0004) != 0;  // SE_DACL_PRESENT
    *dacl = *present && bytes[2] == 0 ? reinterpret_cast<Acl>(bytes + FAKE_DESCRIPTOR_HEADER) : nullptr;
    return {true, 0};
}

std::uint32_t FakePlatform::set_entries_in_acl_w(std::uint32_t count, const ExplicitAccess* entries,
                                                 Acl old_acl, Acl* new_acl) {
    if (auto code = enter(Op::SetEntriesInAclW, std::to_string(count))) return *code;
    EXPECT_NE(old_acl, nullptr) << "a null DACL merged";
    std::vector<FakeAce> merged = read_fake_acl(old_acl);
    for (const ExplicitAccess& added : std::span(entries, count)) {
        // GRANT_ACCESS; a new entry goes before the inherited ones, as the system orders them.
        auto same = std::find_if(merged.begin(), merged.end(), [&](const FakeAce& ace) {
            return ace.sid == added.trustee.name && ace.flags == added.inheritance && !ace.deny;
        });
        if (same == merged.end()) {
            const auto inherited =
                std::find_if(merged.begin(), merged.end(), [](const FakeAce& ace) { return ace.flags & 0x10; });
            merged.insert(inherited, {added.trustee.name, added.access_permissions,
                                      static_cast<std::uint16_t>(added.inheritance)});
        } else {
            same->mask |= added.access_permissions;
        }
    }
    void* acl = allocate("acl", fake_acl_bytes(merged));
    write_fake_acl(merged, acl);
    acl_entries_[acl].assign(entries, entries + count);
    *new_acl = static_cast<Acl>(acl);
    return 0;
}

BoolResult FakePlatform::get_security_descriptor_control(SecurityDescriptor descriptor,
                                                          std::uint16_t* control) {
    if (auto code = enter(Op::GetSecurityDescriptorControl, "")) return {false, *code};
    std::memcpy(control, descriptor, sizeof *control);
    return {true, 0};
}

BoolResult FakePlatform::set_kernel_object_security(Handle object, std::uint32_t security_info,
                                                    const AbsoluteSecurityDescriptor* descriptor) {
    const OsString path = object_path(object);
    if (auto code = enter(Op::SetKernelObjectSecurity, text(path.c_str()))) return {false, *code};
    EXPECT_EQ(descriptor->revision, 1u);
    EXPECT_EQ(descriptor->owner, nullptr);
    EXPECT_EQ(descriptor->group, nullptr);
    EXPECT_EQ(descriptor->sacl, nullptr);
    EXPECT_TRUE(live_memory_.count(descriptor->dacl)) << "new ACL is not live";
    if (!(file_handles_.at(object).access & 0x00040000)) return {false, ERROR_ACCESS_DENIED_CODE};  // WRITE_DAC
    touched.push_back({"write", path});
    for (const ExplicitAccess& entry : acl_entries_[descriptor->dacl]) {
        grants.push_back({path, entry, security_info, descriptor->control});
    }
    FakeNode& node = files.at(path);
    node.dacl_control = descriptor->control;
    node.dacl = read_fake_acl(descriptor->dacl);
    ++dacl_writes;
    ++dacl_writes_if_propagated;
    if (node.attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) {
        // Everything below, as the propagation of SetSecurityInfo would reach it.
        const OsString below = path + u"\\";
        for (auto it = files.lower_bound(below); it != files.end() && it->first.compare(0, below.size(), below) == 0; ++it) {
            ++dacl_writes_if_propagated;
        }
    }
    return {true, 0};
}

HandleResult FakePlatform::create_grant_mutex() {
    if (auto code = enter(Op::CreateGrantMutex, "")) return {INVALID_HANDLE, *code};
    EXPECT_EQ(grant_mutex_, NO_HANDLE) << "the grant mutex made twice";
    grant_mutex_ = open_handle("grant-mutex");
    return {grant_mutex_, 0};
}

BoolResult FakePlatform::release_mutex(Handle mutex) {
    EXPECT_TRUE(mutex == grant_mutex_ && grant_mutex_held_) << "ReleaseMutex of a mutex not held";
    grant_mutex_held_ = false;
    if (auto code = enter(Op::ReleaseMutex, name_of(mutex))) return {false, *code};
    return {true, 0};
}

void FakePlatform::local_free(void* memory) { release(memory, Op::LocalFree); }
void FakePlatform::free_sid(Sid sid) { release(sid, Op::FreeSid); }

void FakePlatform::release(void* memory, Op operation) {
    const std::string name = name_of(memory);
    enter(operation, name);
    if (memory == nullptr) return;
    if (!live_memory_.count(memory)) {
        ADD_FAILURE() << operation << " of memory that is not live: " << name
                      << (freed_memory_.count(memory) ? " (released twice)" : "");
        return;
    }
    // The profile service's SIDs go back with FreeSid, all other security memory with LocalFree.
    if ((name.rfind("sid:", 0) == 0) != (operation == Op::FreeSid)) {
        ADD_FAILURE() << operation << " of " << name;
    }
    live_memory_.erase(memory);
    freed_memory_.insert(memory);
    acl_entries_.erase(memory);
}

// ---- files ----------------------------------------------------------------------

HandleResult FakePlatform::open_object(const OsString& path, std::uint32_t access) {
    const FakeNode& node = files.at(path);
    if (node.denied_access & access) return {INVALID_HANDLE, ERROR_ACCESS_DENIED_CODE};
    touched.push_back({"open", path});
    const Handle handle = open_handle("obj:" + to_utf8_lossy(path));
    file_handles_[handle] = {node.object, access};
    peak_file_handles = std::max(peak_file_handles, file_handles_.size());
    return {handle, 0};
}

OsString FakePlatform::object_path(Handle handle) const {
    auto it = file_handles_.find(handle);
    if (it == file_handles_.end()) {
        ADD_FAILURE() << "not an open file handle: " << name_of(handle);
        return {};
    }
    for (const auto& [path, node] : files) {
        if (node.object == it->second.object) return path;
    }
    return {};
}

HandleResult FakePlatform::open_relative(Handle directory, std::u16string_view name,
                                         std::uint32_t access) {
    const OsString parent = object_path(directory);
    // Literally: no trimming. An empty name is the directory's own object.
    const OsString path = name.empty() ? parent : parent + u"\\" + OsString(name);
    if (auto code = enter(Op::NtCreateFile, text(path.c_str()))) return {INVALID_HANDLE, *code};
    EXPECT_EQ(access & ~0x00160081u, 0u) << "only DACL, attribute, listing and wait rights";
    // An oplock held on the object does not hold the open up: it completes
    // while the break is in progress.
    // The handle's own object, whatever has become of its name since.
    if (name.empty()) return parent.empty() ? HandleResult{INVALID_HANDLE, ERROR_FILE_NOT_FOUND_CODE}
                                            : open_object(parent, access);
    if (name.find(u'\\') != std::u16string_view::npos) {
        // More than one component: the system follows links in all but the last.
        const std::optional<OsString> target = resolve(path, false);
        if (parent.empty() || !target) return {INVALID_HANDLE, ERROR_FILE_NOT_FOUND_CODE};
        return open_object(*target, access);
    }
    // The directory itself or its parent, which a walk that took them would
    // grant again, enter again or leave the tree by.
    if (name == u"." || name == u"..") {
        ADD_FAILURE() << "opened " << to_utf8_lossy(OsString(name)) << " in " << to_utf8_lossy(parent);
        return {INVALID_HANDLE, ERROR_FILE_NOT_FOUND_CODE};
    }
    auto it = files.find(path);
    if (parent.empty() || it == files.end()) return {INVALID_HANDLE, ERROR_FILE_NOT_FOUND_CODE};
    if (follows_links_like_wine && it->second.link_target) {
        const std::optional<OsString> target = resolve(path, true);
        if (!target) return {INVALID_HANDLE, ERROR_FILE_NOT_FOUND_CODE};
        return open_object(*target, access);
    }
    return open_object(path, access);
}

BoolResult FakePlatform::query_file_identity(Handle file, IdWidth, FileIdentity* identity) {
    const OsString path = object_path(file);
    if (auto code = enter(Op::QueryFileIdentity, text(path.c_str()))) return {false, *code};
    auto it = files.find(path);
    if (path.empty() || it == files.end()) return {false, ERROR_FILE_NOT_FOUND_CODE};
    identity->attributes = it->second.attributes;
    identity->file_id = it->second.file_id;
    return {true, 0};
}

std::unique_ptr<DirectoryListing> FakePlatform::open_directory_listing(Handle directory) {
    const OsString path = object_path(directory);
    if (enter(Op::GetFileInformationByHandleEx, text(path.c_str()))) return nullptr;
    if (!(file_handles_.at(directory).access & 0x1)) return nullptr;  // FILE_LIST_DIRECTORY
    auto it = files.find(path);
    if (path.empty() || it == files.end()) return std::make_unique<FakeListing>(std::vector<DirEntry>{});
    if (!(it->second.attributes & FILE_ATTRIBUTE_DIRECTORY_BIT)) return nullptr;
    // A walk that enters a directory again and again would never end.
    if (std::count(listed.begin(), listed.end(), path) >= 64) {
        ADD_FAILURE() << "listed over and over: " << to_utf8_lossy(path);
        return nullptr;
    }
    touched.push_back({"list", path});
    listed.push_back(path);
    // The whole directory in one batch, as the system's buffer usually holds it.
    std::vector<DirEntry> entries;
    // "." and "..", which the system's listing holds: the walk must pass over them.
    for (const OsString& dots : {path, parent_of(path)}) {
        const auto dir = files.find(dots);
        if (dir != files.end()) {
            entries.push_back({dots == path ? u"." : u"..", dir->second.attributes, dir->second.file_id});
        }
    }
    const OsString prefix = path + u"\\";
    for (const OsString& name : it->second.children) {
        // An empty name, as a hostile file system may list one, is the directory itself.
        auto child = files.find(name.empty() ? path : prefix + name);
        // A name of more than one component, as a hostile file system may list
        // one: what it leads to.
        if (child == files.end() && name.find(u'\\') != OsString::npos) {
            const std::optional<OsString> target = resolve(prefix + name, false);
            if (target) child = files.find(*target);
        }
        // Entries that vanished since they were added are not listed.
        if (child != files.end()) entries.push_back({name, child->second.attributes, child->second.file_id});
    }
    return std::make_unique<FakeListing>(std::move(entries));
}

std::optional<std::uint32_t> FakePlatform::attributes_from_directory_entry(const char16_t* path) {
    if (enter(Op::FindFirstFileExW, text(path))) return std::nullopt;
    const std::optional<OsString> found = resolve(path, false);
    if (!found) return std::nullopt;
    return files.at(*found).attributes;
}

// ---- processes, threads, jobs ---------------------------------------------------

BoolResult FakePlatform::initialize_proc_thread_attribute_list(void* list, std::uint32_t count,
                                                               std::uint32_t flags,
                                                               std::size_t* size) {
    auto code = enter(Op::InitializeProcThreadAttributeList,
                      (list ? "list " : "sizing ") + std::to_string(count));
    EXPECT_TRUE(count == 1 || count == 2) << count;
    EXPECT_EQ(flags, 0u);
    if (list == nullptr) {
        if (code) return {false, *code};
        *size = attribute_list_size * count;  // a list for more attributes needs more room
        return {false, ERROR_INSUFFICIENT_BUFFER_CODE};
    }
    if (code) return {false, *code};
    EXPECT_GE(*size, attribute_list_size * count);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(list) % 8, 0u);
    initialized_lists_.insert(list);
    attribute_count_ = count;
    return {true, 0};
}

BoolResult FakePlatform::update_proc_thread_attribute(void* list, std::uint32_t flags,
                                                      std::uintptr_t attribute, void* value,
                                                      std::size_t size) {
    if (auto code = enter(Op::UpdateProcThreadAttribute, hex(attribute))) return {false, *code};
    EXPECT_TRUE(initialized_lists_.count(list));
    EXPECT_EQ(flags, 0u);
    EXPECT_LT(attributes_.size(), attribute_count_) << "more attributes than the list was made for";
    attributes_.push_back(attribute);
    if (attribute == 0x00020002u) {
        handle_list_ = static_cast<const Handle*>(value);
        handle_list_size_ = size / sizeof(Handle);
        EXPECT_TRUE(size > 0 && size % sizeof(Handle) == 0) << size;
        // The system takes only open, distinct handles.
        const std::set<Handle> distinct(handle_list_, handle_list_ + handle_list_size_);
        EXPECT_EQ(distinct.size(), handle_list_size_) << "a handle listed twice";
        for (const Handle h : distinct) EXPECT_TRUE(open_handles_.count(h)) << hex(h);
        return {true, 0};
    }
    EXPECT_EQ(attribute, 0x00020009u);
    EXPECT_EQ(size, 24u);
    attribute_value_ = static_cast<const SecurityCapabilities*>(value);
    return {true, 0};
}

void FakePlatform::delete_proc_thread_attribute_list(void* list) {
    enter(Op::DeleteProcThreadAttributeList, "");
    if (!initialized_lists_.erase(list)) ADD_FAILURE() << "deleting an attribute list that is not initialised";
}

HandleResult FakePlatform::create_job_object_w() {
    if (auto code = enter(Op::CreateJobObjectW, "")) return {NO_HANDLE, *code};
    last_job = open_handle("job");
    return {last_job, 0};
}

BoolResult FakePlatform::set_information_job_object(Handle job, std::uint32_t info_class,
                                                    const JobExtendedLimitInformation* info,
                                                    std::uint32_t size) {
    if (auto code = enter(Op::SetInformationJobObject, name_of(job))) return {false, *code};
    EXPECT_EQ(info_class, 9u);
    EXPECT_EQ(size, 144u);
    job_limits = *info;
    return {true, 0};
}

BoolResult FakePlatform::create_process_w(char16_t* command_line_units, bool inherit_handles,
                                          std::uint32_t creation_flags,
                                          const char16_t* environment_block,
                                          const char16_t* current_directory,
                                          StartupInfoEx* startup_info,
                                          ProcessInformation* process_information) {
    if (auto code = enter(Op::CreateProcessW, text(command_line_units))) return {false, *code};
    RecordedCreateProcess record{};
    record.command_line = command_line_units;
    record.inherit_handles = inherit_handles;
    record.creation_flags = creation_flags;
    if (environment_block != nullptr) {
        std::size_t end = 0;
        while (!(environment_block[end] == 0 && environment_block[end + 1] == 0)) ++end;
        record.environment.assign(environment_block, end + 2);
    }
    if (current_directory != nullptr) record.current_directory = OsString(current_directory);
    record.startup_info = *startup_info;
    if (attribute_value_ != nullptr && initialized_lists_.count(startup_info->attribute_list)) {
        // Read through the list's pointers now: what they point to must still be alive.
        record.security_capabilities = *attribute_value_;
        for (std::uint32_t i = 0; i < attribute_value_->capability_count; ++i) {
            record.capability_entries.push_back(attribute_value_->capabilities[i]);
        }
        record.attribute_count = attribute_count_;
        record.attributes = attributes_;
        if (handle_list_ != nullptr) {
            record.handle_list.emplace(handle_list_, handle_list_ + handle_list_size_);
        }
    }
    created_process = std::move(record);
    process_information->process = open_handle("process");
    process_information->thread = open_handle("thread");
    process_information->process_id = 4242;
    process_information->thread_id = 4243;
    return {true, 0};
}

BoolResult FakePlatform::assign_process_to_job_object(Handle job, Handle process) {
    if (auto code = enter(Op::AssignProcessToJobObject, name_of(job) + " " + name_of(process))) {
        return {false, *code};
    }
    return {true, 0};
}

std::uint32_t FakePlatform::resume_thread(Handle thread, std::uint32_t* error) {
    if (auto code = enter(Op::ResumeThread, name_of(thread))) {
        *error = *code;
        return 0xFFFFFFFF;
    }
    return 1;
}

std::uint32_t FakePlatform::wait_for_single_object(Handle handle, std::uint32_t milliseconds) {
    if (auto code = enter(Op::WaitForSingleObject, name_of(handle) + " " + hex(milliseconds))) {
        return *code;
    }
    if (handle != NO_HANDLE && handle == grant_mutex_) {
        EXPECT_FALSE(grant_mutex_held_) << "the grant mutex waited for twice";
        grant_mutex_held_ = grant_mutex_wait_result == 0 || grant_mutex_wait_result == 0x80;
        return grant_mutex_wait_result;
    }
    return wait_result;
}

BoolResult FakePlatform::get_exit_code_process(Handle process, std::uint32_t* exit_code) {
    if (auto code = enter(Op::GetExitCodeProcess, name_of(process))) return {false, *code};
    *exit_code = child_exit_code;
    return {true, 0};
}

void FakePlatform::terminate_process(Handle process, std::uint32_t exit_code) {
    enter(Op::TerminateProcess, name_of(process) + " " + std::to_string(exit_code));
}

// ---- handles and NUL ------------------------------------------------------------

BoolResult FakePlatform::set_handle_information(Handle handle, std::uint32_t mask,
                                                std::uint32_t flags) {
    if (auto code = enter(Op::SetHandleInformation, name_of(handle))) return {false, *code};
    EXPECT_EQ(mask, 1u);
    handle_information.emplace_back(handle, flags);
    return {true, 0};
}

HandleResult FakePlatform::create_file_w(const char16_t* name, std::uint32_t access,
                                         std::uint32_t share_mode,
                                         const SecurityAttributes* security_attributes,
                                         std::uint32_t creation_disposition,
                                         std::uint32_t flags_and_attributes) {
    if (auto code = enter(Op::CreateFileW, text(name))) return {INVALID_HANDLE, *code};
    if (OsString(name) != u"NUL") {
        EXPECT_EQ(security_attributes, nullptr);
        EXPECT_EQ(share_mode, 7u);
        EXPECT_EQ(creation_disposition, 3u);
        const bool no_follow = (flags_and_attributes & 0x00200000) != 0;
        const std::optional<OsString> path = resolve(name, !no_follow || follows_links_like_wine);
        if (!path) return {INVALID_HANDLE, ERROR_FILE_NOT_FOUND_CODE};
        // Only attributes and SYNCHRONIZE leave an oplock unbroken; anything
        // more would wait, without a time limit, for its holder.
        if (files.at(*path).oplocked && (access & ~0x00100080u) != 0) {
            ADD_FAILURE() << "CreateFileW would wait for an oplock break on " << text(name);
            return {INVALID_HANDLE, 0xFFFFFFFF};
        }
        return open_object(*path, access);
    }
    created_files.push_back({name, access, share_mode,
                             security_attributes ? *security_attributes : SecurityAttributes{},
                             creation_disposition, flags_and_attributes});
    return {open_handle("nul:" + std::to_string(created_files.size())), 0};
}

bool FakePlatform::close_handle(Handle handle) {
    const std::string name = name_of(handle);
    enter(Op::CloseHandle, name);
    if (!is_closable_handle(handle)) {
        ADD_FAILURE() << "CloseHandle of " << hex(handle);
        return false;
    }
    auto it = open_handles_.find(handle);
    if (it == open_handles_.end()) {
        ADD_FAILURE() << "CloseHandle of a handle that is not open: " << name
                      << (closed_handles_.count(handle) ? " (closed twice)" : "");
        return false;
    }
    if (it->second == "helper-std") ADD_FAILURE() << "closed the helper's own standard handle " << name;
    if (handle == grant_mutex_) {
        // Closed while held, the mutex would be left abandoned to the next helper.
        EXPECT_FALSE(grant_mutex_held_) << "the grant mutex closed while held";
        grant_mutex_ = NO_HANDLE;
    }
    open_handles_.erase(it);
    closed_handles_.insert(handle);
    file_handles_.erase(handle);
    return true;
}

// ---- environment ----------------------------------------------------------------

const char16_t* FakePlatform::get_environment_strings_w(std::uint32_t* error) {
    auto code = enter(Op::GetEnvironmentStringsW, "");
    if (code || !environment) {
        *error = code ? *code : environment_error;
        return nullptr;
    }
    environment_copy_ = *environment;
    environment_live_ = true;
    return environment_copy_.c_str();
}

void FakePlatform::free_environment_strings_w(const char16_t* block) {
    enter(Op::FreeEnvironmentStringsW, "");
    if (!environment_live_ || block != environment_copy_.c_str()) {
        ADD_FAILURE() << "FreeEnvironmentStringsW of a block that is not live";
    }
    environment_live_ = false;
}

std::string FakePlatform::format_message(std::uint32_t code) {
    enter(Op::FormatMessageW, std::to_string(code));
    if (code & CUSTOMER_CODE_BIT) return "";  // the system has no text for these
    if (code == 8) return "Not enough memory resources are available to process this command.";
    return "System error " + std::to_string(code) + ".";
}

}  // namespace zub::test
