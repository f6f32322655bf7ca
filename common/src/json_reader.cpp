#include "kov/json_reader.hpp"

#include "platform/text.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

namespace kov::json {
namespace {

bool is_digit(unsigned char byte) {
    return static_cast<unsigned>(byte - '0') < 10u;
}

int hex_value(unsigned char byte) {
    if (is_digit(byte)) {
        return byte - '0';
    }
    const unsigned char lower = byte | 0x20;
    if (lower >= 'a' && lower <= 'f') {
        return lower - 'a' + 10;
    }
    return -1;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
    char bytes[4];
    std::size_t length = 0;
    if (code_point < 0x80) {
        bytes[length++] = static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        bytes[length++] = static_cast<char>(0xC0 | code_point >> 6);
        bytes[length++] = static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        bytes[length++] = static_cast<char>(0xE0 | code_point >> 12);
        bytes[length++] = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
        bytes[length++] = static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        bytes[length++] = static_cast<char>(0xF0 | code_point >> 18);
        bytes[length++] = static_cast<char>(0x80 | (code_point >> 12 & 0x3F));
        bytes[length++] = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
        bytes[length++] = static_cast<char>(0x80 | (code_point & 0x3F));
    }
    out.append(bytes, length);
}

// Whether a number too large or too small for a double, whose text is `number`, is too large
// (rather than so small that it reads as zero): the power of ten of its first significant
// digit decides.
bool overflows(std::string_view number) {
    std::size_t i = number.front() == '-' ? 1 : 0;
    long long magnitude = 0; // power of ten of the first significant digit, plus one
    bool significant = false;
    for (; i < number.size() && is_digit(number[i]); ++i) {
        significant = significant || number[i] != '0';
        magnitude += significant ? 1 : 0;
    }
    if (i < number.size() && number[i] == '.') {
        for (++i; i < number.size() && is_digit(number[i]); ++i) {
            if (!significant && number[i] == '0') {
                --magnitude;
            }
            significant = significant || number[i] != '0';
        }
    }
    if (!significant) {
        return false;
    }
    long long exponent = 0;
    if (i < number.size()) { // e or E
        ++i;
        const bool negative = number[i] == '-';
        i += number[i] == '-' || number[i] == '+' ? 1 : 0;
        for (; i < number.size(); ++i) {
            exponent = std::min(exponent * 10 + (number[i] - '0'), 1'000'000'000'000LL);
        }
        exponent = negative ? -exponent : exponent;
    }
    return magnitude + exponent > 0;
}

} // namespace

std::string_view message(Syntax what) {
    switch (what) {
    case Syntax::EofWhileParsingList:
        return "EOF while parsing a list";
    case Syntax::EofWhileParsingObject:
        return "EOF while parsing an object";
    case Syntax::EofWhileParsingString:
        return "EOF while parsing a string";
    case Syntax::EofWhileParsingValue:
        return "EOF while parsing a value";
    case Syntax::ExpectedColon:
        return "expected `:`";
    case Syntax::ExpectedListCommaOrEnd:
        return "expected `,` or `]`";
    case Syntax::ExpectedObjectCommaOrEnd:
        return "expected `,` or `}`";
    case Syntax::ExpectedIdent:
        return "expected ident";
    case Syntax::ExpectedValue:
        return "expected value";
    case Syntax::InvalidEscape:
        return "invalid escape";
    case Syntax::InvalidNumber:
        return "invalid number";
    case Syntax::NumberOutOfRange:
        return "number out of range";
    case Syntax::InvalidUnicodeCodePoint:
        return "invalid unicode code point";
    case Syntax::ControlCharacterInString:
        return "control character (\\u0000-\\u001F) found while parsing a string";
    case Syntax::KeyMustBeAString:
        return "key must be a string";
    case Syntax::LoneLeadingSurrogate:
        return "lone leading surrogate in hex escape";
    case Syntax::UnexpectedEndOfHexEscape:
        return "unexpected end of hex escape";
    case Syntax::TrailingComma:
        return "trailing comma";
    case Syntax::TrailingCharacters:
        return "trailing characters";
    case Syntax::RecursionLimitExceeded:
        return "recursion limit exceeded";
    }
    return "unknown error";
}

Position position_of(std::string_view text, std::size_t offset) {
    const std::string_view before = text.substr(0, offset);
    const std::size_t last_line_feed = before.rfind('\n');
    const auto line_feeds =
        static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t column = last_line_feed == std::string_view::npos
                                   ? before.size()
                                   : before.size() - last_line_feed - 1;
    return {1 + line_feeds, column};
}

JsonError error_at(std::string_view text, std::size_t offset, std::string message) {
    const Position at = position_of(text, offset);
    return {std::move(message), at.line, at.column};
}

JsonError to_error(std::string_view text, const Fault& fault) {
    return error_at(text, fault.offset, std::string{message(fault.what)});
}

// The first byte at or after `from` that a string cannot take as it is: a quote, a backslash
// or a control byte. Eight bytes at a time while none is in sight.
std::size_t Cursor::plain_end(std::size_t from) const noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highs = 0x8080808080808080;
    const auto has_zero = [](std::uint64_t word) { return (word - ones) & ~word & highs; };
    while (size_ - from >= 8) {
        std::uint64_t word;
        std::memcpy(&word, data_ + from, 8);
        const std::uint64_t below_space = (word - ones * 0x20) & ~word & highs;
        if (below_space | has_zero(word ^ (ones * '"')) | has_zero(word ^ (ones * '\\'))) {
            break;
        }
        from += 8;
    }
    while (from < size_) {
        const auto byte = static_cast<unsigned char>(data_[from]);
        if (byte == '"' || byte == '\\' || byte < 0x20) {
            break;
        }
        ++from;
    }
    return from;
}

Result<> Cursor::read_string(std::string& out, Utf8 utf8) {
    const std::size_t decoded_from = out.size();
    std::size_t start = pos_;
    for (;;) {
        pos_ = plain_end(pos_);
        if (pos_ == size_) {
            return std::unexpected(here(Syntax::EofWhileParsingString));
        }
        const char byte = data_[pos_];
        if (byte == '"') {
            out.append(data_ + start, pos_ - start);
            ++pos_;
            // Checked on the decoded value, after the closing quote, as escapes may split it.
            if (utf8 == Utf8::Check &&
                !platform::is_valid_utf8(std::string_view{out}.substr(decoded_from))) {
                return std::unexpected(here(Syntax::InvalidUnicodeCodePoint));
            }
            return {};
        }
        if (byte == '\\') {
            out.append(data_ + start, pos_ - start);
            ++pos_;
            if (auto escaped = read_escape(out); !escaped) {
                return escaped;
            }
            start = pos_;
            continue;
        }
        ++pos_;
        return std::unexpected(here(Syntax::ControlCharacterInString));
    }
}

Result<> Cursor::skip_string() noexcept {
    for (;;) {
        pos_ = plain_end(pos_);
        if (pos_ == size_) {
            return std::unexpected(here(Syntax::EofWhileParsingString));
        }
        const char byte = data_[pos_++];
        if (byte == '"') {
            return {};
        }
        if (byte != '\\') {
            return std::unexpected(here(Syntax::ControlCharacterInString));
        }
        if (auto escaped = skip_escape(); !escaped) {
            return escaped;
        }
    }
}

Result<Cursor::RawString> Cursor::scan_string() noexcept {
    const std::size_t begin = pos_;
    bool escaped = false;
    for (;;) {
        pos_ = plain_end(pos_);
        if (pos_ == size_) {
            return std::unexpected(here(Syntax::EofWhileParsingString));
        }
        const char byte = data_[pos_++];
        if (byte == '"') {
            return RawString{begin, pos_ - 1, escaped};
        }
        if (byte != '\\') {
            return std::unexpected(here(Syntax::ControlCharacterInString));
        }
        escaped = true;
        if (auto skipped = skip_escape(); !skipped) {
            return std::unexpected(skipped.error());
        }
    }
}

Result<std::uint32_t> Cursor::read_hex4() noexcept {
    if (size_ - pos_ < 4) {
        pos_ = size_;
        return std::unexpected(here(Syntax::EofWhileParsingString));
    }
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hex_value(static_cast<unsigned char>(data_[pos_++]));
        if (digit < 0) {
            return std::unexpected(here(Syntax::InvalidEscape));
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

Result<> Cursor::read_escape(std::string& out) {
    if (pos_ == size_) {
        return std::unexpected(here(Syntax::EofWhileParsingString));
    }
    switch (data_[pos_++]) {
    case '"':
        out += '"';
        return {};
    case '\\':
        out += '\\';
        return {};
    case '/':
        out += '/';
        return {};
    case 'b':
        out += '\b';
        return {};
    case 'f':
        out += '\f';
        return {};
    case 'n':
        out += '\n';
        return {};
    case 'r':
        out += '\r';
        return {};
    case 't':
        out += '\t';
        return {};
    case 'u':
        break;
    default:
        return std::unexpected(here(Syntax::InvalidEscape));
    }
    const Result<std::uint32_t> first = read_hex4();
    if (!first) {
        return std::unexpected(first.error());
    }
    if (*first >= 0xDC00 && *first <= 0xDFFF) {
        return std::unexpected(here(Syntax::LoneLeadingSurrogate));
    }
    if (*first < 0xD800 || *first > 0xDBFF) {
        append_utf8(out, *first);
        return {};
    }
    // A leading surrogate: the trailing one must follow at once as another \u escape.
    for (const char expected : {'\\', 'u'}) {
        if (pos_ == size_) {
            return std::unexpected(here(Syntax::EofWhileParsingString));
        }
        if (data_[pos_++] != expected) {
            return std::unexpected(here(Syntax::UnexpectedEndOfHexEscape));
        }
    }
    const Result<std::uint32_t> second = read_hex4();
    if (!second) {
        return std::unexpected(second.error());
    }
    if (*second < 0xDC00 || *second > 0xDFFF) {
        return std::unexpected(here(Syntax::LoneLeadingSurrogate));
    }
    append_utf8(out, 0x10000 + ((*first - 0xD800) << 10 | (*second - 0xDC00)));
    return {};
}

Result<> Cursor::skip_escape() noexcept {
    if (pos_ == size_) {
        return std::unexpected(here(Syntax::EofWhileParsingString));
    }
    switch (data_[pos_++]) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
        return {};
    case 'u':
        if (auto digits = read_hex4(); !digits) {
            return std::unexpected(digits.error());
        }
        return {};
    default:
        return std::unexpected(here(Syntax::InvalidEscape));
    }
}

Result<> Cursor::scan_number(Syntax at_end) noexcept {
    const auto digit_at = [this](std::size_t at) {
        return at < size_ && is_digit(static_cast<unsigned char>(data_[at]));
    };
    // A digit is due but missing: the point is just after the byte that stands there, or the
    // end of the text.
    const auto no_digit = [&] {
        if (pos_ == size_) {
            return std::unexpected(here(at_end));
        }
        ++pos_;
        return std::unexpected(here(Syntax::InvalidNumber));
    };
    if (data_[pos_] == '-') {
        ++pos_;
    }
    if (!digit_at(pos_)) {
        return no_digit();
    }
    if (data_[pos_++] == '0') {
        if (digit_at(pos_)) {
            ++pos_;
            return std::unexpected(here(Syntax::InvalidNumber));
        }
    } else {
        while (digit_at(pos_)) {
            ++pos_;
        }
    }
    if (pos_ < size_ && data_[pos_] == '.') {
        ++pos_;
        if (!digit_at(pos_)) {
            return no_digit();
        }
        while (digit_at(pos_)) {
            ++pos_;
        }
    }
    if (pos_ < size_ && (data_[pos_] | 0x20) == 'e') {
        ++pos_;
        if (pos_ < size_ && (data_[pos_] == '+' || data_[pos_] == '-')) {
            ++pos_;
        }
        if (!digit_at(pos_)) {
            return no_digit();
        }
        while (digit_at(pos_)) {
            ++pos_;
        }
    }
    return {};
}

Result<> Cursor::skip_number() noexcept {
    return scan_number(Syntax::InvalidNumber);
}

Result<Number> Cursor::read_number() noexcept {
    const std::size_t start = pos_;
    if (auto grammar = scan_number(Syntax::EofWhileParsingValue); !grammar) {
        return std::unexpected(grammar.error());
    }
    const std::string_view text{data_ + start, pos_ - start};
    const bool negative = text.front() == '-';
    Number number;
    if (text.find_first_of(".eE") == std::string_view::npos) {
        std::uint64_t magnitude = 0;
        const char* digits = text.data() + (negative ? 1 : 0);
        if (std::from_chars(digits, text.data() + text.size(), magnitude).ec == std::errc{}) {
            if (!negative) {
                number.kind = Number::Kind::Unsigned;
                number.u = magnitude;
                return number;
            }
            // Minus zero and anything below the 64-bit range are doubles.
            if (magnitude != 0 && magnitude <= std::uint64_t{1} << 63) {
                number.kind = Number::Kind::Signed;
                number.i = static_cast<std::int64_t>(0 - magnitude);
                return number;
            }
        }
    }
    number.kind = Number::Kind::Float;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), number.f);
    if (parsed.ec == std::errc::result_out_of_range) {
        if (overflows(text)) {
            return std::unexpected(here(Syntax::NumberOutOfRange));
        }
        number.f = negative ? -0.0 : 0.0;
    }
    return number;
}

Result<> Cursor::read_literal(std::string_view word) noexcept {
    ++pos_; // its first byte is the one that chose the word
    for (const char expected : word.substr(1)) {
        if (pos_ == size_) {
            return std::unexpected(here(Syntax::EofWhileParsingValue));
        }
        if (data_[pos_++] != expected) {
            return std::unexpected(here(Syntax::ExpectedIdent));
        }
    }
    return {};
}

Result<> Cursor::skip_value() {
    // One bit per open bracket, innermost last: true for an object, false for an array.
    std::vector<bool> open;
    for (;;) {
        bool accept_comma = true;
        switch (peek_token()) {
        case -1:
            return std::unexpected(here(Syntax::EofWhileParsingValue));
        case 'n':
            if (auto taken = read_literal("null"); !taken) {
                return taken;
            }
            break;
        case 't':
            if (auto taken = read_literal("true"); !taken) {
                return taken;
            }
            break;
        case 'f':
            if (auto taken = read_literal("false"); !taken) {
                return taken;
            }
            break;
        case '"':
            ++pos_;
            if (auto taken = skip_string(); !taken) {
                return taken;
            }
            break;
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
            if (auto taken = skip_number(); !taken) {
                return taken;
            }
            break;
        case '[':
        case '{':
            open.push_back(data_[pos_] == '{');
            ++pos_;
            accept_comma = false;
            break;
        default:
            return std::unexpected(after_peek(Syntax::ExpectedValue));
        }
        // After a value: close brackets until a comma leads on to the next value. Right after
        // an opening bracket: close it at once if it is empty.
        for (;;) {
            if (open.empty()) {
                return {};
            }
            const bool object = open.back();
            const int next = peek_token();
            if (next == ',' && accept_comma) {
                ++pos_;
                break;
            }
            if (next == (object ? '}' : ']')) {
                ++pos_;
                open.pop_back();
                accept_comma = true;
                continue;
            }
            if (next == -1) {
                return std::unexpected(
                    here(object ? Syntax::EofWhileParsingObject : Syntax::EofWhileParsingList));
            }
            if (accept_comma) {
                return std::unexpected(after_peek(object ? Syntax::ExpectedObjectCommaOrEnd
                                                         : Syntax::ExpectedListCommaOrEnd));
            }
            break;
        }
        if (open.back()) { // a member's key and colon come before its value
            const int quote = peek_token();
            if (quote != '"') {
                return std::unexpected(quote == -1 ? here(Syntax::EofWhileParsingObject)
                                                   : after_peek(Syntax::KeyMustBeAString));
            }
            ++pos_;
            if (auto key = skip_string(); !key) {
                return key;
            }
            const int colon = peek_token();
            if (colon != ':') {
                return std::unexpected(colon == -1 ? here(Syntax::EofWhileParsingObject)
                                                   : after_peek(Syntax::ExpectedColon));
            }
            ++pos_;
        }
    }
}

} // namespace kov::json
