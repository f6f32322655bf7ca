#include "platform/com_error.hpp"

#include <charconv>

namespace platform {

std::string describe(const ComError& error) {
    char digits[8];
    const auto end = std::to_chars(digits, digits + sizeof digits, error.hresult, 16).ptr;
    std::string hex(static_cast<std::size_t>(8 - (end - digits)), '0');
    for (const char* digit = digits; digit != end; ++digit) {
        hex += static_cast<char>(*digit >= 'a' ? *digit - 'a' + 'A' : *digit);
    }
    std::string text{error.operation};
    text += " failed: ";
    text += error.message;
    text += " (HRESULT 0x";
    text += hex;
    text += ')';
    return text;
}

} // namespace platform
