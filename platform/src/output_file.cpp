#include "platform/output_file.hpp"

#include <utility>

// Moving is the same on every system; opening, writing and closing are the systems' own.
namespace platform {

OutputFile::OutputFile(OutputFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
}

OutputFile::~OutputFile() {
    close();
}

} // namespace platform
