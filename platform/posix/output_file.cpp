#include "platform/output_file.hpp"

#include "write_all.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace platform {

std::expected<OutputFile, SystemError> OutputFile::create(const std::filesystem::path& path) {
    // Executable, so that the stand-in can start the program it has just written.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0700);
    if (fd < 0) {
        return std::unexpected(last_system_error("open"));
    }
    return OutputFile{fd};
}

std::expected<void, SystemError> OutputFile::write_all(std::span<const std::byte> bytes) {
    return posix::write_all(static_cast<int>(handle_), bytes);
}

void OutputFile::close() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(std::exchange(handle_, -1)));
    }
}

} // namespace platform
