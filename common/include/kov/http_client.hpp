#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>

namespace kov {

// The time limit of every blocking wait of the run on the network.
inline constexpr std::chrono::seconds HTTP_TIMEOUT{30};

// The run's one HTTP client: built once, lent by reference to every step that goes online.
class HttpClient {
public:
    HttpClient(HttpClient&&) noexcept;
    HttpClient& operator=(HttpClient&&) noexcept;
    ~HttpClient();

    struct State;

private:
    friend HttpClient build_http_client(std::optional<std::string_view> ca);
    explicit HttpClient(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Builds the client, trusting the PEM bundle `ca` besides the built-in and system roots.
// Every failure ends the run abnormally.
HttpClient build_http_client(std::optional<std::string_view> ca);

} // namespace kov
