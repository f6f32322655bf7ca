#include "platform/com_error.hpp"

namespace platform {

std::string describe(const ComError& error) {
    constexpr char digits[] = "0123456789ABCDEF";
    char hex[8];
    for (int i = 0; i < 8; ++i) {
        hex[i] = digits[(error.hresult >> (28 - 4 * i)) & 0xF];
    }
    std::string text{error.operation};
    text += " failed: ";
    text += error.message;
    text += " (HRESULT 0x";
    text.append(hex, sizeof hex);
    text += ')';
    return text;
}

} // namespace platform
