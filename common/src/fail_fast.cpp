#include "kov/fail_fast.hpp"

#include "platform/process.hpp"
#include "platform/standard_error.hpp"

#include <charconv>

namespace kov {
namespace {

void write_number(std::uint_least32_t number) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    (void)platform::write_standard_error({digits, static_cast<std::size_t>(end - digits)});
}

} // namespace

void fail_fast(std::string_view detail, std::source_location where) {
    // The report is best effort: a write that fails cannot be reported anywhere else.
    (void)platform::write_standard_error("fatal error at ");
    (void)platform::write_standard_error(where.file_name());
    (void)platform::write_standard_error(":");
    write_number(where.line());
    (void)platform::write_standard_error(":");
    write_number(where.column());
    (void)platform::write_standard_error(": ");
    (void)platform::write_standard_error(detail);
    (void)platform::write_standard_error("\n");
    platform::fast_fail();
}

void fail_fast(const platform::SystemError& error, std::source_location where) {
    fail_fast(platform::describe(error), where);
}

void fail_fast(const platform::ComError& error, std::source_location where) {
    fail_fast(platform::describe(error), where);
}

} // namespace kov
