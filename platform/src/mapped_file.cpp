#include "platform/mapped_file.hpp"

#include <utility>

// Moving is the same on every system: the owners only pass their handles on. Closing and
// unmapping are the systems' own.
namespace platform {

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

FileMapping::FileMapping(FileMapping&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      mapping_(std::exchange(other.mapping_, 0)) {}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(mapping_, other.mapping_);
    return *this;
}

} // namespace platform
