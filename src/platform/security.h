#pragma once
// Well-known SIDs, and DACLs read and written through an open handle, so that
// nothing is resolved again by path.
#include <cstdint>

#include "platform/call_results.h"

namespace zub {

class Security {
public:
    virtual ~Security() = default;
    virtual BoolResult create_well_known_sid(std::uint32_t type, Sid domain_sid, void* buffer,
                                             std::uint32_t* size) = 0;
    // The object's descriptor parts named by `security_info`, in self-relative
    // form, into the caller's `buffer` (aligned for it): no allocation per
    // object. `needed` is the size the descriptor takes; when it is larger
    // than `size`, the call fails with ERROR_INSUFFICIENT_BUFFER. A success
    // leaves a whole, well-formed descriptor of this object in the buffer,
    // never a part of an earlier one; a read that gives less fails.
    virtual BoolResult get_kernel_object_security(Handle object, std::uint32_t security_info,
                                                  void* buffer, std::uint32_t size,
                                                  std::uint32_t* needed) = 0;
    // The DACL inside `descriptor`: `present` false when it has none; a present
    // DACL may still be null (everyone allowed).
    virtual BoolResult get_security_descriptor_dacl(SecurityDescriptor descriptor, bool* present,
                                                    Acl* dacl) = 0;
    // SetEntriesInAclW returns a Win32 error code, 0 on success.
    virtual std::uint32_t set_entries_in_acl_w(std::uint32_t count, const ExplicitAccess* entries,
                                               Acl old_acl, Acl* new_acl) = 0;
    virtual BoolResult get_security_descriptor_control(SecurityDescriptor descriptor,
                                                       std::uint16_t* control) = 0;
    // Writes exactly the descriptor's parts named by `security_info` on the
    // object: unlike SetSecurityInfo, nothing is propagated to objects below it
    // and no parent is looked up.
    virtual BoolResult set_kernel_object_security(Handle object, std::uint32_t security_info,
                                                  const AbsoluteSecurityDescriptor* descriptor) = 0;
    // Releases what the security functions handed out.
    virtual void local_free(void* memory) = 0;
};

}  // namespace zub
