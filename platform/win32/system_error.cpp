#include "platform/system_error.hpp"

#include "platform/text.hpp"
#include "wide.hpp"

#include <windows.h>

namespace platform {

SystemError last_system_error(std::string_view operation) {
    const DWORD code = GetLastError();
    return {operation, code, system_message(code)};
}

std::string system_message(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return "unknown error " + std::to_string(code);
    }
    std::u16string_view text = win32::utf16_view(buffer, length);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\r' || text.back() == u'\n' ||
                             text.back() == u'\t')) {
        text.remove_suffix(1);
    }
    std::string message = utf16_to_utf8(text);
    LocalFree(buffer);
    return message;
}

} // namespace platform
