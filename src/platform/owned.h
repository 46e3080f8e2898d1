#pragma once
// One move-only owner for whatever the platform hands out: it releases its
// value exactly once, through the platform, unless the value means "none".
#include <utility>

#include "platform/platform.h"

namespace zub {

template <class Traits>
class Owned {
public:
    using Value = typename Traits::Value;

    Owned() = default;
    Owned(Platform& platform, Value value) : platform_(&platform), value_(value) {}
    Owned(Owned&& other) noexcept
        : platform_(other.platform_), value_(std::exchange(other.value_, Traits::none())) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            platform_ = other.platform_;
            value_ = std::exchange(other.value_, Traits::none());
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    Value get() const { return value_; }
    explicit operator bool() const { return Traits::is_set(value_); }
    void reset() {
        if (Traits::is_set(value_)) Traits::release(*platform_, value_);
        value_ = Traits::none();
    }

private:
    Platform* platform_ = nullptr;
    Value value_ = Traits::none();
};

// A handle, closed once unless it is 0 or -1.
struct HandleTraits {
    using Value = Handle;
    static Value none() { return NO_HANDLE; }
    static bool is_set(Value handle) { return is_closable_handle(handle); }
    static void release(Platform& platform, Value handle) { platform.close_handle(handle); }
};
using UniqueHandle = Owned<HandleTraits>;

// Memory that the security functions handed out, released with LocalFree.
template <class Pointer>
struct LocalMemoryTraits {
    using Value = Pointer;
    static Value none() { return nullptr; }
    static bool is_set(Value memory) { return memory != nullptr; }
    static void release(Platform& platform, Value memory) { platform.local_free(memory); }
};
template <class Pointer>
using LocalMemory = Owned<LocalMemoryTraits<Pointer>>;

}  // namespace zub
