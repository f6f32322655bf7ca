#pragma once

#include "kov/client_error.hpp"
#include "kov/proxy.hpp"
#include "kov/trust_store.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kov {

// The time limit of every blocking wait of the run on the network: the send up to the final
// answer head, each single body read, and the gathering of the configuration answer.
inline constexpr std::chrono::seconds HTTP_TIMEOUT{30};

class HttpRequest;
class HttpResponse;

// What a client is built from besides the `ca` text. The product uses the defaults; tests shorten
// the limit and give their own environment and Internet Settings.
struct ClientOptions {
    std::chrono::nanoseconds time_limit = HTTP_TIMEOUT;
    EnvironmentLookup environment = process_environment;
    InternetSettingsLookup internet_settings = read_internet_settings;
};

// The run's one HTTP client: built once, lent by reference to every step that goes online.
// Requests and responses share its state, so it outlives every response.
class HttpClient {
public:
    // A GET of `url`. The address is parsed now; a fault is reported by the send.
    HttpRequest get(std::string_view url) const;

    std::chrono::nanoseconds time_limit() const;

    struct State;

private:
    friend std::expected<HttpClient, ClientError> make_http_client(std::optional<std::string_view>,
                                                                   const ClientOptions&);
    explicit HttpClient(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// Builds the client, trusting the PEM bundle `ca` besides the built-in and system roots.
// Every failure ends the run abnormally.
HttpClient build_http_client(std::optional<std::string_view> ca);

// The same, returning the failure.
std::expected<HttpClient, ClientError> make_http_client(std::optional<std::string_view> ca,
                                                        const ClientOptions& options);

// A request being built. A fault met while building (an address that does not parse, an invalid
// header value) marks it failed; later additions are skipped and the send reports the fault.
class HttpRequest {
public:
    HttpRequest(HttpRequest&&) noexcept;
    HttpRequest& operator=(HttpRequest&&) noexcept;
    ~HttpRequest();

    // Appends a header. A value with a byte below 0x20 other than TAB, or 0x7F, marks the request
    // failed.
    HttpRequest& header(std::string_view name, std::string_view value);

    // Appends one form-urlencoded pair to the address's query: "?" when there is none, "&" when
    // it is not empty (even after a trailing "&"); the fragment stays after the query.
    HttpRequest& append_query_pair(std::string_view key, std::string_view value);

    // Sends the request and waits, within the client's limit, for the head of the final answer
    // after the redirects the client follows. Any status is a response.
    std::expected<HttpResponse, ClientError> send() &&;

    struct State;

private:
    friend class HttpClient;
    explicit HttpRequest(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// A response whose head has arrived. Releasing it gives up what is left of its body.
class HttpResponse {
public:
    HttpResponse(HttpResponse&&) noexcept;
    HttpResponse& operator=(HttpResponse&&) noexcept;
    ~HttpResponse();

    std::uint16_t status() const;
    // The address of the final answer, after redirects.
    const std::string& url() const;
    // Header fields in arrival order, names as sent.
    std::span<const std::pair<std::string, std::string>> headers() const;
    // The first value of a header, the name compared without regard to case.
    std::optional<std::string_view> header(std::string_view name) const;
    // The body's length when the head announces an exact one.
    std::optional<std::uint64_t> content_length() const;
    // The client's time limit, carried for the whole-body wait.
    std::chrono::nanoseconds time_limit() const;

    // A status from 400 to 599 as a `Status` error with the address.
    std::expected<void, ClientError> check_status() const;

    // Reads the body into `buffer`: between 1 and buffer.size() bytes, 0 at the end of the body.
    // Waits for data at most the time limit, counted from the start of this read; expiry is a
    // `Decode` error "operation timed out", a failed transfer a `Body` error.
    std::expected<std::size_t, ClientError> read(std::span<std::byte> buffer);

    // Gathers the rest of the body until `deadline`, which is not renewed when data arrives.
    // Data already at hand is taken without reading the clock; a body still incomplete at the
    // deadline is a `Decode` error "operation timed out".
    std::expected<std::string, ClientError>
    read_to_end(std::chrono::steady_clock::time_point deadline);

    struct State;

private:
    friend class HttpRequest;
    explicit HttpResponse(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace kov
