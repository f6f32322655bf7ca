#include "platform/output_file.hpp"

#include "handle.hpp"
#include "write_all.hpp"

#include <utility>

namespace platform {
namespace {

HANDLE as_handle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

} // namespace

std::expected<OutputFile, SystemError> OutputFile::create(const std::filesystem::path& path) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::unexpected(last_system_error("CreateFileW"));
    }
    return OutputFile{reinterpret_cast<std::intptr_t>(handle)};
}

std::expected<void, SystemError> OutputFile::write_all(std::span<const std::byte> bytes) {
    return win32::write_all(as_handle(handle_), bytes);
}

void OutputFile::close() {
    // An error of the close is ignored, as on every release.
    win32::close_handle(as_handle(std::exchange(handle_, -1)));
}

} // namespace platform
