#include "idna.hpp"

#include <idn2.h>

namespace kov::url {
namespace {

// Owner of a string libidn2 allocated.
struct Idn2Text {
    std::uint8_t* text = nullptr;
    Idn2Text() = default;
    Idn2Text(const Idn2Text&) = delete;
    Idn2Text& operator=(const Idn2Text&) = delete;
    ~Idn2Text() { idn2_free(text); }
};

bool is_ascii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The label separators: "." and the three characters UTS #46 maps to it (U+3002, U+FF0E,
// U+FF61). Returns the separator's length at `at`, or 0.
std::size_t separator_at(std::string_view text, std::size_t at) {
    if (text[at] == '.') {
        return 1;
    }
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("\xE3\x80\x82") || rest.starts_with("\xEF\xBC\x8E") ||
        rest.starts_with("\xEF\xBD\xA1")) {
        return 3;
    }
    return 0;
}

// One label through libidn2's lookup with UTS #46 nontransitional mapping. The label's own
// bytes are UTF-8 whatever the process locale says: the _u8 call does no locale conversion.
std::optional<std::string> lookup(const std::string& label) {
    Idn2Text out;
    if (idn2_lookup_u8(reinterpret_cast<const std::uint8_t*>(label.c_str()), &out.text,
                       IDN2_NONTRANSITIONAL) != IDN2_OK ||
        out.text == nullptr) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(out.text));
}

} // namespace

std::optional<std::string> domain_to_ascii(std::string_view domain) {
    // Label by label, so that ASCII labels keep what UTS #46 allows them with CheckHyphens and
    // the STD3 rules off (libidn2 would apply both); those only need lower case.
    std::string result;
    result.reserve(domain.size());
    std::size_t start = 0;
    for (std::size_t at = 0; at <= domain.size();) {
        const std::size_t separator = at == domain.size() ? 1 : separator_at(domain, at);
        if (separator == 0) {
            ++at;
            continue;
        }
        std::string label(domain.substr(start, at - start));
        for (char& c : label) {
            c = ascii_lower(c);
        }
        if (!is_ascii(label) || label.starts_with("xn--")) {
            auto converted = lookup(label);
            if (!converted) {
                return std::nullopt;
            }
            label = std::move(*converted);
        }
        result += label;
        if (at < domain.size()) {
            result += '.';
        }
        at += separator;
        start = at;
    }
    if (result.empty()) {
        return std::nullopt;
    }
    return result;
}

} // namespace kov::url
