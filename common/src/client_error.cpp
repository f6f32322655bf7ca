#include "kov/client_error.hpp"

#include "kov/fail_fast.hpp"

#include <charconv>

namespace kov {
namespace {

void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

} // namespace

std::string_view kind_name(ClientErrorKind kind) {
    switch (kind) {
    case ClientErrorKind::Builder:
        return "Builder";
    case ClientErrorKind::Request:
        return "Request";
    case ClientErrorKind::Redirect:
        return "Redirect";
    case ClientErrorKind::Status:
        return "Status";
    case ClientErrorKind::Body:
        return "Body";
    case ClientErrorKind::Decode:
        return "Decode";
    }
    return "Unknown";
}

std::string debug_form(const ClientError& error) {
    std::string out = "ClientError { kind: ";
    out += kind_name(error.kind);
    if (error.status) {
        char digits[8];
        const auto end = std::to_chars(digits, digits + sizeof digits, *error.status).ptr;
        out += '(';
        out.append(digits, end);
        out += ')';
    }
    if (error.url) {
        out += ", url: ";
        append_quoted(out, *error.url);
    }
    if (!error.cause.empty()) {
        out += ", cause: ";
        append_quoted(out, error.cause);
    }
    out += " }";
    return out;
}

void fail_fast(const ClientError& error, std::source_location where) {
    fail_fast(std::string_view{debug_form(error)}, where);
}

} // namespace kov
