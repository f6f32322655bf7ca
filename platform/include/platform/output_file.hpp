#pragma once

#include "platform/system_error.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>

namespace platform {

// A file open for writing only, closed when its owner ends (errors of the close ignored).
class OutputFile {
public:
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    ~OutputFile();

    // Creates the file, or empties one of that name. Others may read, write and delete it while
    // it is open.
    static std::expected<OutputFile, SystemError> create(const std::filesystem::path& path);

    // Writes every byte, going on after a partial write. A write that takes nothing fails with
    // ERROR_WRITE_FAULT (EIO on Linux) rather than trying again for ever.
    std::expected<void, SystemError> write_all(std::span<const std::byte> bytes);

    // Closes the file now.
    void close();

private:
    explicit OutputFile(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_ = -1; // -1: none
};

} // namespace platform
