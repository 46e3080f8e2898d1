#pragma once
// The session's grant mutex, held by one helper's grants at a time.
#include "platform/owned.h"
#include "platform/platform.h"

namespace zub {

// How long a helper waits for another's grants before it goes on without the
// lock, as every helper did before there was one.
constexpr std::uint32_t GRANT_LOCK_WAIT_MILLISECONDS = 60000;
constexpr std::uint32_t WAIT_ABANDONED_RESULT = 0x00000080;

// Owns the mutex while it is held: released, then its handle closed. Empty
// when the lock could not be had.
class HeldGrantLock {
public:
    HeldGrantLock() = default;
    HeldGrantLock(GrantLockService& service, UniqueHandle mutex)
        : mutex_(std::move(mutex)), service_(&service) {}
    HeldGrantLock(const HeldGrantLock&) = delete;
    HeldGrantLock& operator=(const HeldGrantLock&) = delete;
    ~HeldGrantLock() {
        if (mutex_) service_->release_mutex(mutex_.get());
    }

private:
    UniqueHandle mutex_;  // closed after the release, when the members go
    GrantLockService* service_ = nullptr;
};

// Waits at most GRANT_LOCK_WAIT_MILLISECONDS. Never a failure: without the
// lock the grants go on unserialised.
HeldGrantLock take_grant_lock(Platform& platform);

}  // namespace zub
