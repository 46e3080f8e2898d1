#pragma once
// The one mutex that every helper of a Windows session takes around its
// grants, whatever its container: DACLs are read, merged and written back, and
// two helpers doing that to one object at once would lose an entry.
#include "platform/call_results.h"

namespace zub {

class GrantLockService {
public:
    virtual ~GrantLockService() = default;
    // The session's grant mutex, not yet waited for: made with a security
    // descriptor that keeps confined and lower-integrity processes out, or
    // opened when another helper made it, and then trusted only when its
    // owner, DACL and integrity label are exactly what a helper makes.
    virtual HandleResult create_grant_mutex() = 0;
    virtual BoolResult release_mutex(Handle mutex) = 0;
};

}  // namespace zub
