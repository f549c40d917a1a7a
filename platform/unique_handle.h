// UniqueHandle: sole owner of a system handle, closed exactly once by its one
// closer. Move-only; the handle type's zero value means "none".
#pragma once

#include <utility>

namespace vimbrel {

template <typename Handle, auto close>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle h) : handle_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Handle{}; }
    Handle release() { return std::exchange(handle_, Handle{}); }
    void reset(Handle h = Handle{}) {
        const Handle old = std::exchange(handle_, h);
        if (old != Handle{}) close(old);
    }

private:
    Handle handle_{};
};

}  // namespace vimbrel
