#pragma once

// The strict JSON reader core shared by the installer tag (read in one pass, ignored values
// skipped without building anything) and the configuration answer (read into a document tree).
// Every failure carries a fixed message and the line and column where reading stopped, so the
// core works on byte offsets and turns an offset into a line and column only when it fails.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace kov {

// A decoding failure as the caller reports it.
struct JsonError {
    std::string message;
    std::size_t line = 0;   // 1 plus the line feeds before the point
    std::size_t column = 0; // bytes from the start of that line up to the point

    friend bool operator==(const JsonError&, const JsonError&) = default;
};

// "Error(\"message\", line: L, column: C)", the message quoted as append_debug_quoted does.
std::string debug_form(const JsonError& error);

// Appends `text` in double quotes: quote and backslash preceded by a backslash, tab, carriage
// return, line feed and NUL as \t \r \n \0, and every other control, format, separator,
// private-use, unassigned or combining character as \u{hex}. Bytes that are not UTF-8 are
// written as \u{fffd}.
void append_debug_quoted(std::string& out, std::string_view text);

namespace json {

// The syntax failures, each with its fixed message (see `message`).
enum class Syntax : std::uint8_t {
    EofWhileParsingList,
    EofWhileParsingObject,
    EofWhileParsingString,
    EofWhileParsingValue,
    ExpectedColon,
    ExpectedListCommaOrEnd,
    ExpectedObjectCommaOrEnd,
    ExpectedIdent,
    ExpectedValue,
    InvalidEscape,
    InvalidNumber,
    NumberOutOfRange,
    InvalidUnicodeCodePoint,
    ControlCharacterInString,
    KeyMustBeAString,
    LoneLeadingSurrogate,
    UnexpectedEndOfHexEscape,
    TrailingComma,
    TrailingCharacters,
    RecursionLimitExceeded,
};

std::string_view message(Syntax what);

// A syntax failure at a byte offset of the text; cheap to pass around on the hot paths.
struct Fault {
    Syntax what;
    std::size_t offset;
};

template <class T = void>
using Result = std::expected<T, Fault>;

struct Position {
    std::size_t line;
    std::size_t column;
};

// Line and column of the point `offset` bytes into `text` (at most its size).
Position position_of(std::string_view text, std::size_t offset);

JsonError to_error(std::string_view text, const Fault& fault);
JsonError error_at(std::string_view text, std::size_t offset, std::string message);

// A number read for its value. Integers keep 64 bits where they fit; every other number,
// minus zero included, is a double.
struct Number {
    enum class Kind : std::uint8_t { Unsigned, Signed, Float };
    Kind kind = Kind::Unsigned;
    union {
        std::uint64_t u = 0;
        std::int64_t i;
        double f;
    };
};

// Whether a string's decoded bytes must be UTF-8. The tag text has been checked as a whole
// before it is read; a response body has not.
enum class Utf8 : std::uint8_t { Trusted, Check };

// Reads the text from left to right. Operations that can fail return a Fault whose offset is
// the point where reading stopped: just after the byte that broke the grammar, or the end of
// the text when it ended too early.
class Cursor {
public:
    explicit Cursor(std::string_view text) noexcept : data_{text.data()}, size_{text.size()} {}

    std::string_view text() const noexcept { return {data_, size_}; }
    std::size_t offset() const noexcept { return pos_; }

    // Skips whitespace (space, tab, line feed, carriage return) and returns the next byte
    // without taking it, or -1 at the end of the text.
    int peek_token() noexcept {
        while (pos_ < size_) {
            const auto byte = static_cast<unsigned char>(data_[pos_]);
            if (byte != ' ' && byte != '\n' && byte != '\t' && byte != '\r') {
                return byte;
            }
            ++pos_;
        }
        return -1;
    }

    // Takes the byte that peek_token returned.
    void bump() noexcept { ++pos_; }

    // A failure at the reading point, and one just after the byte at the reading point.
    Fault here(Syntax what) const noexcept { return {what, pos_}; }
    Fault after_peek(Syntax what) const noexcept { return {what, pos_ < size_ ? pos_ + 1 : pos_}; }

    // Reads a string whose opening quote has been taken, appending its decoded value to `out`.
    // A \u escape of a surrogate must be one half of a correctly ordered pair.
    Result<> read_string(std::string& out, Utf8 utf8 = Utf8::Trusted);
    // Steps over a string whose opening quote has been taken; any four hexadecimal digits may
    // follow \u.
    Result<> skip_string() noexcept;

    // Where a string's raw bytes lie, between its quotes, and whether they hold an escape.
    struct RawString {
        std::size_t begin;
        std::size_t end;
        bool escaped;
    };
    // Steps over a string as skip_string does and tells where it lies, so that one without
    // escapes can be used in place and one with escapes decoded into storage sized for it.
    Result<RawString> scan_string() noexcept;

    // Moves the reading point back to an offset already read, to read a scanned string again.
    void seek(std::size_t offset) noexcept { pos_ = offset; }

    // Reads the number that starts at the reading point ('-' or a digit). The text ending
    // where a digit is due gives "EOF while parsing a value", a double overflow "number out of
    // range".
    Result<Number> read_number() noexcept;
    // Steps over the number that starts at the reading point, by its grammar only.
    Result<> skip_number() noexcept;

    // Takes `word` (true, false or null) whose first byte is at the reading point.
    Result<> read_literal(std::string_view word) noexcept;

    // Steps over the value that starts after optional whitespace, nested to any depth: open
    // brackets are kept on a stack of their own, one bit per level, never on the call stack.
    Result<> skip_value();

    // Reads the value at the reading point for a type mismatch and describes it as the
    // message "invalid type: ..., expected ..." names it: "null", "boolean `true`",
    // "integer `5`", "floating point `0.5`", "string \"...\"", "sequence" or "map". Scalars
    // are taken; an array or object is left in place, since its opening bracket is where the
    // mismatch is reported.
    Result<std::string> describe_unexpected();

private:
    Result<> read_escape(std::string& out);
    Result<std::uint32_t> read_hex4() noexcept;
    Result<> skip_escape() noexcept;
    Result<> scan_number(Syntax at_end) noexcept;
    std::size_t plain_end(std::size_t from) const noexcept;

    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// The type-mismatch message for a value described by Cursor::describe_unexpected.
std::string invalid_type(std::string_view found, std::string_view expected);

// The double as a type-mismatch message names it: plain decimal notation, the shortest digits
// that read back as the same double, ".0" appended when there is no decimal point.
std::string describe_float(double value);

} // namespace json
} // namespace kov
