#pragma once

#include "platform/system_error.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>

namespace platform {

// An open file handle, closed when its owner ends.
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ~ReadOnlyFile();

    // Opens an existing file for reading; while it is open others may read it but not write or
    // delete it (FILE_SHARE_READ).
    static std::expected<ReadOnlyFile, SystemError> open(const std::filesystem::path& path);

    std::intptr_t native() const { return handle_; }

private:
    explicit ReadOnlyFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = -1;
};

// A read-only view of a whole file, unmapped when its owner ends. An empty file gives an empty
// view and no mapping.
class FileMapping {
public:
    FileMapping() = default;
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    FileMapping(FileMapping&& other) noexcept;
    FileMapping& operator=(FileMapping&& other) noexcept;
    ~FileMapping();

    static std::expected<FileMapping, SystemError> map(const ReadOnlyFile& file);

    std::span<const std::byte> bytes() const { return {data_, size_}; }

private:
    void release() noexcept;
    const std::byte* data_ = nullptr;
    std::size_t size_ = 0;
    std::intptr_t mapping_ = 0; // the section handle where the system has one
};

} // namespace platform
