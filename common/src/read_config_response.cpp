#include "kov/config_response.hpp"
#include "kov/http_client.hpp"

#include <chrono>
#include <string>
#include <utility>

namespace kov {
namespace {

// The whole body, gathered under one deadline counted from now, before the first read. The
// response, with its connection, goes when this returns.
std::expected<std::string, ClientError> gather_body(HttpResponse response) {
    const auto deadline = std::chrono::steady_clock::now() + response.time_limit();
    return response.read_to_end(deadline);
}

ClientError decode_failure(std::string cause) {
    return ClientError{ClientErrorKind::Decode, std::nullopt, std::move(cause)};
}

std::string cause_of(const JsonError& error) {
    return error.message + " at line " + std::to_string(error.line) + " column " +
           std::to_string(error.column);
}

} // namespace

std::expected<InstallerConfigResponse, ClientError> read_config_response(HttpResponse&& response) {
    std::expected<std::string, ClientError> body = gather_body(std::move(response));
    if (!body) {
        // A time-out or a failed transfer, with the client's own cause.
        return std::unexpected(decode_failure(std::move(body.error().cause)));
    }
    std::expected<InstallerConfigResponse, JsonError> decoded = decode_config_response(*body);
    if (!decoded) {
        return std::unexpected(decode_failure(cause_of(decoded.error())));
    }
    return std::move(*decoded);
}

} // namespace kov
