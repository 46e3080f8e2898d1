#pragma once
// Owners of what the run acquires from the system. Each releases exactly once;
// declared in acquisition order, they release in the order the run requires.
#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace zub {

// A handle closed once, unless it is 0 or -1.
class OwnedHandle {
public:
    OwnedHandle(Platform& platform, Handle handle) : platform_(&platform), handle_(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() {
        if (is_closable_handle(handle_)) platform_->close_handle(handle_);
    }
    Handle get() const { return handle_; }

private:
    Platform* platform_;
    Handle handle_;
};

// The child's process and thread handles: the thread is closed first.
class ProcessHandles {
public:
    ProcessHandles(Platform& platform, const ProcessInformation& info)
        : process_(platform, info.process), thread_(platform, info.thread) {}
    Handle process() const { return process_.get(); }
    Handle thread() const { return thread_.get(); }

private:
    OwnedHandle process_;  // members are destroyed in reverse: thread, then process
    OwnedHandle thread_;
};

// The launch attribute list: a heap buffer aligned to 8 bytes, deleted by the
// system call only once it was initialised, then freed.
class AttributeList {
public:
    explicit AttributeList(Platform& platform) : platform_(&platform) {}
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;
    ~AttributeList() {
        if (initialized_) platform_->delete_proc_thread_attribute_list(buffer_.get());
    }

    void* allocate(std::size_t bytes) {
        buffer_.reset(new std::uint64_t[(bytes + 7) / 8]());
        return buffer_.get();
    }
    void mark_initialized() { initialized_ = true; }
    void* get() const { return buffer_.get(); }

private:
    Platform* platform_;
    std::unique_ptr<std::uint64_t[]> buffer_;
    bool initialized_ = false;
};

}  // namespace zub
