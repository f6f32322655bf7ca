#pragma once

// Windows' wchar_t and char16_t are both UTF-16 code units; these views cross between them.
#include <string>
#include <string_view>

namespace platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string_view utf16_view(const wchar_t* text, std::size_t length) {
    return {reinterpret_cast<const char16_t*>(text), length};
}

inline std::u16string_view utf16_view(const wchar_t* text) {
    return utf16_view(text, std::char_traits<wchar_t>::length(text));
}

} // namespace platform::win32
