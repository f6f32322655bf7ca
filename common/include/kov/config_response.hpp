#pragma once

#include "kov/client_error.hpp"
#include "kov/json_reader.hpp"

#include <chrono>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kov {

class HttpResponse;

// The configuration service's answer: the installer configuration, with a question for the user
// to confirm first when `prompt` is present, or the service's error in its own words.
struct InstallerConfigResponse {
    struct Success {
        std::optional<std::string> prompt; // present and empty differs from absent
        std::string config;

        friend bool operator==(const Success&, const Success&) = default;
    };
    struct Error {
        std::string error;

        friend bool operator==(const Error&, const Error&) = default;
    };

    std::variant<Success, Error> value;

    friend bool operator==(const InstallerConfigResponse&,
                           const InstallerConfigResponse&) = default;
};

// The message when an object is neither form; it has no position (line 0, column 0).
inline constexpr std::string_view NO_VARIANT_MATCHED =
    "data did not match any variant of untagged enum InstallerConfigResponse";

// Decodes a whole answer body: one JSON value, matched as `Success` first, then as `Error`;
// after a match only whitespace may follow it.
std::expected<InstallerConfigResponse, JsonError> decode_config_response(std::string_view body);

// Gathers the body of the configuration request's response within the response's time limit,
// counted once from now, and decodes it. Every failure is a `Decode` error without address; a
// JSON failure's cause is its message with " at line L column C" when it has a position. The
// response is released before this returns.
std::expected<InstallerConfigResponse, ClientError> read_config_response(HttpResponse&& response);

// The same, with the deadline for the whole body given. Body data at hand is taken without
// reading the clock, and the decoding is not timed.
std::expected<InstallerConfigResponse, ClientError>
read_config_response(HttpResponse&& response, std::chrono::steady_clock::time_point deadline);

} // namespace kov
