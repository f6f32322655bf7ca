#include "platform/remove_tree.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <windows.h>

// std::filesystem::remove_all of GCC 12 on Windows cannot tell a junction or a directory link
// from a directory and would delete what it points at; this walk looks at the attributes itself.
namespace platform {
namespace {

// Owns a FindFirstFileExW search.
class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (valid()) {
            FindClose(handle_);
        }
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// The full path with the "\\?\" prefix, so that paths beyond MAX_PATH work; on failure the
// path as given.
std::wstring extended_path(const std::filesystem::path& path) {
    const std::wstring& given = path.native();
    if (given.starts_with(LR"(\\?\)")) {
        return given;
    }
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return given;
        }
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length); // the size asked for, terminating NUL included
    }
    if (full.starts_with(LR"(\\)")) {
        return LR"(\\?\UNC\)" + full.substr(2); // \\server\share\...
    }
    return LR"(\\?\)" + full;
}

bool is_dot_entry(const wchar_t* name) {
    return std::wstring_view{name} == L"." || std::wstring_view{name} == L"..";
}

// A read-only entry cannot be deleted until the attribute is gone.
void clear_read_only(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
}

// Deletes an entry that is not walked into: a file, or a link (to a file or to a directory)
// as the link itself.
void remove_entry(const std::wstring& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveDirectoryW(path.c_str()); // a junction or directory link: the link goes
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        clear_read_only(path, attributes);
    }
    DeleteFileW(path.c_str());
}

bool is_real_directory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

struct Directory {
    std::wstring path;
    DWORD attributes;
};

// Deletes the files and links of `directory` and adds its real subdirectories to `pending`.
void empty_directory(const std::wstring& directory, std::vector<Directory>& pending) {
    WIN32_FIND_DATAW entry;
    const FindHandle search{FindFirstFileExW((directory + L"\\*").c_str(), FindExInfoBasic, &entry,
                                             FindExSearchNameMatch, nullptr, 0)};
    if (!search.valid()) {
        return;
    }
    do {
        if (is_dot_entry(entry.cFileName)) {
            continue;
        }
        std::wstring path = directory + L'\\' + entry.cFileName;
        if (is_real_directory(entry.dwFileAttributes)) {
            pending.push_back({std::move(path), entry.dwFileAttributes});
        } else {
            remove_entry(path, entry.dwFileAttributes);
        }
    } while (FindNextFileW(search.get(), &entry));
}

} // namespace

void remove_tree(const std::filesystem::path& path) {
    const std::wstring root = extended_path(path);
    const DWORD attributes = GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (!is_real_directory(attributes)) {
        remove_entry(root, attributes);
        return;
    }
    // Walked with a list rather than recursion: a deep tree must not exhaust the stack.
    // Directories are found parents first, so deleting them in reverse order empties each
    // before its parent.
    std::vector<Directory> pending{{root, attributes}};
    std::vector<Directory> found;
    while (!pending.empty()) {
        Directory directory = std::move(pending.back());
        pending.pop_back();
        empty_directory(directory.path, pending);
        found.push_back(std::move(directory));
    }
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        clear_read_only(it->path, it->attributes);
        RemoveDirectoryW(it->path.c_str());
    }
}

} // namespace platform
