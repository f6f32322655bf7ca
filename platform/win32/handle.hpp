#pragma once

#include <utility>
#include <windows.h>

namespace platform::win32 {

// Owns one kernel handle and closes it when the owner ends. Both of the system's "no handle"
// values (null and INVALID_HANDLE_VALUE) count as empty.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~Handle() { reset(); }

    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

    // Gives the handle up without closing it.
    HANDLE release() { return std::exchange(handle_, nullptr); }

    // Closes the handle now; an error of the close is of no use to anyone and is ignored.
    void reset() {
        if (valid()) {
            CloseHandle(handle_);
        }
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// Closes a handle held as a plain value by a neutral owner, if it holds one.
inline void close_handle(HANDLE handle) {
    Handle{handle}.reset();
}

} // namespace platform::win32
