#include "platform/text.hpp"

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed sequence at the front of `bytes`, or 0 when it is not one.
// The ranges are those of the Unicode standard's table of well-formed byte sequences.
std::size_t sequence_length(std::string_view bytes) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            second_low = 0xA0; // no overlong forms
        } else if (lead == 0xED) {
            second_high = 0x9F; // no encoded surrogates
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            second_low = 0x90;
        } else if (lead == 0xF4) {
            second_high = 0x8F; // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    if (bytes.size() < length || at(1) < second_low || at(1) > second_high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!is_continuation(at(i))) {
            return 0;
        }
    }
    return length;
}

} // namespace

bool is_valid_utf8(std::string_view bytes) {
    while (!bytes.empty()) {
        // Runs of ASCII, which most texts are, eight bytes at a time.
        std::uint64_t word;
        if (bytes.size() >= sizeof word) {
            std::memcpy(&word, bytes.data(), sizeof word);
            if ((word & 0x8080808080808080) == 0) {
                bytes.remove_prefix(sizeof word);
                continue;
            }
        }
        const std::size_t length = sequence_length(bytes);
        if (length == 0) {
            return false;
        }
        bytes.remove_prefix(length);
    }
    return true;
}

char32_t take_code_point(std::string_view& utf8) {
    const std::size_t length = sequence_length(utf8);
    if (length == 0) {
        utf8.remove_prefix(1);
        return replacement_character;
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    char32_t code_point = 0;
    switch (length) {
    case 1:
        code_point = byte(0);
        break;
    case 2:
        code_point = (char32_t{byte(0)} & 0x1F) << 6 | (byte(1) & 0x3F);
        break;
    case 3:
        code_point =
            (char32_t{byte(0)} & 0x0F) << 12 | (char32_t{byte(1)} & 0x3F) << 6 | (byte(2) & 0x3F);
        break;
    default:
        code_point = (char32_t{byte(0)} & 0x07) << 18 | (char32_t{byte(1)} & 0x3F) << 12 |
                     (char32_t{byte(2)} & 0x3F) << 6 | (byte(3) & 0x3F);
        break;
    }
    utf8.remove_prefix(length);
    return code_point;
}

int encode_utf16(char32_t code_point, char16_t* out) {
    if (code_point < 0x10000) {
        out[0] = static_cast<char16_t>(code_point);
        return 1;
    }
    const char32_t offset = code_point - 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (offset >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
    return 2;
}

std::u16string utf8_to_utf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    char16_t units[2];
    while (!utf8.empty()) {
        const int count = encode_utf16(take_code_point(utf8), units);
        out.append(units, static_cast<std::size_t>(count));
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t code_point = utf16[i];
        if (code_point >= 0xD800 && code_point <= 0xDBFF && i + 1 < utf16.size() &&
            utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (code_point >= 0xD800 && code_point <= 0xDFFF) {
            code_point = replacement_character;
        }
        if (code_point < 0x80) {
            out += static_cast<char>(code_point);
        } else if (code_point < 0x800) {
            out += static_cast<char>(0xC0 | (code_point >> 6));
            out += static_cast<char>(0x80 | (code_point & 0x3F));
        } else if (code_point < 0x10000) {
            out += static_cast<char>(0xE0 | (code_point >> 12));
            out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code_point & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code_point >> 18));
            out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code_point & 0x3F));
        }
    }
    return out;
}

std::string path_text(const std::filesystem::path& path) {
#ifdef _WIN32
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    return utf16_to_utf8({reinterpret_cast<const char16_t*>(path.c_str()), path.native().size()});
#else
    return path.native();
#endif
}

std::filesystem::path path_from_utf8(std::string_view utf8) {
#ifdef _WIN32
    const std::u16string wide = utf8_to_utf16(utf8);
    return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
#else
    return std::filesystem::path(std::string(utf8));
#endif
}

} // namespace platform
