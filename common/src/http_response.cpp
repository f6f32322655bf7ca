#include "http_headers.hpp"
#include "http_response_state.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace kov {
namespace {

using Wait = HttpClient::State::Wait;
using http::equals_ignoring_case;

std::optional<std::uint64_t> parse_length(std::string_view text) {
    if (text.empty() || text.size() > 19) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

ClientError body_error(std::string cause) {
    return ClientError{ClientErrorKind::Body, std::nullopt, std::move(cause)};
}

std::string joined(std::vector<std::string> pieces) {
    if (pieces.size() == 1) {
        return std::move(pieces.front());
    }
    std::size_t size = 0;
    for (const std::string& piece : pieces) {
        size += piece.size();
    }
    std::string whole;
    whole.reserve(size);
    for (const std::string& piece : pieces) {
        whole += piece;
    }
    return whole;
}

ClientError timed_out() {
    return ClientError{ClientErrorKind::Decode, std::nullopt, std::string(TIMED_OUT)};
}

} // namespace

HttpResponse::HttpResponse(std::unique_ptr<State> state) : state_(std::move(state)) {}
HttpResponse::HttpResponse(HttpResponse&&) noexcept = default;
HttpResponse& HttpResponse::operator=(HttpResponse&&) noexcept = default;
HttpResponse::~HttpResponse() = default;

std::uint16_t HttpResponse::status() const {
    return state_->transfer->status();
}

const std::string& HttpResponse::url() const {
    return state_->url;
}

std::span<const std::pair<std::string, std::string>> HttpResponse::headers() const {
    return state_->transfer->headers();
}

std::optional<std::string_view> HttpResponse::header(std::string_view name) const {
    return http::find_header(state_->transfer->headers(), name);
}

std::optional<std::uint64_t> HttpResponse::content_length() const {
    const std::uint16_t code = status();
    if (code == 204 || code == 304) {
        return 0;
    }
    if (header("Transfer-Encoding")) {
        return std::nullopt;
    }
    // Several Content-Length fields count only when they agree.
    std::optional<std::uint64_t> length;
    for (const auto& [key, value] : headers()) {
        if (!equals_ignoring_case(key, "Content-Length")) {
            continue;
        }
        const auto parsed = parse_length(value);
        if (!parsed || (length && *length != *parsed)) {
            return std::nullopt;
        }
        length = parsed;
    }
    return length;
}

std::chrono::nanoseconds HttpResponse::time_limit() const {
    return state_->time_limit;
}

std::expected<void, ClientError> HttpResponse::check_status() const {
    const std::uint16_t code = status();
    if (code >= 400 && code <= 599) {
        return std::unexpected(ClientError{ClientErrorKind::Status, state_->url, {}, code});
    }
    return {};
}

std::expected<std::size_t, ClientError> HttpResponse::read(std::span<std::byte> buffer) {
    http::Transfer& transfer = *state_->transfer;
    if (buffer.empty()) {
        return 0;
    }
    if (transfer.buffered() > 0) {
        return transfer.take(buffer);
    }
    if (!transfer.finished()) {
        // Data that arrives now goes straight into the caller's buffer.
        const auto deadline = std::chrono::steady_clock::now() + state_->time_limit;
        transfer.set_target(buffer);
        const auto waited = transfer.client().wait(deadline, [&transfer] {
            return transfer.target_filled() > 0 || transfer.buffered() > 0 || transfer.finished();
        });
        const std::size_t filled = transfer.target_filled();
        transfer.clear_target();
        if (filled > 0) {
            return filled;
        }
        if (transfer.buffered() > 0) {
            return transfer.take(buffer);
        }
        if (!transfer.finished()) {
            if (waited.outcome == Wait::TimedOut) {
                return std::unexpected(timed_out());
            }
            return std::unexpected(body_error(waited.cause));
        }
    }
    if (auto failure = transfer.failure()) {
        return std::unexpected(body_error(std::move(*failure)));
    }
    return 0;
}

std::expected<std::string, ClientError>
HttpResponse::read_to_end(std::chrono::steady_clock::time_point deadline) {
    http::Transfer& transfer = *state_->transfer;
    // Gathered in pieces and joined once it is all here: growing one string would copy all that
    // came before at every step, long enough to overrun the deadline on a large body.
    std::vector<std::string> pieces;
    bool waited_before = false;
    for (;;) {
        if (transfer.buffered() > 0) {
            transfer.take_all(pieces.emplace_back());
        }
        if (transfer.finished() && transfer.buffered() == 0) {
            if (auto failure = transfer.failure()) {
                return std::unexpected(body_error(std::move(*failure)));
            }
            return joined(std::move(pieces));
        }
        // Nothing more at hand. A wait hands over what has arrived without looking at the clock,
        // so it is looked at here: else a body that keeps coming would never be cut off. The
        // first wait goes ahead, so that a body already here is taken even past the deadline.
        if (waited_before && std::chrono::steady_clock::now() >= deadline) {
            return std::unexpected(timed_out());
        }
        waited_before = true;
        const auto waited = transfer.client().wait(
            deadline, [&transfer] { return transfer.buffered() > 0 || transfer.finished(); });
        if (waited.outcome == Wait::TimedOut) {
            return std::unexpected(timed_out());
        }
        if (waited.outcome == Wait::Broken) {
            return std::unexpected(body_error(waited.cause));
        }
    }
}

} // namespace kov
