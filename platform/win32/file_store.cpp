#include "platform/file_store.hpp"

#include "temporary_name.hpp"
#include "write_all.hpp"

#include <utility>
#include <windows.h>

namespace platform {
namespace {

// A temporary file being written: open until closed, deleted unless it took the place of
// its target.
class PendingFile {
public:
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    PendingFile(PendingFile&& other) noexcept
        : path_(std::move(other.path_)),
          handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)),
          placed_(std::exchange(other.placed_, true)) {}
    ~PendingFile() {
        close_handle();
        if (!placed_) {
            DeleteFileW(path_.c_str());
        }
    }

    static std::expected<PendingFile, SystemError>
    create_beside(const std::filesystem::path& target) {
        std::random_device random;
        for (int attempt = 0;; ++attempt) {
            std::filesystem::path path = temporary_sibling(target, random);
            const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle != INVALID_HANDLE_VALUE) {
                return PendingFile(std::move(path), handle);
            }
            if (GetLastError() != ERROR_FILE_EXISTS || attempt + 1 == TEMPORARY_NAME_ATTEMPTS) {
                return std::unexpected(last_system_error("CreateFileW"));
            }
        }
    }

    std::expected<void, SystemError> write(std::span<const std::byte> bytes) {
        return win32::write_all(handle_, bytes);
    }

    // Flushes and closes the file, then moves it over `target` in one step.
    std::expected<void, SystemError> take_place_of(const std::filesystem::path& target) {
        if (!FlushFileBuffers(handle_)) {
            return std::unexpected(last_system_error("FlushFileBuffers"));
        }
        if (!close_handle()) {
            return std::unexpected(last_system_error("CloseHandle"));
        }
        if (!MoveFileExW(path_.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return std::unexpected(last_system_error("MoveFileExW"));
        }
        placed_ = true;
        return {};
    }

private:
    PendingFile(std::filesystem::path path, HANDLE handle)
        : path_(std::move(path)), handle_(handle) {}

    bool close_handle() {
        return handle_ == INVALID_HANDLE_VALUE ||
               CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    }

    std::filesystem::path path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool placed_ = false;
};

} // namespace

std::expected<void, SystemError> query_attributes(const std::filesystem::path& path) {
    // Opening the object follows links, which GetFileAttributesW would not; no access is asked,
    // and FILE_FLAG_BACKUP_SEMANTICS lets folders be opened too.
    const HANDLE handle =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::unexpected(last_system_error("CreateFileW"));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool read = GetFileInformationByHandle(handle, &info);
    auto error = read ? SystemError{} : last_system_error("GetFileInformationByHandle");
    CloseHandle(handle);
    if (!read) {
        return std::unexpected(std::move(error));
    }
    return {};
}

std::expected<void, SystemError> create_folder(const std::filesystem::path& path) {
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        return std::unexpected(last_system_error("CreateDirectoryW"));
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
