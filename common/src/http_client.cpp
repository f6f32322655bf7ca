#include "kov/http_client.hpp"

#include "http_address.hpp"
#include "http_headers.hpp"
#include "http_library.hpp"
#include "http_response_state.hpp"
#include "http_session.hpp"
#include "http_transfer.hpp"
#include "kov/fail_fast.hpp"
#include "kov/pem.hpp"

#include <algorithm>
#include <openssl/evp.h>

namespace kov {

using http::Address;
using http::equals_ignoring_case;
using http::find_header;
using http::has_header;
using http::Headers;
using http::remove_headers;
using http::set_header;

struct HttpRequest::State {
    std::shared_ptr<HttpClient::State> client;
    std::optional<Address> address;
    Headers headers;
    std::optional<ClientError> failure;
};

namespace {

// Redirects a request follows at most: the tenth redirect answer fails it.
constexpr std::size_t MAX_ADDRESSES_LEFT = 10;

std::string base64(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// A token of RFC 9110: the characters a header name may hold.
bool is_header_name(std::string_view name) {
    constexpr std::string_view symbols = "!#$%&'*+-.^_`|~";
    return !name.empty() && std::all_of(name.begin(), name.end(), [&](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               symbols.find(c) != std::string_view::npos;
    });
}

// TAB, or a byte from 0x20 up other than DEL; bytes from 0x80 up pass as they are.
bool is_header_value(std::string_view value) {
    return std::all_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
    });
}

bool is_redirect(std::uint16_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

ClientError error(ClientErrorKind kind, std::optional<std::string> url, std::string cause) {
    return ClientError{kind, std::move(url), std::move(cause)};
}

bool same_origin_server(const Address& a, const Address& b) {
    return equals_ignoring_case(a.host(), b.host()) && a.port() == b.port();
}

// Drives the exchange with `address` until its answer's head has arrived, or fails the send. The
// deadline is the whole send's, so running past it is a failure of the `requested` address.
std::expected<void, ClientError> wait_for_head(HttpClient::State& client, http::Transfer& transfer,
                                               const Address& address, const std::string& requested,
                                               std::chrono::steady_clock::time_point deadline) {
    const auto waited = client.wait(deadline, [&transfer] {
        return transfer.head_complete() || transfer.finished() || transfer.failure().has_value();
    });
    if (transfer.head_complete()) {
        return {};
    }
    if (transfer.finished() || transfer.failure()) {
        return std::unexpected(
            error(ClientErrorKind::Request, address.text(), transfer.failure_before_head()));
    }
    if (waited.outcome == HttpClient::State::Wait::TimedOut) {
        return std::unexpected(error(ClientErrorKind::Request, requested, std::string(TIMED_OUT)));
    }
    return std::unexpected(error(ClientErrorKind::Request, address.text(), waited.cause));
}

// Where an answer leads: nothing when it is the final one, else the next address, with the
// request's headers made fit for it. `addresses_left` counts the addresses left so far.
std::expected<std::optional<Address>, ClientError> redirect_target(const http::Transfer& answer,
                                                                   const Address& current,
                                                                   Headers& headers,
                                                                   std::size_t& addresses_left) {
    const std::uint16_t status = answer.status();
    const auto location = find_header(answer.headers(), "Location");
    if (!is_redirect(status) || !location) {
        return std::nullopt;
    }
    // A Location that is no UTF-8 or does not parse leaves this answer the final one.
    auto target = current.resolve(*location);
    if (!target) {
        return std::nullopt;
    }
    if (!(current.scheme() == "https" && target->scheme() == "http")) {
        set_header(headers, "Referer", current.request_target());
    }
    if (++addresses_left >= MAX_ADDRESSES_LEFT) {
        return std::unexpected(
            error(ClientErrorKind::Redirect, current.text(), "too many redirects"));
    }
    if (!target->is_http_or_https()) {
        return std::unexpected(
            error(ClientErrorKind::Builder, target->text(), std::string(http::BAD_SCHEME)));
    }
    if (status == 301 || status == 302 || status == 303) {
        remove_headers(headers,
                       {"Transfer-Encoding", "Content-Encoding", "Content-Type", "Content-Length"});
    }
    if (!same_origin_server(current, *target)) {
        remove_headers(headers, {"Authorization", "Cookie", "Cookie2", "Proxy-Authorization",
                                 "WWW-Authenticate"});
    }
    // Credentials in a Location are not sent: only the first address's become a header.
    target->take_credentials();
    return target;
}

} // namespace

HttpClient::HttpClient(std::shared_ptr<State> state) : state_(std::move(state)) {}

std::chrono::nanoseconds HttpClient::time_limit() const {
    return state_->time_limit;
}

HttpRequest HttpClient::get(std::string_view url) const {
    auto request = std::make_unique<HttpRequest::State>();
    request->client = state_;
    auto address = Address::parse(url);
    if (!address) {
        request->failure = std::move(address.error());
        return HttpRequest(std::move(request));
    }
    // User information is not sent in the address but as credentials, before any other header.
    if (const auto credentials = address->take_credentials()) {
        request->headers.emplace_back(
            "Authorization", "Basic " + base64(credentials->user + ":" + credentials->password));
    }
    request->address = std::move(*address);
    return HttpRequest(std::move(request));
}

std::expected<HttpClient, ClientError> make_http_client(std::optional<std::string_view> ca,
                                                        const ClientOptions& options) {
    std::vector<Der> extra_roots;
    if (ca) {
        auto certificates = read_pem_certificates(*ca);
        if (!certificates) {
            return std::unexpected(
                error(ClientErrorKind::Builder, std::nullopt, std::string(PemError::message)));
        }
        extra_roots = std::move(*certificates);
    }
    if (!http::start_library()) {
        return std::unexpected(
            error(ClientErrorKind::Builder, std::nullopt, "the HTTP library did not start"));
    }
    auto system_roots = read_system_roots(options.environment);
    if (!system_roots) {
        return std::unexpected(error(ClientErrorKind::Builder, std::nullopt,
                                     platform::describe(system_roots.error())));
    }
    auto trust = build_trust_store(extra_roots, std::move(*system_roots));
    if (!trust) {
        return std::unexpected(std::move(trust.error()));
    }
    curl::Multi multi(curl_multi_init());
    if (!multi) {
        return std::unexpected(
            error(ClientErrorKind::Builder, std::nullopt, "curl_multi_init failed"));
    }
    auto state = std::make_shared<HttpClient::State>(HttpClient::State{
        std::move(multi), std::move(*trust),
        read_proxy_table(options.environment, options.internet_settings), options.time_limit});
    return HttpClient(std::move(state));
}

HttpClient build_http_client(std::optional<std::string_view> ca) {
    return take_or_fail(make_http_client(ca, ClientOptions{}));
}

HttpRequest::HttpRequest(std::unique_ptr<State> state) : state_(std::move(state)) {}
HttpRequest::HttpRequest(HttpRequest&&) noexcept = default;
HttpRequest& HttpRequest::operator=(HttpRequest&&) noexcept = default;
HttpRequest::~HttpRequest() = default;

HttpRequest& HttpRequest::header(std::string_view name, std::string_view value) {
    if (state_->failure) {
        return *this;
    }
    if (!is_header_name(name)) {
        state_->failure = error(ClientErrorKind::Builder, std::nullopt, "invalid HTTP header name");
    } else if (!is_header_value(value)) {
        state_->failure =
            error(ClientErrorKind::Builder, std::nullopt, "failed to parse header value");
    } else {
        state_->headers.emplace_back(std::string(name), std::string(value));
    }
    return *this;
}

HttpRequest& HttpRequest::append_query_pair(std::string_view key, std::string_view value) {
    if (!state_->failure) {
        state_->address->append_query_pair(key, value);
    }
    return *this;
}

std::expected<HttpResponse, ClientError> HttpRequest::send() && {
    if (state_->failure) {
        return std::unexpected(std::move(*state_->failure));
    }
    HttpClient::State& client = *state_->client;
    Address current = std::move(*state_->address);
    Headers headers = std::move(state_->headers);
    if (!current.is_http_or_https()) {
        return std::unexpected(
            error(ClientErrorKind::Builder, current.text(), std::string(http::BAD_SCHEME)));
    }
    if (!has_header(headers, "Accept")) {
        headers.emplace_back("Accept", "*/*");
    }
    const auto respond = [](std::unique_ptr<http::Transfer> transfer, const Address& address) {
        auto state = std::make_unique<HttpResponse::State>();
        state->time_limit = transfer->client().time_limit;
        state->transfer = std::move(transfer);
        state->url = address.text();
        return HttpResponse(std::move(state));
    };

    // One wait for the whole send, redirects included.
    const auto deadline = std::chrono::steady_clock::now() + client.time_limit;
    const std::string requested = current.text();
    std::size_t addresses_left = 0;
    for (;;) {
        auto started = http::Transfer::start(state_->client, current, headers);
        if (!started) {
            return std::unexpected(std::move(started.error()));
        }
        std::unique_ptr<http::Transfer> transfer = std::move(*started);
        if (auto head = wait_for_head(client, *transfer, current, requested, deadline); !head) {
            return std::unexpected(std::move(head.error()));
        }
        auto next = redirect_target(*transfer, current, headers, addresses_left);
        if (!next) {
            return std::unexpected(std::move(next.error()));
        }
        if (!*next) {
            return respond(std::move(transfer), current);
        }
        current = std::move(**next);
    }
}

} // namespace kov
