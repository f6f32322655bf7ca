#include "platform/file_store.hpp"

#include "temporary_name.hpp"
#include "write_all.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {
namespace {

// A temporary file being written: open until closed, removed unless it took the place of
// its target.
class PendingFile {
public:
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    PendingFile(PendingFile&& other) noexcept
        : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)),
          placed_(std::exchange(other.placed_, true)) {}
    ~PendingFile() {
        close_fd();
        if (!placed_) {
            ::unlink(path_.c_str());
        }
    }

    static std::expected<PendingFile, SystemError>
    create_beside(const std::filesystem::path& target) {
        std::random_device random;
        for (int attempt = 0;; ++attempt) {
            std::filesystem::path path = temporary_sibling(target, random);
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                return PendingFile(std::move(path), fd);
            }
            if (errno != EEXIST || attempt + 1 == TEMPORARY_NAME_ATTEMPTS) {
                return std::unexpected(last_system_error("open"));
            }
        }
    }

    std::expected<void, SystemError> write(std::span<const std::byte> bytes) {
        return posix::write_all(fd_, bytes);
    }

    // Flushes and closes the file, then renames it over `target` in one step.
    std::expected<void, SystemError> take_place_of(const std::filesystem::path& target) {
        if (::fsync(fd_) != 0) {
            return std::unexpected(last_system_error("fsync"));
        }
        if (!close_fd()) {
            return std::unexpected(last_system_error("close"));
        }
        if (::rename(path_.c_str(), target.c_str()) != 0) {
            return std::unexpected(last_system_error("rename"));
        }
        placed_ = true;
        return {};
    }

private:
    PendingFile(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}

    bool close_fd() { return fd_ < 0 || ::close(std::exchange(fd_, -1)) == 0; }

    std::filesystem::path path_;
    int fd_ = -1;
    bool placed_ = false;
};

} // namespace

std::expected<void, SystemError> query_attributes(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::unexpected(last_system_error("stat"));
    }
    return {};
}

std::expected<void, SystemError> create_folder(const std::filesystem::path& path) {
    if (::mkdir(path.c_str(), 0777) != 0) {
        return std::unexpected(last_system_error("mkdir"));
    }
    return {};
}

std::expected<void, SystemError> replace_file(const std::filesystem::path& path,
                                              std::span<const std::byte> bytes) {
    auto pending = PendingFile::create_beside(path);
    if (!pending) {
        return std::unexpected(std::move(pending.error()));
    }
    if (auto written = pending->write(bytes); !written) {
        return written;
    }
    return pending->take_place_of(path);
}

} // namespace platform
