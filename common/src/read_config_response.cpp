#include "kov/config_response.hpp"
#include "kov/http_client.hpp"

#include <chrono>
#include <string>
#include <utility>

namespace kov {
namespace {

// The whole body, gathered before `deadline`. The response, with its connection, goes when this
// returns.
std::expected<std::string, ClientError>
gather_body(HttpResponse response, std::chrono::steady_clock::time_point deadline) {
    return response.read_to_end(deadline);
}

ClientError decode_failure(std::string cause) {
    return ClientError{ClientErrorKind::Decode, std::nullopt, std::move(cause)};
}

// The no-match failure has no position (line 0) and is reported by its message alone.
std::string cause_of(const JsonError& error) {
    if (error.line == 0) {
        return error.message;
    }
    return error.message + " at line " + std::to_string(error.line) + " column " +
           std::to_string(error.column);
}

} // namespace

std::expected<InstallerConfigResponse, ClientError> read_config_response(HttpResponse&& response) {
    // One deadline for the whole body, counted from before the first read.
    const auto deadline = std::chrono::steady_clock::now() + response.time_limit();
    return read_config_response(std::move(response), deadline);
}

std::expected<InstallerConfigResponse, ClientError>
read_config_response(HttpResponse&& response, std::chrono::steady_clock::time_point deadline) {
    std::expected<std::string, ClientError> body = gather_body(std::move(response), deadline);
    if (!body) {
        // A time-out or a failed transfer, with the client's own cause.
        return std::unexpected(decode_failure(std::move(body.error().cause)));
    }
    // Not timed: a body gathered in time is decoded however long that takes.
    std::expected<InstallerConfigResponse, JsonError> decoded = decode_config_response(*body);
    if (!decoded) {
        return std::unexpected(decode_failure(cause_of(decoded.error())));
    }
    return std::move(*decoded);
}

} // namespace kov
