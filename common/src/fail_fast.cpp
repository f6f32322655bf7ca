#include "kov/fail_fast.hpp"

#include "platform/process.hpp"
#include "platform/standard_error.hpp"

#include <charconv>

namespace kov {
namespace {

// Nothing on this road allocates: the report may be that of a failed allocation, and a write
// that fails must not build a message text either. The report is best effort: a write that
// fails cannot be reported anywhere else.
void write(std::string_view text) {
    (void)platform::write_standard_error_code(text);
}

void write_number(std::uint_least32_t number) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    write({digits, static_cast<std::size_t>(end - digits)});
}

void write_head(std::source_location where) {
    write("fatal error at ");
    write(where.file_name());
    write(":");
    write_number(where.line());
    write(":");
    write_number(where.column());
    write(": ");
}

[[noreturn]] void end_report() {
    write("\n");
    platform::fast_fail();
}

} // namespace

void fail_fast(std::string_view detail, std::source_location where) {
    write_head(where);
    write(detail);
    end_report();
}

// The detail as platform::describe writes it, without building it.
void fail_fast(const platform::SystemError& error, std::source_location where) {
    write_head(where);
    write(error.operation);
    write(" failed: ");
    write(error.message);
    write(" (os error ");
    write_number(error.code);
    write(")");
    end_report();
}

void fail_fast(const platform::ComError& error, std::source_location where) {
    write_head(where);
    write(error.operation);
    write(" failed: ");
    write(error.message);
    write(" (HRESULT 0x");
    char digits[8];
    for (std::size_t i = 0; i < sizeof digits; ++i) {
        digits[i] = "0123456789ABCDEF"[error.hresult >> (28 - 4 * i) & 0xF];
    }
    write({digits, sizeof digits});
    write(")");
    end_report();
}

} // namespace kov
