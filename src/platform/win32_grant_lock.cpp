// The session's grant mutex. A name in the session's namespace, which
// AppContainer processes do not share (theirs is per container); made with a
// descriptor that admits this user alone, at medium integrity or above, so no
// confined or lower-integrity process can open it, wait on it and hold it.
// A lower-integrity process can still make the name first: an existing mutex
// is trusted only when it carries exactly the descriptor made here, this
// user as its owner included (an owner may rewrite the DACL at any time).
#include <windows.h>

#include <aclapi.h>

#include <cstddef>
#include <vector>

#include "platform/win32_cast.h"
#include "platform/win32_platform.h"

namespace zub {
namespace {

// The backend's own tests build it with a name of their own, so that a squat
// they make never meets a helper run by another test.
#ifndef ZUB_GRANT_MUTEX_PREFIX
#define ZUB_GRANT_MUTEX_PREFIX L"zub-sandbox-helper"
#endif
constexpr wchar_t GRANT_MUTEX_NAME[] = L"Local\\" ZUB_GRANT_MUTEX_PREFIX L".grants";
constexpr DWORD LABEL_POLICY =
    SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP | SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP;

// The SIDs the descriptor names: the token's user, and the medium integrity label.
struct DescriptorSids {
    std::vector<BYTE> token_user;
    BYTE medium_label[SECURITY_MAX_SID_SIZE];

    PSID user() { return reinterpret_cast<TOKEN_USER*>(token_user.data())->User.Sid; }
};

bool read_sids(DescriptorSids& sids) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    sids.token_user.resize(size);
    const BOOL read = size != 0 && GetTokenInformation(token, TokenUser, sids.token_user.data(), size, &size);
    CloseHandle(token);
    DWORD label_size = sizeof sids.medium_label;
    return read && CreateWellKnownSid(WinMediumLabelSid, nullptr, sids.medium_label, &label_size);
}

// The user as owner, one allow entry for the user, one mandatory label entry:
// the whole descriptor.
struct MutexDescriptor {
    alignas(DWORD) BYTE dacl[128];
    alignas(DWORD) BYTE sacl[128];
    SECURITY_DESCRIPTOR descriptor;
};

bool build_descriptor(MutexDescriptor& made, DescriptorSids& sids) {
    auto* dacl = reinterpret_cast<PACL>(made.dacl);
    auto* sacl = reinterpret_cast<PACL>(made.sacl);
    return InitializeAcl(dacl, sizeof made.dacl, ACL_REVISION) &&
           AddAccessAllowedAce(dacl, ACL_REVISION, MUTANT_ALL_ACCESS, sids.user()) &&
           InitializeAcl(sacl, sizeof made.sacl, ACL_REVISION) &&
           AddMandatoryAce(sacl, ACL_REVISION, 0, LABEL_POLICY, sids.medium_label) &&
           InitializeSecurityDescriptor(&made.descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorOwner(&made.descriptor, sids.user(), FALSE) &&
           SetSecurityDescriptorDacl(&made.descriptor, TRUE, dacl, FALSE) &&
           SetSecurityDescriptorSacl(&made.descriptor, TRUE, sacl, FALSE);
}

// The ACL holds exactly one entry, of `type`, with `mask`, for `sid`.
bool holds_only(PACL acl, BYTE type, ACCESS_MASK mask, PSID sid) {
    void* ace = nullptr;
    if (acl == nullptr || acl->AceCount != 1 || !GetAce(acl, 0, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    // Allow and mandatory label entries share one layout: header, mask, SID.
    const auto* entry = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    return header->AceType == type && entry->Mask == mask &&
           EqualSid(const_cast<DWORD*>(&entry->SidStart), sid);
}

bool is_trusted(HANDLE mutex, DescriptorSids& sids) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PACL sacl = nullptr;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                        &owner, nullptr, &dacl, &sacl, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool trusted = owner != nullptr && EqualSid(owner, sids.user()) &&
                         holds_only(dacl, ACCESS_ALLOWED_ACE_TYPE, MUTANT_ALL_ACCESS, sids.user()) &&
                         holds_only(sacl, SYSTEM_MANDATORY_LABEL_ACE_TYPE, LABEL_POLICY, sids.medium_label);
    LocalFree(descriptor);
    return trusted;
}

}  // namespace

HandleResult Win32Platform::create_grant_mutex() {
    DescriptorSids sids;
    MutexDescriptor made{};
    if (!read_sids(sids) || !build_descriptor(made, sids)) {
        return {INVALID_HANDLE, static_cast<std::uint32_t>(GetLastError())};
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &made.descriptor, FALSE};
    const HANDLE mutex = CreateMutexW(&attributes, FALSE, GRANT_MUTEX_NAME);
    if (mutex == nullptr) return {INVALID_HANDLE, static_cast<std::uint32_t>(GetLastError())};
    if (GetLastError() == ERROR_ALREADY_EXISTS && !is_trusted(mutex, sids)) {
        CloseHandle(mutex);
        return {INVALID_HANDLE, ERROR_ACCESS_DENIED};
    }
    return {win32::from_win(mutex), 0};
}

BoolResult Win32Platform::release_mutex(Handle mutex) {
    return win32::bool_result(ReleaseMutex(win32::to_win(mutex)));
}

}  // namespace zub
