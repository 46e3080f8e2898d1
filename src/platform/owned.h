#pragma once
// One move-only owner for whatever the platform hands out: it releases its
// value exactly once, through the role that handed it out, unless the value
// means "none". Owners declared in acquisition order release in reverse.
#include <utility>

#include "platform/files.h"
#include "platform/processes.h"
#include "platform/profile_service.h"
#include "platform/security.h"

namespace zub {

template <class Traits>
class Owned {
public:
    using Api = typename Traits::Api;
    using Value = typename Traits::Value;

    Owned() = default;
    Owned(Api& api, Value value) : api_(&api), value_(value) {}
    Owned(Owned&& other) noexcept
        : api_(other.api_), value_(std::exchange(other.value_, Traits::none())) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset();
            api_ = other.api_;
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
        if (Traits::is_set(value_)) Traits::release(*api_, value_);
        value_ = Traits::none();
    }

private:
    Api* api_ = nullptr;
    Value value_ = Traits::none();
};

// A handle, closed once unless it is 0 or -1.
struct HandleTraits {
    using Api = Files;
    using Value = Handle;
    static Value none() { return NO_HANDLE; }
    static bool is_set(Value handle) { return is_closable_handle(handle); }
    static void release(Api& files, Value handle) { files.close_handle(handle); }
};
using UniqueHandle = Owned<HandleTraits>;

// Memory that the security functions handed out, released with LocalFree.
template <class Pointer>
struct LocalMemoryTraits {
    using Api = Security;
    using Value = Pointer;
    static Value none() { return nullptr; }
    static bool is_set(Value memory) { return memory != nullptr; }
    static void release(Api& security, Value memory) { security.local_free(memory); }
};
template <class Pointer>
using LocalMemory = Owned<LocalMemoryTraits<Pointer>>;

// A SID from the profile service, released with FreeSid as the service requires.
struct ProfileSidTraits {
    using Api = ProfileService;
    using Value = Sid;
    static Value none() { return nullptr; }
    static bool is_set(const void* sid) { return sid != nullptr; }
    static void release(Api& service, Value sid) { service.free_sid(sid); }
};
using ProfileSid = Owned<ProfileSidTraits>;

// An initialised launch attribute list in a heap buffer of 8-byte units:
// deleted by the system, then its buffer freed.
struct AttributeListTraits {
    using Api = Processes;
    using Value = std::uint64_t*;
    static Value none() { return nullptr; }
    static bool is_set(const std::uint64_t* list) { return list != nullptr; }
    static void release(Api& processes, Value list) {
        processes.delete_proc_thread_attribute_list(list);
        delete[] list;
    }
};
using AttributeList = Owned<AttributeListTraits>;

}  // namespace zub
