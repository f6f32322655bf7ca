#pragma once

#include "platform/system_error.hpp"

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string_view>

namespace platform {

// A started program, its process and main-thread handles closed when the owner ends. The program
// itself runs on after that, on its own.
class ChildProcess {
public:
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ~ChildProcess();

    // Starts `program` with the command line: the path in double quotes, then each of
    // `arguments` after one blank, as written. The child inherits this process's environment,
    // current directory and standard handles (those it has), and gets no creation option but a
    // Unicode environment.
    static std::expected<ChildProcess, SystemError>
    start(const std::filesystem::path& program, std::span<const std::string_view> arguments);

    // Waits without a time limit for the program to end and gives its exit code, all 32 bits.
    // The Linux stand-in gives 128 plus the signal number for a program ended by a signal.
    std::expected<std::uint32_t, SystemError> wait();

private:
    ChildProcess(std::intptr_t process, std::intptr_t thread)
        : process_(process), thread_(thread) {}
    std::intptr_t process_ = 0; // the process handle; the process id on Linux
    std::intptr_t thread_ = 0;  // the main-thread handle; unused on Linux
};

} // namespace platform
