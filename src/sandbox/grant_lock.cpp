#include "sandbox/grant_lock.h"

namespace zub {

HeldGrantLock take_grant_lock(Platform& platform) {
    UniqueHandle mutex(platform, platform.create_grant_mutex().handle);
    if (!mutex) return {};
    const std::uint32_t waited = platform.wait_for_single_object(mutex.get(), GRANT_LOCK_WAIT_MILLISECONDS);
    // Abandoned: a helper ended in the middle of its grants. Grants can be
    // made again over what it left, so the lock is simply ours now.
    if (waited != WAIT_OBJECT_0_RESULT && waited != WAIT_ABANDONED_RESULT) return {};
    return {platform, std::move(mutex)};
}

}  // namespace zub
