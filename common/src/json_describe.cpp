// The words of failure messages and reports: descriptions of unexpected values and quoting.
#include "debug_escapes.hpp"
#include "kov/json_reader.hpp"
#include "platform/text.hpp"

#include <charconv>
#include <system_error>

namespace kov {
namespace {

template <class Integer>
void append_integer(std::string& out, Integer value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void append_unicode_escape(std::string& out, char32_t code_point) {
    char digits[8];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(code_point), 16)
            .ptr;
    out += "\\u{";
    out.append(digits, end);
    out += '}';
}

} // namespace

void append_debug_quoted(std::string& out, std::string_view text) {
    out += '"';
    while (!text.empty()) {
        const std::string_view rest = text;
        const char32_t code_point = platform::take_code_point(text);
        const std::string_view bytes = rest.substr(0, rest.size() - text.size());
        switch (code_point) {
        case U'\0':
            out += "\\0";
            continue;
        case U'\t':
            out += "\\t";
            continue;
        case U'\r':
            out += "\\r";
            continue;
        case U'\n':
            out += "\\n";
            continue;
        case U'\\':
            out += "\\\\";
            continue;
        case U'"':
            out += "\\\"";
            continue;
        default:
            break;
        }
        if (code_point == 0xFFFD && bytes.size() == 1) {
            out += "\\u{fffd}"; // a byte that is not UTF-8
        } else if (json::is_escaped_in_debug_form(code_point)) {
            append_unicode_escape(out, code_point);
        } else {
            out += bytes;
        }
    }
    out += '"';
}

std::string debug_form(const JsonError& error) {
    std::string text = "Error(";
    append_debug_quoted(text, error.message);
    text += ", line: ";
    append_integer(text, error.line);
    text += ", column: ";
    append_integer(text, error.column);
    text += ')';
    return text;
}

namespace json {

std::string describe_float(double value) {
    // The shortest digits that read back come from the scientific form: d[.ddd]e±x.
    char buffer[40];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    const std::string_view scientific{buffer, static_cast<std::size_t>(end - buffer)};
    const std::size_t e = scientific.find('e');
    std::string_view mantissa = scientific.substr(0, e);
    std::string text;
    if (mantissa.front() == '-') {
        text += '-';
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') {
            digits += c;
        }
    }
    int exponent = 0;
    const std::string_view exponent_text = scientific.substr(e + 1);
    std::from_chars(exponent_text.data() + (exponent_text.front() == '+' ? 1 : 0),
                    exponent_text.data() + exponent_text.size(), exponent);
    // digits[0] stands for 10^exponent.
    if (exponent < 0) {
        text += "0.";
        text.append(static_cast<std::size_t>(-exponent - 1), '0');
        text += digits;
        return text;
    }
    const auto integer_digits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integer_digits) {
        text += digits;
        text.append(integer_digits - digits.size(), '0');
        text += ".0";
    } else {
        text.append(digits, 0, integer_digits);
        text += '.';
        text.append(digits, integer_digits);
    }
    return text;
}

std::string invalid_type(std::string_view found, std::string_view expected) {
    std::string text = "invalid type: ";
    text += found;
    text += ", expected ";
    text += expected;
    return text;
}

Result<std::string> Cursor::describe_unexpected() {
    switch (peek_token()) {
    case 'n':
        if (auto taken = read_literal("null"); !taken) {
            return std::unexpected(taken.error());
        }
        return "null";
    case 't':
        if (auto taken = read_literal("true"); !taken) {
            return std::unexpected(taken.error());
        }
        return "boolean `true`";
    case 'f':
        if (auto taken = read_literal("false"); !taken) {
            return std::unexpected(taken.error());
        }
        return "boolean `false`";
    case '"': {
        bump();
        std::string value;
        if (auto taken = read_string(value); !taken) {
            return std::unexpected(taken.error());
        }
        std::string text = "string ";
        append_debug_quoted(text, value);
        return text;
    }
    case '[':
        return "sequence";
    case '{':
        return "map";
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        break;
    default:
        return std::unexpected(after_peek(Syntax::ExpectedValue));
    }
    const Result<Number> number = read_number();
    if (!number) {
        return std::unexpected(number.error());
    }
    std::string text;
    switch (number->kind) {
    case Number::Kind::Unsigned:
        text = "integer `";
        append_integer(text, number->u);
        break;
    case Number::Kind::Signed:
        text = "integer `";
        append_integer(text, number->i);
        break;
    case Number::Kind::Float:
        text = "floating point `";
        text += describe_float(number->f);
        break;
    }
    text += '`';
    return text;
}

} // namespace json
} // namespace kov
