#pragma once

// Header fields as the client keeps them: in order, names as given, compared without regard to
// ASCII case.
#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kov::http {

using Headers = std::vector<std::pair<std::string, std::string>>;

inline char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b,
                              [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

// The first value of `name`.
inline std::optional<std::string_view> find_header(const Headers& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (equals_ignoring_case(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

inline bool has_header(const Headers& headers, std::string_view name) {
    return find_header(headers, name).has_value();
}

inline void remove_headers(Headers& headers, std::initializer_list<std::string_view> names) {
    std::erase_if(headers, [names](const auto& header) {
        return std::ranges::any_of(
            names, [&](std::string_view name) { return equals_ignoring_case(header.first, name); });
    });
}

// Replaces every value of `name` with `value`.
inline void set_header(Headers& headers, std::string_view name, std::string value) {
    remove_headers(headers, {name});
    headers.emplace_back(std::string(name), std::move(value));
}

} // namespace kov::http
