#include "kov/pem.hpp"

#include <array>
#include <cstdint>
#include <string>

namespace kov {
namespace {

constexpr std::string_view begin_prefix = "-----BEGIN ";
constexpr std::string_view end_prefix = "-----END ";
constexpr std::string_view dashes = "-----";

bool is_base64_space(char c) {
    return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ';
}

constexpr std::array<std::int8_t, 256> base64_values = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    constexpr std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    }
    return values;
}();

// Standard alphabet with canonical "=" padding: the padded length is a multiple of four and the
// bits that padding leaves over are zero.
std::expected<std::vector<unsigned char>, PemError> decode_base64(std::string_view text) {
    std::string symbols;
    symbols.reserve(text.size());
    for (const char c : text) {
        if (!is_base64_space(c)) {
            symbols.push_back(c);
        }
    }
    if (symbols.size() % 4 != 0) {
        return std::unexpected(PemError{});
    }
    std::vector<unsigned char> out;
    out.reserve(symbols.size() / 4 * 3);
    for (std::size_t at = 0; at < symbols.size(); at += 4) {
        const bool last = at + 4 == symbols.size();
        std::size_t padding = 0;
        if (last && symbols[at + 3] == '=') {
            padding = symbols[at + 2] == '=' ? 2 : 1;
        }
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            std::int8_t value = 0;
            if (i < 4 - padding) {
                value = base64_values[static_cast<unsigned char>(symbols[at + i])];
                if (value < 0) {
                    return std::unexpected(PemError{});
                }
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
            return std::unexpected(PemError{});
        }
        out.push_back(static_cast<unsigned char>(group >> 16));
        if (padding < 2) {
            out.push_back(static_cast<unsigned char>(group >> 8));
        }
        if (padding < 1) {
            out.push_back(static_cast<unsigned char>(group));
        }
    }
    return out;
}

// The label of a BEGIN line: the dashes at its end are counted backwards, passing over blanks and
// line ends, and must be exactly five; the label ends at the first of them.
std::expected<std::string_view, PemError> begin_label(std::string_view line) {
    std::size_t count = 0;
    std::size_t first_dash = line.size();
    for (std::size_t at = line.size(); at > 0; --at) {
        const char c = line[at - 1];
        if (c == '-') {
            ++count;
            first_dash = at - 1;
        } else if (c != ' ' && c != '\r' && c != '\n') {
            break;
        }
    }
    if (count != dashes.size()) {
        return std::unexpected(PemError{});
    }
    return line.substr(begin_prefix.size(), first_dash - begin_prefix.size());
}

} // namespace

std::expected<std::vector<std::vector<unsigned char>>, PemError>
read_pem_certificates(std::string_view text) {
    std::vector<std::vector<unsigned char>> certificates;
    bool open = false;
    std::string_view label;
    std::string collected;
    while (!text.empty()) {
        const std::size_t line_end = text.find_first_of("\r\n");
        const std::size_t length = line_end == std::string_view::npos ? text.size() : line_end + 1;
        const std::string_view line = text.substr(0, length);
        text.remove_prefix(length);

        if (line.starts_with(begin_prefix)) {
            auto new_label = begin_label(line);
            if (!new_label) {
                return std::unexpected(new_label.error());
            }
            // A BEGIN inside a section takes its place; what was collected stays.
            label = *new_label;
            open = true;
            continue;
        }
        if (!open) {
            continue;
        }
        std::string_view rest = line;
        if (rest.starts_with(end_prefix) && rest.substr(end_prefix.size()).starts_with(label) &&
            rest.substr(end_prefix.size() + label.size()).starts_with(dashes)) {
            if (label == "CERTIFICATE") {
                auto der = decode_base64(collected);
                if (!der) {
                    return std::unexpected(der.error());
                }
                certificates.push_back(std::move(*der));
            }
            collected.clear();
            open = false;
            continue;
        }
        collected.append(line);
    }
    if (open) {
        return std::unexpected(PemError{});
    }
    return certificates;
}

} // namespace kov
