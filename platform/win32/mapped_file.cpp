#include "platform/mapped_file.hpp"

#include "handle.hpp"

#include <utility>

namespace platform {
namespace {

HANDLE as_handle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}
std::intptr_t from_handle(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

} // namespace

ReadOnlyFile::~ReadOnlyFile() {
    win32::close_handle(as_handle(handle_));
}

std::expected<ReadOnlyFile, SystemError> ReadOnlyFile::open(const std::filesystem::path& path) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::unexpected(last_system_error("CreateFileW"));
    }
    return ReadOnlyFile{from_handle(handle)};
}

FileMapping::~FileMapping() {
    release();
}

void FileMapping::release() noexcept {
    // The view goes first, then the section handle that backs it.
    if (data_ != nullptr) {
        UnmapViewOfFile(data_);
        data_ = nullptr;
    }
    win32::close_handle(as_handle(std::exchange(mapping_, 0)));
    size_ = 0;
}

std::expected<FileMapping, SystemError> FileMapping::map(const ReadOnlyFile& file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(as_handle(file.native()), &info)) {
        return std::unexpected(last_system_error("GetFileInformationByHandle"));
    }
    const std::uint64_t size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    FileMapping result;
    if (size == 0) {
        return result; // Windows cannot map an empty file; an empty view stands for it
    }
    const HANDLE mapping =
        CreateFileMappingW(as_handle(file.native()), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) {
        return std::unexpected(last_system_error("CreateFileMappingW"));
    }
    result.mapping_ = from_handle(mapping);
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        return std::unexpected(last_system_error("MapViewOfFile"));
    }
    result.data_ = static_cast<const std::byte*>(view);
    result.size_ = static_cast<std::size_t>(size);
    return result;
}

} // namespace platform
