#include "platform/system_error.hpp"

namespace platform {

std::string describe(const SystemError& error) {
    std::string text{error.operation};
    text += " failed: ";
    text += error.message;
    text += " (os error ";
    text += std::to_string(error.code);
    text += ')';
    return text;
}

} // namespace platform
