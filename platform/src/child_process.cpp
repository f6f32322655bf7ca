#include "platform/child_process.hpp"

#include <utility>

// Moving is the same on every system; starting, waiting and closing are the systems' own.
namespace platform {

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : process_(std::exchange(other.process_, 0)), thread_(std::exchange(other.thread_, 0)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    std::swap(process_, other.process_);
    std::swap(thread_, other.thread_);
    return *this;
}

} // namespace platform
