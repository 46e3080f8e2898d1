#include "sandbox/grants.h"

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
    entry.inheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
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

// Adds the allow entry to the DACL of the open `object`.
std::optional<GrantFault> grant_object_access(Security& security, Handle object,
                                              const ExplicitAccess& entry) {
    // Declared in this order so the new ACL is released before the descriptor.
    SecurityDescriptor raw_descriptor = nullptr;
    Acl old_dacl = nullptr;  // points into the descriptor; never released by itself
    std::uint32_t code = security.get_security_info(object, SE_FILE_OBJECT_TYPE,
                                                    DACL_SECURITY_INFORMATION_FLAG, &old_dacl,
                                                    &raw_descriptor);
    const LocalMemory<SecurityDescriptor> descriptor(security, raw_descriptor);
    if (code != 0) return GrantFault{GrantFault::Step::Read, code};

    Acl raw_new_dacl = nullptr;
    code = security.set_entries_in_acl_w(1, &entry, old_dacl, &raw_new_dacl);
    const LocalMemory<Acl> new_dacl(security, raw_new_dacl);
    if (code != 0) return GrantFault{GrantFault::Step::Merge, code};

    code = security.set_security_info(object, SE_FILE_OBJECT_TYPE, DACL_WRITE_FLAGS, new_dacl.get());
    if (code != 0) return GrantFault{GrantFault::Step::Write, code};
    return std::nullopt;
}

bool may_retry_with_fewer_rights(std::uint32_t error) {
    return error == ERROR_ACCESS_DENIED_CODE || error == ERROR_SHARING_VIOLATION_CODE;
}

// Opens an object, first with every right the grant and the walk need, then
// without the listing right (which alone can meet a sharing violation, or be
// refused to an owner who may still write the DACL), then with reading rights
// only, so that a DACL that cannot be written still fails at its write, and a
// directory whose DACL cannot be written is still entered.
template <class Open>
HandleResult open_for_grant(Open open, bool may_list) {
    const std::uint32_t list = may_list ? FILE_LIST_DIRECTORY_RIGHT : 0;
    const std::uint32_t attempts[] = {DACL_WRITE_RIGHTS | list, DACL_WRITE_RIGHTS,
                                      DACL_READ_RIGHTS | list};
    HandleResult opened{INVALID_HANDLE, 0};
    std::uint32_t previous = 0;
    for (const std::uint32_t access : attempts) {
        if (access == previous) continue;
        previous = access;
        opened = open(access);
        if (is_closable_handle(opened.handle)) return opened;
        if (!may_retry_with_fewer_rights(opened.error)) return opened;
    }
    return opened;
}

// A listed name that the relative open takes as one component of this very
// directory. The system never lists others; a hostile file system might.
bool is_plain_entry_name(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    return name.find_first_of(std::u16string_view(u"\\/\0", 3)) == std::u16string_view::npos;
}

// Opens one listed entry relative to its directory and checks that the handle
// holds what was listed: no reparse point (a link made in place since the
// listing) and the same file ID (a different object under the same name).
UniqueHandle open_listed_entry(Files& files, Handle directory, const DirEntry& entry,
                               FileIdentity& identity) {
    const bool listed_as_directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) != 0;
    const HandleResult opened = open_for_grant(
        [&](std::uint32_t access) { return files.open_relative(directory, entry.name, access); },
        listed_as_directory);
    UniqueHandle object(files, opened.handle);
    if (!object) return {};
    if (!files.query_file_identity(object.get(), &identity).ok) return {};
    if (identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT) return {};
    if (identity.file_id != entry.file_id) return {};
    return object;
}

// Depth first with an explicit stack of open directory handles: the depth of
// the tree costs memory, never call depth, and a pending directory is never
// looked up again by name. Nothing below the root can fail the walk.
void grant_tree(Files& files, Security& security, UniqueHandle root, const ExplicitAccess& entry) {
    std::vector<UniqueHandle> pending;
    pending.push_back(std::move(root));
    DirEntry listed;
    FileIdentity identity{};
    while (!pending.empty()) {
        const UniqueHandle directory = std::move(pending.back());
        pending.pop_back();
        const std::unique_ptr<DirectoryListing> listing = files.open_directory_listing(directory.get());
        if (!listing) continue;
        while (listing->next(listed)) {
            // A link is neither granted nor entered: its target may lie outside the tree.
            if (listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT) continue;
            if (!is_plain_entry_name(listed.name)) continue;
            UniqueHandle object = open_listed_entry(files, directory.get(), listed, identity);
            if (!object) continue;
            (void)grant_object_access(security, object.get(), entry);
            // Entered even when its own grant failed: its contents may still be grantable.
            if (identity.attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) pending.push_back(std::move(object));
        }
    }
}

}  // namespace

Status<SandboxError> grant_allow_set_root(Files& files, Security& security, const OsString& root,
                                          Sid sid, std::uint32_t access_mask, bool best_effort) {
    // A path with a NUL unit has no system form, so it cannot be opened.
    if (root.find(u'\0') != OsString::npos) return Ok{};
    const HandleResult opened = open_for_grant(
        [&](std::uint32_t access) {
            return files.create_file_w(root.c_str(), access, FILE_SHARE_ALL, nullptr,
                                          OPEN_EXISTING_DISPOSITION, OPEN_NO_FOLLOW_FLAGS);
        },
        true);
    UniqueHandle object(files, opened.handle);

    std::uint32_t attributes = 0;
    FileIdentity identity{};
    if (object) {
        // Attributes that cannot be read skip the root, as a missing one.
        if (!files.query_file_identity(object.get(), &identity).ok) return Ok{};
        attributes = identity.attributes;
    } else {
        // In use or refused: the directory entry still shows what the path is.
        if (!may_retry_with_fewer_rights(opened.error)) return Ok{};  // missing, or no such path
        const std::optional<std::uint32_t> listed = files.attributes_from_directory_entry(root.c_str());
        if (!listed) return Ok{};
        attributes = *listed;
    }

    // A grant on a reparse point would land on its target, possibly outside the named tree.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT_BIT) {
        if (best_effort) return Ok{};
        return SandboxError{sandbox_error::ReparsePoint{root}};
    }
    if (!object) {
        // Its DACL cannot be read without a handle.
        if (best_effort) return Ok{};
        return SandboxError{sandbox_error::GetNamedSecurityInfoW{root, opened.error}};
    }

    // One entry for the root and every object below it.
    const ExplicitAccess entry = access_entry(sid, access_mask);
    if (const auto fault = grant_object_access(security, object.get(), entry)) {
        if (best_effort) return Ok{};  // and nothing below it is touched
        return grant_error(*fault, root);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY_BIT) {
        // The walk takes the root's handle over, so it is listed through it.
        grant_tree(files, security, std::move(object), entry);
    }
    return Ok{};
}

}  // namespace zub
