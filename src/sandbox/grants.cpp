#include "sandbox/grants.h"

#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "platform/owned.h"

namespace zub {
namespace {

// Which of the three DACL steps failed on an object, with the Win32 error.
struct GrantFault {
    enum class Step { Read, Merge, Write } step;
    std::uint32_t code;
};

ExplicitAccess access_entry(Sid sid, std::uint32_t access_mask) {
    ExplicitAccess entry{};
    entry.access_permissions = access_mask;
    entry.access_mode = GRANT_ACCESS_MODE;
    entry.inheritance = INHERIT_TO_CONTAINERS_AND_OBJECTS;
    entry.trustee.multiple_trustee = nullptr;
    entry.trustee.multiple_trustee_operation = NO_MULTIPLE_TRUSTEE_OPERATION;
    entry.trustee.trustee_form = TRUSTEE_IS_SID_FORM;
    entry.trustee.trustee_type = TRUSTEE_IS_GROUP_TYPE;
    entry.trustee.name = sid;
    return entry;
}

// The failure a root reports for a fault, named after the path-based call
// that the parent knows.
SandboxError grant_error(const GrantFault& fault, const OsString& path) {
    switch (fault.step) {
        case GrantFault::Step::Read: return sandbox_error::GetNamedSecurityInfoW{path, fault.code};
        case GrantFault::Step::Merge: return sandbox_error::SetEntriesInAclW{path, fault.code};
        case GrantFault::Step::Write: break;
    }
    return sandbox_error::SetNamedSecurityInfoW{path, fault.code};
}

// One read, at most one write per object: the DACL is read into a buffer
// that the whole walk reuses (grown to the largest descriptor met), so no
// object costs an allocation, and a DACL that already holds the entry is
// left as it is.
class DaclGrant {
public:
    DaclGrant(Security& security, const ExplicitAccess& entry) : security_(security), entry_(entry) {}

    // Adds the allow entry to the DACL of the open `object` and writes it back
    // through the same handle, for this object alone: the system's propagation
    // to existing objects below would be a second walk, one that costs the sum
    // of all subtree sizes and is not bound by this walk's checks.
    std::optional<GrantFault> apply(Handle object);

private:
    static constexpr std::size_t FIRST_BUFFER_BYTES = 1024;

    // The error of the read, 0 once the descriptor is in the buffer.
    std::uint32_t read_descriptor(Handle object);
    SecurityDescriptor descriptor() { return reinterpret_cast<SecurityDescriptor>(buffer_.data()); }

    Security& security_;
    const ExplicitAccess entry_;
    std::vector<std::uint64_t> buffer_ = std::vector<std::uint64_t>(FIRST_BUFFER_BYTES / 8);  // aligned
};

std::uint32_t DaclGrant::read_descriptor(Handle object) {
    for (;;) {
        const auto size = static_cast<std::uint32_t>(buffer_.size() * sizeof(std::uint64_t));
        std::uint32_t needed = 0;
        const BoolResult read = security_.get_kernel_object_security(object, DACL_SECURITY_INFORMATION_FLAG,
                                                                     buffer_.data(), size, &needed);
        if (read.ok) return 0;
        // Grown as long as the descriptor grows: it may change between two reads.
        if (read.error != ERROR_INSUFFICIENT_BUFFER_CODE || needed <= size) return read.error;
        buffer_.resize((std::size_t{needed} + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    }
}

// Byte for byte, as far as each list's header says it reaches.
bool same_acl(Acl first, Acl second) {
    AclHeader first_header{};
    AclHeader second_header{};
    std::memcpy(&first_header, first, sizeof first_header);
    std::memcpy(&second_header, second, sizeof second_header);
    return first_header.size == second_header.size && std::memcmp(first, second, first_header.size) == 0;
}

std::optional<GrantFault> DaclGrant::apply(Handle object) {
    if (const std::uint32_t code = read_descriptor(object)) return GrantFault{GrantFault::Step::Read, code};
    std::uint16_t control = 0;
    const BoolResult read_control = security_.get_security_descriptor_control(descriptor(), &control);
    if (!read_control.ok) return GrantFault{GrantFault::Step::Read, read_control.error};
    bool present = false;
    Acl old_dacl = nullptr;  // points into the buffer
    const BoolResult read_dacl = security_.get_security_descriptor_dacl(descriptor(), &present, &old_dacl);
    if (!read_dacl.ok) return GrantFault{GrantFault::Step::Read, read_dacl.error};
    // No DACL, or a null one, lets everyone in. Merged, it would become a list
    // of the container's entry alone, locking the user, the system and
    // everyone else out, and on a directory everything made in it later would
    // inherit that list. So it is left as it is.
    if (!present || old_dacl == nullptr) return std::nullopt;

    Acl raw_new_dacl = nullptr;
    const std::uint32_t code = security_.set_entries_in_acl_w(1, &entry_, old_dacl, &raw_new_dacl);
    const LocalMemory<Acl> new_dacl(security_, raw_new_dacl);
    if (code != 0) return GrantFault{GrantFault::Step::Merge, code};
    // The entry was there and the object inherits: a write would change nothing.
    if ((control & SE_DACL_PROTECTED_BIT) == 0 && same_acl(new_dacl.get(), old_dacl)) return std::nullopt;

    // Not protected: the object inherits from its parent again. Its inherited
    // entries keep their mark, so a later propagation from above replaces them.
    AbsoluteSecurityDescriptor written{};
    written.revision = SECURITY_DESCRIPTOR_REVISION_1;
    written.control =
        static_cast<std::uint16_t>(SE_DACL_PRESENT_BIT | (control & SE_DACL_AUTO_INHERITED_BIT));
    written.dacl = new_dacl.get();
    const BoolResult set = security_.set_kernel_object_security(object, DACL_SECURITY_INFORMATION_FLAG, &written);
    if (!set.ok) return GrantFault{GrantFault::Step::Write, set.error};
    return std::nullopt;
}

bool may_retry_with_fewer_rights(std::uint32_t error) {
    return error == ERROR_ACCESS_DENIED_CODE || error == ERROR_SHARING_VIOLATION_CODE;
}

// Opens an object with the rights its grant needs and `extra` (the listing
// right, which alone can meet a sharing violation or a refusal), then without
// `extra`, then with reading rights only, so that a DACL that cannot be
// written still fails at its write.
template <class Open>
HandleResult open_for_grant(Open open, std::uint32_t extra = 0) {
    const auto retry = [](const HandleResult& opened) {
        return !is_closable_handle(opened.handle) && may_retry_with_fewer_rights(opened.error);
    };
    HandleResult opened = open(DACL_WRITE_RIGHTS | extra);
    if (extra != 0 && retry(opened)) opened = open(DACL_WRITE_RIGHTS);
    return retry(opened) ? open(DACL_READ_RIGHTS) : opened;
}

// A listed name that the relative open takes as one component of this very
// directory. The system never lists others; a hostile file system might.
bool is_plain_entry_name(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    return name.find_first_of(std::u16string_view(u"\\/\0", 3)) == std::u16string_view::npos;
}

// Checks that an object opened by name is the one expected: no reparse point
// (a link made in place since it was listed) and the same, known file ID (not
// another object under the same name).
UniqueHandle checked(Files& files, UniqueHandle object, const FileId& expected, IdWidth width,
                     FileIdentity& identity) {
    if (!object) return {};
    if (!files.query_file_identity(object.get(), width, &identity).ok) return {};
    if (identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT) return {};
    if (!identity.file_id.same_object_as(expected)) return {};
    return object;
}

// A directory met in a listing and granted, waiting for its contents' turn:
// where its parent stands on the path of open directories, its name and its
// identity. It holds no handle of its own.
struct PendingDirectory {
    std::size_t parent;
    OsString name;
    FileId file_id;
    IdWidth id_width;
};

// Depth first, so the pending directories are a stack, and the parent of the
// one on top is always on the current path: the open handles are that path,
// and grow with the depth of the tree, never with the width of a directory.
struct WalkState {
    std::vector<UniqueHandle> path;  // directories some pending directory lies in
    std::deque<PendingDirectory> pending;
};

// Grants every entry of `directory` in listing order; each subdirectory is
// added to the pending stack once granted (also when its grant failed: its
// contents may still be grantable), as lying in the directory that will
// stand at `parent` on the path.
void grant_entries(Files& files, DaclGrant& grant, Handle directory, std::size_t parent,
                   std::deque<PendingDirectory>& pending) {
    const std::unique_ptr<DirectoryListing> listing = files.open_directory_listing(directory);
    if (!listing) return;
    DirEntry listed;
    FileIdentity identity{};
    while (listing->next(listed)) {
        // A link is neither granted nor entered: its target may lie outside the tree.
        if (listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT) continue;
        if (!is_plain_entry_name(listed.name)) continue;
        const HandleResult opened = open_for_grant(
            [&](std::uint32_t access) { return files.open_relative(directory, listed.name, access); });
        const UniqueHandle object =
            checked(files, UniqueHandle(files, opened.handle), listed.file_id, listed.id_width, identity);
        if (!object) continue;
        (void)grant.apply(object.get());
        if (identity.attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) {
            pending.push_back({parent, listed.name, identity.file_id, listed.id_width});
        }
    }
}

// The next pending directory that still is what was granted, opened again
// relative to its parent for listing; none when no directory is left.
UniqueHandle reopen_next(Files& files, WalkState& walk) {
    FileIdentity identity{};
    while (!walk.pending.empty()) {
        const PendingDirectory next = std::move(walk.pending.back());
        walk.pending.pop_back();
        // Directories past its parent have nothing pending any more.
        walk.path.resize(next.parent + 1);
        const HandleResult opened =
            files.open_relative(walk.path.back().get(), next.name, DIRECTORY_LIST_RIGHTS);
        UniqueHandle directory =
            checked(files, UniqueHandle(files, opened.handle), next.file_id, next.id_width, identity);
        // Its parent's last pending directory: the parent is done with.
        if (walk.pending.empty() || walk.pending.back().parent != next.parent) walk.path.pop_back();
        if (directory && (identity.attributes & FILE_ATTRIBUTE_DIRECTORY_BIT)) return directory;
    }
    walk.path.clear();
    return {};
}

// Every object granted before its contents: the order of grants is the
// listing order, the directory listed next the last one found. Nothing below
// the root can fail the walk.
void grant_tree(Files& files, DaclGrant& grant, UniqueHandle root) {
    WalkState walk;
    for (UniqueHandle directory = std::move(root); directory; directory = reopen_next(files, walk)) {
        const std::size_t pending_before = walk.pending.size();
        grant_entries(files, grant, directory.get(), walk.path.size(), walk.pending);
        // Kept open only while a directory found in it waits for its turn.
        if (walk.pending.size() > pending_before) walk.path.push_back(std::move(directory));
    }
}

}  // namespace

Status<SandboxError> grant_allow_set_root(Files& files, Security& security, const OsString& root,
                                          Sid sid, std::uint32_t access_mask, bool best_effort) {
    // A path with a NUL unit has no system form, so it cannot be opened.
    if (root.find(u'\0') != OsString::npos) return Ok{};
    // Attributes and SYNCHRONIZE only: such an open breaks no oplock, meets no
    // sharing check, and keeps the path's Win32 meaning (the system converts it).
    const HandleResult located = files.create_file_w(root.c_str(), LOCATE_RIGHTS, FILE_SHARE_ALL, nullptr,
                                                     OPEN_EXISTING_DISPOSITION, OPEN_NO_FOLLOW_FLAGS);
    UniqueHandle located_root(files, located.handle);

    std::uint32_t attributes = 0;
    if (located_root) {
        // Attributes that cannot be read skip the root, as a missing one.
        FileIdentity identity{};
        // Its ID is never compared: the narrow query is enough.
        if (!files.query_file_identity(located_root.get(), IdWidth::Bits64, &identity).ok) return Ok{};
        attributes = identity.attributes;
    } else {
        // In use or refused: the directory entry still shows what the path is.
        if (!may_retry_with_fewer_rights(located.error)) return Ok{};  // missing, or no such path
        const std::optional<std::uint32_t> listed = files.attributes_from_directory_entry(root.c_str());
        if (!listed) return Ok{};
        attributes = *listed;
    }

    // A grant on a reparse point would land on its target, possibly outside the named tree.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT) {
        if (best_effort) return Ok{};
        return SandboxError{sandbox_error::ReparsePoint{root}};
    }
    // The same object again, with the rights of the grant and the listing:
    // relative to the first handle, so nothing is resolved by name twice.
    HandleResult opened{INVALID_HANDLE, located.error};
    if (located_root) {
        opened = open_for_grant(
            [&](std::uint32_t access) { return files.open_relative(located_root.get(), u"", access); },
            FILE_LIST_DIRECTORY_RIGHT);
        located_root.reset();
    }
    UniqueHandle object(files, opened.handle);
    if (!object) {
        // Its DACL cannot be read without a handle.
        if (best_effort) return Ok{};
        return SandboxError{sandbox_error::GetNamedSecurityInfoW{root, opened.error}};
    }

    // One entry for the root and every object below it.
    DaclGrant grant(security, access_entry(sid, access_mask));
    if (const auto fault = grant.apply(object.get())) {
        if (best_effort) return Ok{};  // and nothing below it is touched
        return grant_error(*fault, root);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) {
        // The walk takes the root's handle over, so it is listed through it.
        grant_tree(files, grant, std::move(object));
    }
    return Ok{};
}

}  // namespace zub
