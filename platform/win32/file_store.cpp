#include "platform/file_store.hpp"

#include "handle.hpp"
#include "temporary_name.hpp"
#include "write_all.hpp"

#include <string>
#include <utility>
#include <windows.h>

namespace platform {
namespace {

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The earlier file's attributes that a new file can be created with. ReplaceFileW carries them
// over itself on Windows, but Wine's does not; a temporary file that has them from the start
// keeps a hidden file hidden on both.
constexpr DWORD CARRIED_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

SystemError system_error(std::string_view operation, DWORD code) {
    return {operation, code, system_message(code)};
}

// The answers of a file that another program holds open in a way that rules out its replacement
// (no FILE_SHARE_DELETE), or whose replacement is denied while the file may still be writable.
bool in_use(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ||
           code == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

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

    static std::expected<PendingFile, SystemError> create_beside(const std::wstring& target,
                                                                 DWORD attributes) {
        std::random_device random;
        for (int attempt = 0;; ++attempt) {
            std::wstring path = target;
            for (const char letter : temporary_suffix(random)) {
                path += static_cast<wchar_t>(letter);
            }
            const HANDLE handle =
                CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes, nullptr);
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

    // Flushes and closes the file, which must be done before it can take another's place.
    std::expected<void, SystemError> finish() {
        if (!FlushFileBuffers(handle_)) {
            return std::unexpected(last_system_error("FlushFileBuffers"));
        }
        if (!close_handle()) {
            return std::unexpected(last_system_error("CloseHandle"));
        }
        return {};
    }

    // Moves the file to `target`, where no file was.
    std::expected<void, SystemError> move_to(const std::wstring& target) {
        if (!MoveFileExW(path_.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return std::unexpected(last_system_error("MoveFileExW"));
        }
        placed_ = true;
        return {};
    }

    // Puts the file in place of the existing file `target` in one step. Unlike a move, the
    // replacement keeps the earlier file's attributes, security descriptor and creation time.
    std::expected<void, SystemError> replace(const std::wstring& target) {
        if (!ReplaceFileW(target.c_str(), path_.c_str(), nullptr, 0, nullptr, nullptr)) {
            return std::unexpected(last_system_error("ReplaceFileW"));
        }
        placed_ = true;
        return {};
    }

private:
    PendingFile(std::wstring path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}

    bool close_handle() {
        return handle_ == INVALID_HANDLE_VALUE ||
               CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    }

    std::wstring path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool placed_ = false;
};

// What a file name leads to when the file is about to be written.
struct Target {
    enum class Kind {
        Missing,  // nothing: the file is new
        Existing, // a file that can be replaced, at `path` with `attributes`
        InUse,    // a file that cannot be replaced now
    };
    Kind kind;
    std::wstring path;
    DWORD attributes = 0;
};

// The full path of the file open as `handle`, with every link on the way resolved.
std::expected<std::wstring, SystemError> final_path(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return std::unexpected(last_system_error("GetFinalPathNameByHandleW"));
        }
        // Too small a buffer is answered with the size it needs, the terminator included.
        const bool fits = length < path.size();
        path.resize(length);
        if (fits) {
            return path;
        }
    }
}

std::expected<Target, SystemError> look_up(const std::wstring& name) {
    // Opened without FILE_FLAG_OPEN_REPARSE_POINT, so a link is followed to its file. A holder
    // that does not share DELETE refuses this open as it would refuse the replacement.
    win32::Handle file{CreateFileW(name.c_str(), DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file.valid()) {
        const DWORD code = GetLastError();
        if (in_use(code)) {
            return Target{Target::Kind::InUse, name};
        }
        if (code != ERROR_FILE_NOT_FOUND) {
            return std::unexpected(system_error("CreateFileW", code));
        }
        if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return Target{Target::Kind::Missing, name};
        }
        // The name is there but leads nowhere: a link to a missing file. Opening it for writing
        // creates that file, as a plain write through the link would.
        file = win32::Handle{CreateFileW(name.c_str(),
                                         GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, SHARE_ALL,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (!file.valid()) {
            return std::unexpected(last_system_error("CreateFileW"));
        }
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) {
        return std::unexpected(last_system_error("GetFileInformationByHandle"));
    }
    auto path = final_path(file.get());
    if (!path) {
        return std::unexpected(std::move(path.error()));
    }
    return Target{Target::Kind::Existing, std::move(*path), info.dwFileAttributes};
}

// Writes `bytes` to a temporary file beside the target and puts it in the target's place. The
// temporary file is gone when this returns, whatever the outcome.
std::expected<void, SystemError> place_through_temporary(const Target& target,
                                                         std::span<const std::byte> bytes) {
    auto pending = PendingFile::create_beside(target.path, target.attributes & CARRIED_ATTRIBUTES);
    if (!pending) {
        return std::unexpected(std::move(pending.error()));
    }
    if (auto written = pending->write(bytes); !written) {
        return written;
    }
    if (auto finished = pending->finish(); !finished) {
        return finished;
    }
    return target.kind == Target::Kind::Missing ? pending->move_to(target.path)
                                                : pending->replace(target.path);
}

// Opens the file where it is, shared with whoever holds it, cuts it to zero and writes `bytes`.
std::expected<void, SystemError> write_in_place(const std::wstring& path,
                                                std::span<const std::byte> bytes) {
    const win32::Handle file{CreateFileW(path.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (!file.valid()) {
        return std::unexpected(last_system_error("CreateFileW"));
    }
    if (!SetEndOfFile(file.get())) {
        return std::unexpected(last_system_error("SetEndOfFile"));
    }
    return win32::write_all(file.get(), bytes);
}

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
    auto target = look_up(path.native());
    if (!target) {
        return std::unexpected(std::move(target.error()));
    }
    // A file held open without FILE_SHARE_DELETE, as a program reading its configuration may
    // hold it, cannot be replaced, but a plain write to it still succeeds. That write is the
    // road then: the earlier content stays whole only when the open itself fails.
    if (target->kind == Target::Kind::InUse) {
        return write_in_place(target->path, bytes);
    }
    auto placed = place_through_temporary(*target, bytes);
    if (!placed && placed.error().operation == "ReplaceFileW" && in_use(placed.error().code)) {
        return write_in_place(target->path, bytes);
    }
    return placed;
}

} // namespace platform
