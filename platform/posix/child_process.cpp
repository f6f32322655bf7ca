#include "platform/child_process.hpp"

#include <cerrno>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace platform {

ChildProcess::~ChildProcess() = default;

std::expected<ChildProcess, SystemError>
ChildProcess::start(const std::filesystem::path& program,
                    std::span<const std::string_view> arguments) {
    std::vector<std::string> words{program.native()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        const auto code = static_cast<std::uint32_t>(error);
        return std::unexpected(SystemError{"posix_spawn", code, system_message(code)});
    }
    return ChildProcess{pid, 0};
}

std::expected<std::uint32_t, SystemError> ChildProcess::wait() {
    int status = 0;
    while (::waitpid(static_cast<pid_t>(process_), &status, 0) < 0) {
        if (errno != EINTR) {
            return std::unexpected(last_system_error("waitpid"));
        }
    }
    if (WIFSIGNALED(status)) {
        return 128 + static_cast<std::uint32_t>(WTERMSIG(status));
    }
    return static_cast<std::uint32_t>(WEXITSTATUS(status));
}

} // namespace platform
