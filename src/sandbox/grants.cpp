#include "sandbox/grants.h"

#include <vector>

#include "platform/path_join.h"

namespace zub {
namespace {

// Owns memory that the security functions handed out; LocalFree once, if any.
template <class T>
class LocalMemory {
public:
    explicit LocalMemory(Platform& platform) : platform_(platform) {}
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;
    ~LocalMemory() {
        if (value != nullptr) platform_.local_free(value);
    }

    T value = nullptr;

private:
    Platform& platform_;
};

ExplicitAccess access_entry(Sid sid, std::uint32_t access_mask) {
    ExplicitAccess entry{};
    entry.access_permissions = access_mask;
    entry.access_mode = GRANT_ACCESS_MODE;
    entry.inheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entry.trustee.multiple_trustee = nullptr;
    entry.trustee.multiple_trustee_operation = NO_MULTIPLE_TRUSTEE_OPERATION;
    entry.trustee.trustee_form = TRUSTEE_IS_SID_FORM;
    entry.trustee.trustee_type = TRUSTEE_IS_GROUP_TYPE;
    entry.trustee.name = sid;
    return entry;
}

// A directory still to be listed: its parent's path is the first
// `parent_length` units of the walk's path buffer, and its name is the tail of
// the pending-name buffer from `name_offset` on. Both buffers shrink and grow
// in stack order, so the walk holds one path, not one per pending directory.
struct PendingDirectory {
    std::size_t parent_length;
    std::size_t name_offset;
};

// Depth first with an explicit stack: the depth of the tree costs memory, never
// call depth. Nothing below the root can fail the walk.
void grant_tree(Platform& platform, const OsString& root, Sid sid, std::uint32_t access_mask) {
    OsString path = root;  // the directory being listed, then each of its entries in turn
    OsString pending_names;
    std::vector<PendingDirectory> stack;
    DirEntry entry;
    for (;;) {
        const std::size_t directory_length = path.size();
        if (auto listing = platform.open_directory_listing(path.c_str())) {
            while (listing->next(entry)) {
                // A link is neither granted nor entered: its target may lie outside the tree.
                if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT) continue;
                path.resize(directory_length);
                append_path_component(path, entry.name);
                (void)grant_path_access(platform, path, sid, access_mask);
                // Entered even when its own grant failed: its contents may still be grantable.
                if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) {
                    stack.push_back({directory_length, pending_names.size()});
                    pending_names.append(entry.name);
                }
            }
        }
        if (stack.empty()) return;
        const PendingDirectory next = stack.back();
        stack.pop_back();
        path.resize(next.parent_length);
        append_path_component(path, OsStringView(pending_names).substr(next.name_offset));
        pending_names.resize(next.name_offset);
    }
}

}  // namespace

Status<SandboxError> grant_path_access(Platform& platform, const OsString& path, Sid sid,
                                       std::uint32_t access_mask) {
    // c_str() is exactly the path's units followed by one NUL unit.
    const char16_t* const wide_path = path.c_str();

    // Declared in this order so the new ACL is released before the descriptor.
    LocalMemory<SecurityDescriptor> descriptor(platform);
    Acl old_dacl = nullptr;  // points into the descriptor; never released by itself
    std::uint32_t code = platform.get_named_security_info_w(
        wide_path, SE_FILE_OBJECT_TYPE, DACL_SECURITY_INFORMATION_FLAG, &old_dacl, &descriptor.value);
    if (code != 0) return SandboxError{sandbox_error::GetNamedSecurityInfoW{path, code}};

    const ExplicitAccess entry = access_entry(sid, access_mask);
    LocalMemory<Acl> new_dacl(platform);
    code = platform.set_entries_in_acl_w(1, &entry, old_dacl, &new_dacl.value);
    if (code != 0) return SandboxError{sandbox_error::SetEntriesInAclW{path, code}};

    code = platform.set_named_security_info_w(wide_path, SE_FILE_OBJECT_TYPE, DACL_WRITE_FLAGS,
                                              new_dacl.value);
    if (code != 0) return SandboxError{sandbox_error::SetNamedSecurityInfoW{path, code}};
    return Ok{};
}

Status<SandboxError> grant_allow_set_root(Platform& platform, const OsString& root, Sid sid,
                                          std::uint32_t access_mask, bool best_effort) {
    // A path with a NUL unit has no system form, so its attributes cannot be read.
    if (root.find(u'\0') != OsString::npos) return Ok{};
    const std::optional<std::uint32_t> attributes = platform.query_attributes_no_follow(root.c_str());
    if (!attributes) return Ok{};  // missing or unreadable roots are skipped on every list

    // A grant on a reparse point would land on its target, possibly outside the named tree.
    if (*attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT) {
        if (best_effort) return Ok{};
        return SandboxError{sandbox_error::ReparsePoint{root}};
    }

    Status<SandboxError> granted = grant_path_access(platform, root, sid, access_mask);
    if (!granted) {
        if (best_effort) return Ok{};  // and nothing below it is touched
        return granted;
    }
    if (*attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) grant_tree(platform, root, sid, access_mask);
    return Ok{};
}

}  // namespace zub
