#pragma once

#include <optional>
#include <string>

namespace kov {

enum class ClientErrorKind {
    Builder,  // setting up the client or a request
    Request,  // sending, connecting, or waiting for the answer's head
    Redirect, // following a redirect
    Status,   // a status the caller treats as an error
    Body,     // the body stream
    Decode,   // reading the body in time, or decoding it
};

// The error of every failing operation of the HTTP client.
struct ClientError {
    ClientErrorKind kind = ClientErrorKind::Builder;
    std::optional<std::string> url;
    std::string cause;
};

} // namespace kov
