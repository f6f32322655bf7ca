#include "kov/http_client.hpp"

#include "kov/fail_fast.hpp"

namespace kov {

struct HttpClient::State {};

HttpClient::HttpClient(std::unique_ptr<State> state) : state_(std::move(state)) {}
HttpClient::HttpClient(HttpClient&&) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&&) noexcept = default;
HttpClient::~HttpClient() = default;

HttpClient build_http_client(std::optional<std::string_view> /*ca*/) {
    fail_fast("build_http_client is not built yet");
}

} // namespace kov
