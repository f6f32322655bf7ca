#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// Strict UTF-8: no overlong forms, no encoded surrogates, nothing above U+10FFFF, no cut sequence.
bool is_valid_utf8(std::string_view bytes);

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view utf8);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16_to_utf8(std::u16string_view utf16);

// Decodes one code point from the front of `utf8` and removes it; an invalid sequence gives
// U+FFFD and consumes its first byte. `utf8` must not be empty.
char32_t take_code_point(std::string_view& utf8);

// Appends the UTF-16 form of `code_point` to `out` (one or two units); returns the unit count.
int encode_utf16(char32_t code_point, char16_t* out);

// The path as UTF-8 text for reports; a Windows name that has no UTF-8 form gets U+FFFD.
std::string path_text(const std::filesystem::path& path);

// The path that UTF-8 text names. On Windows it is built from UTF-16 directly: a path made from
// narrow text would go through the C library's code page and the locale machinery.
std::filesystem::path path_from_utf8(std::string_view utf8);

} // namespace platform
