#include "platform/mapped_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

ReadOnlyFile::~ReadOnlyFile() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
}

std::expected<ReadOnlyFile, SystemError> ReadOnlyFile::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::unexpected(last_system_error("open"));
    }
    return ReadOnlyFile{fd};
}

FileMapping::~FileMapping() {
    release();
}

void FileMapping::release() noexcept {
    if (data_ != nullptr) {
        ::munmap(const_cast<std::byte*>(data_), size_);
        data_ = nullptr;
    }
    size_ = 0;
}

std::expected<FileMapping, SystemError> FileMapping::map(const ReadOnlyFile& file) {
    struct stat info {};
    if (::fstat(static_cast<int>(file.native()), &info) != 0) {
        return std::unexpected(last_system_error("fstat"));
    }
    FileMapping result;
    if (info.st_size == 0) {
        return result;
    }
    void* view = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_PRIVATE,
                        static_cast<int>(file.native()), 0);
    if (view == MAP_FAILED) {
        return std::unexpected(last_system_error("mmap"));
    }
    result.data_ = static_cast<const std::byte*>(view);
    result.size_ = static_cast<std::size_t>(info.st_size);
    return result;
}

} // namespace platform
