#pragma once

#include <cstdint>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

namespace kov {

enum class ClientErrorKind {
    Builder,  // setting up the client or a request
    Request,  // sending, connecting, or waiting for the answer's head
    Redirect, // following a redirect
    Status,   // a status the caller treats as an error
    Body,     // the body stream
    Decode,   // reading the body in time, or decoding it
};

// The cause of every wait that runs past the client's limit.
inline constexpr std::string_view TIMED_OUT = "operation timed out";

// The error of every failing operation of the HTTP client.
struct ClientError {
    ClientErrorKind kind = ClientErrorKind::Builder;
    std::optional<std::string> url;
    std::string cause;
    std::optional<std::uint16_t> status = std::nullopt; // for `Status` only

    friend bool operator==(const ClientError&, const ClientError&) = default;
};

std::string_view kind_name(ClientErrorKind kind);

// The failure report's detail: ClientError { kind: Request, url: "…", cause: "…" }, with the
// status as Status(404), without url when there is none.
std::string debug_form(const ClientError& error);

// Ends the run abnormally with the error's debug form.
[[noreturn]] void fail_fast(const ClientError& error,
                            std::source_location where = std::source_location::current());

} // namespace kov
