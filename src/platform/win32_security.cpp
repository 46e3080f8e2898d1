// AppContainer profile service, well-known SIDs, file DACLs read and written by handle,
// LocalFree and FreeSid.
#include <windows.h>

#include <aclapi.h>
#include <userenv.h>

#include <cstddef>

#include "platform/win32_cast.h"
#include "platform/win32_descriptor_read.h"
#include "platform/win32_platform.h"

namespace zub {
namespace {

// The portable records are handed to the system as they are.
static_assert(sizeof(SidAndAttributes) == sizeof(SID_AND_ATTRIBUTES));
static_assert(offsetof(SidAndAttributes, sid) == offsetof(SID_AND_ATTRIBUTES, Sid));
static_assert(offsetof(SidAndAttributes, attributes) == offsetof(SID_AND_ATTRIBUTES, Attributes));

static_assert(sizeof(SecurityCapabilities) == sizeof(SECURITY_CAPABILITIES));
static_assert(sizeof(SECURITY_CAPABILITIES) == 24);
static_assert(offsetof(SecurityCapabilities, app_container_sid) ==
              offsetof(SECURITY_CAPABILITIES, AppContainerSid));
static_assert(offsetof(SecurityCapabilities, capabilities) ==
              offsetof(SECURITY_CAPABILITIES, Capabilities));
static_assert(offsetof(SecurityCapabilities, capability_count) ==
              offsetof(SECURITY_CAPABILITIES, CapabilityCount));
static_assert(offsetof(SecurityCapabilities, reserved) == offsetof(SECURITY_CAPABILITIES, Reserved));

static_assert(sizeof(Trustee) == sizeof(TRUSTEE_W));
static_assert(offsetof(Trustee, multiple_trustee) == offsetof(TRUSTEE_W, pMultipleTrustee));
static_assert(offsetof(Trustee, multiple_trustee_operation) ==
              offsetof(TRUSTEE_W, MultipleTrusteeOperation));
static_assert(offsetof(Trustee, trustee_form) == offsetof(TRUSTEE_W, TrusteeForm));
static_assert(offsetof(Trustee, trustee_type) == offsetof(TRUSTEE_W, TrusteeType));
static_assert(offsetof(Trustee, name) == offsetof(TRUSTEE_W, ptstrName));

static_assert(sizeof(ExplicitAccess) == sizeof(EXPLICIT_ACCESS_W));
static_assert(sizeof(EXPLICIT_ACCESS_W) == 48);
static_assert(offsetof(ExplicitAccess, access_permissions) ==
              offsetof(EXPLICIT_ACCESS_W, grfAccessPermissions));
static_assert(offsetof(ExplicitAccess, access_mode) == offsetof(EXPLICIT_ACCESS_W, grfAccessMode));
static_assert(offsetof(ExplicitAccess, inheritance) == offsetof(EXPLICIT_ACCESS_W, grfInheritance));
static_assert(offsetof(ExplicitAccess, trustee) == offsetof(EXPLICIT_ACCESS_W, Trustee));

static_assert(sizeof(AclHeader) == sizeof(ACL));
static_assert(offsetof(AclHeader, size) == offsetof(ACL, AclSize));
static_assert(offsetof(AclHeader, entry_count) == offsetof(ACL, AceCount));

static_assert(sizeof(AbsoluteSecurityDescriptor) == sizeof(SECURITY_DESCRIPTOR));
static_assert(sizeof(SECURITY_DESCRIPTOR) == 40);
static_assert(offsetof(AbsoluteSecurityDescriptor, control) == offsetof(SECURITY_DESCRIPTOR, Control));
static_assert(offsetof(AbsoluteSecurityDescriptor, owner) == offsetof(SECURITY_DESCRIPTOR, Owner));
static_assert(offsetof(AbsoluteSecurityDescriptor, group) == offsetof(SECURITY_DESCRIPTOR, Group));
static_assert(offsetof(AbsoluteSecurityDescriptor, sacl) == offsetof(SECURITY_DESCRIPTOR, Sacl));
static_assert(offsetof(AbsoluteSecurityDescriptor, dacl) == offsetof(SECURITY_DESCRIPTOR, Dacl));

}  // namespace

std::uint32_t Win32Platform::create_app_container_profile(const char16_t* name,
                                                          const char16_t* display_name,
                                                          const char16_t* description, Sid* sid) {
    return static_cast<std::uint32_t>(CreateAppContainerProfile(
        win32::wide(name), win32::wide(display_name), win32::wide(description), nullptr, 0, sid));
}

std::uint32_t Win32Platform::derive_app_container_sid_from_app_container_name(const char16_t* name,
                                                                              Sid* sid) {
    return static_cast<std::uint32_t>(
        DeriveAppContainerSidFromAppContainerName(win32::wide(name), sid));
}

BoolResult Win32Platform::create_well_known_sid(std::uint32_t type, Sid domain_sid, void* buffer,
                                                std::uint32_t* size) {
    DWORD length = *size;
    const BoolResult result = win32::bool_result(
        CreateWellKnownSid(static_cast<WELL_KNOWN_SID_TYPE>(type), domain_sid, buffer, &length));
    *size = length;
    return result;
}

BoolResult Win32Platform::get_kernel_object_security(Handle object, std::uint32_t security_info,
                                                     void* buffer, std::uint32_t size,
                                                     std::uint32_t* needed) {
    DWORD length = 0;
    const BoolResult result =
        win32::read_security_descriptor(buffer, size, length, [&](void* into, DWORD bytes, DWORD* reported) {
            return GetKernelObjectSecurity(win32::to_win(object), security_info, into, bytes, reported);
        });
    *needed = length;
    return result;
}

BoolResult Win32Platform::get_security_descriptor_dacl(SecurityDescriptor descriptor, bool* present,
                                                       Acl* dacl) {
    BOOL has_dacl = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    const BoolResult result =
        win32::bool_result(GetSecurityDescriptorDacl(descriptor, &has_dacl, &list, &defaulted));
    *present = has_dacl != FALSE;
    *dacl = reinterpret_cast<Acl>(list);
    return result;
}

std::uint32_t Win32Platform::set_entries_in_acl_w(std::uint32_t count,
                                                  const ExplicitAccess* entries, Acl old_acl,
                                                  Acl* new_acl) {
    // The system only reads the entries; its declaration lacks the const.
    auto* explicit_entries =
        reinterpret_cast<PEXPLICIT_ACCESS_W>(const_cast<ExplicitAccess*>(entries));
    return SetEntriesInAclW(count, explicit_entries, reinterpret_cast<PACL>(old_acl),
                            reinterpret_cast<PACL*>(new_acl));
}

BoolResult Win32Platform::get_security_descriptor_control(SecurityDescriptor descriptor,
                                                           std::uint16_t* control) {
    SECURITY_DESCRIPTOR_CONTROL bits = 0;
    DWORD revision = 0;
    const BoolResult result = win32::bool_result(GetSecurityDescriptorControl(descriptor, &bits, &revision));
    *control = bits;
    return result;
}

BoolResult Win32Platform::set_kernel_object_security(Handle object, std::uint32_t security_info,
                                                     const AbsoluteSecurityDescriptor* descriptor) {
    // The system only reads the descriptor; its declaration lacks the const.
    return win32::bool_result(SetKernelObjectSecurity(
        win32::to_win(object), security_info,
        reinterpret_cast<PSECURITY_DESCRIPTOR>(const_cast<AbsoluteSecurityDescriptor*>(descriptor))));
}

void Win32Platform::local_free(void* memory) { LocalFree(memory); }

void Win32Platform::free_sid(Sid sid) { FreeSid(sid); }

}  // namespace zub
