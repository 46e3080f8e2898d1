#pragma once
// A security descriptor read into a buffer that a walk reuses for every
// object: trusted only once it is whole and well formed. Private to the
// Win32 backend.
#include "platform/win32_nt.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/call_results.h"

namespace zub::win32 {

static_assert(sizeof(SECURITY_DESCRIPTOR_RELATIVE) == 20);

// `read(buffer, size, &needed)` is the system's read of one object's
// descriptor (GetKernelObjectSecurity), which gives FALSE and sets the last
// error on failure. A driver or server that answers short or malformed
// must not have the previous object's descriptor, still in the buffer,
// taken for this one's: the header is cleared first, and a success counts
// only when the size reported holds a header, lies within the buffer and
// bounds a valid descriptor. A refused descriptor, and a failure without a
// last error, give ERROR_INVALID_SECURITY_DESCR: the buffer holds no
// descriptor of this object's, which is what that code says.
template <class Read>
BoolResult read_security_descriptor(void* buffer, DWORD size, DWORD& needed, Read read) {
    std::memset(buffer, 0, std::min<std::size_t>(size, sizeof(SECURITY_DESCRIPTOR_RELATIVE)));
    needed = 0;
    if (!read(buffer, size, &needed)) {
        const DWORD error = GetLastError();
        return {false, static_cast<std::uint32_t>(error != ERROR_SUCCESS ? error : ERROR_INVALID_SECURITY_DESCR)};
    }
    // No part is required: a descriptor without a DACL is the caller's to judge.
    const nt::ValidRelativeSecurityDescriptor valid = nt::valid_relative_security_descriptor();
    const bool whole = needed >= sizeof(SECURITY_DESCRIPTOR_RELATIVE) && needed <= size && valid != nullptr &&
                       valid(buffer, needed, 0) != FALSE;
    if (!whole) return {false, ERROR_INVALID_SECURITY_DESCR};
    return {true, 0};
}

}  // namespace zub::win32
