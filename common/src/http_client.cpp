#include "kov/http_client.hpp"

#include "kov/fail_fast.hpp"

namespace kov {

struct HttpClient::State {};
struct HttpRequest::State {};
struct HttpResponse::State {};

HttpClient::HttpClient(std::shared_ptr<State> state) : state_(std::move(state)) {}

HttpRequest HttpClient::get(std::string_view /*url*/) const {
    fail_fast("HttpClient::get is not built yet");
}

std::chrono::nanoseconds HttpClient::time_limit() const {
    return HTTP_TIMEOUT;
}

std::expected<HttpClient, ClientError> make_http_client(std::optional<std::string_view> /*ca*/,
                                                        const ClientOptions& /*options*/) {
    fail_fast("make_http_client is not built yet");
}

HttpClient build_http_client(std::optional<std::string_view> /*ca*/) {
    fail_fast("build_http_client is not built yet");
}

HttpRequest::HttpRequest(std::unique_ptr<State> state) : state_(std::move(state)) {}
HttpRequest::HttpRequest(HttpRequest&&) noexcept = default;
HttpRequest& HttpRequest::operator=(HttpRequest&&) noexcept = default;
HttpRequest::~HttpRequest() = default;
HttpRequest& HttpRequest::header(std::string_view, std::string_view) {
    return *this;
}
HttpRequest& HttpRequest::append_query_pair(std::string_view, std::string_view) {
    return *this;
}
std::expected<HttpResponse, ClientError> HttpRequest::send() && {
    fail_fast("HttpRequest::send is not built yet");
}

HttpResponse::HttpResponse(std::unique_ptr<State> state) : state_(std::move(state)) {}
HttpResponse::HttpResponse(HttpResponse&&) noexcept = default;
HttpResponse& HttpResponse::operator=(HttpResponse&&) noexcept = default;
HttpResponse::~HttpResponse() = default;
std::uint16_t HttpResponse::status() const {
    fail_fast("not built yet");
}
const std::string& HttpResponse::url() const {
    fail_fast("not built yet");
}
std::span<const std::pair<std::string, std::string>> HttpResponse::headers() const {
    fail_fast("not built yet");
}
std::optional<std::string_view> HttpResponse::header(std::string_view) const {
    fail_fast("not built yet");
}
std::optional<std::uint64_t> HttpResponse::content_length() const {
    fail_fast("not built yet");
}
std::chrono::nanoseconds HttpResponse::time_limit() const {
    return HTTP_TIMEOUT;
}
std::expected<void, ClientError> HttpResponse::check_status() const {
    fail_fast("not built yet");
}
std::expected<std::size_t, ClientError> HttpResponse::read(std::span<std::byte>) {
    fail_fast("not built yet");
}
std::expected<std::string, ClientError>
HttpResponse::read_to_end(std::chrono::steady_clock::time_point) {
    fail_fast("not built yet");
}

} // namespace kov
