#pragma once

// One exchange with one address: a curl easy handle on the client's multi handle, with the
// answer's head and a bounded buffer of its body.
#include "curl_handles.hpp"
#include "http_address.hpp"
#include "http_headers.hpp"
#include "http_session.hpp"

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kov::http {

// The most head bytes (status line and header lines) accepted from one answer; below curl's own
// 300 KiB, so that every build stops at the same place with the same message.
inline constexpr std::size_t MAX_HEAD_BYTES = 256 * 1024;
// Body bytes kept while nobody reads (or a read's buffer is smaller than what curl hands over);
// past this the transfer is paused.
inline constexpr std::size_t BODY_BUFFER_LIMIT = 256 * 1024;

class Transfer {
public:
    // Starts a GET of `address` with `headers`, through the proxy the client's table names for
    // the address's scheme.
    static std::expected<std::unique_ptr<Transfer>, ClientError>
    start(std::shared_ptr<HttpClient::State> client, const Address& address,
          const Headers& headers);

    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    // Removes the transfer from the client: what is left of the body is given up.
    ~Transfer();

    HttpClient::State& client() const { return *client_; }

    bool head_complete() const { return head_complete_; }
    bool finished() const { return finished_; }
    // Why the transfer failed; nothing when it has not failed (yet).
    std::optional<std::string> failure() const;
    // The failure of a transfer that ended before its answer's head: proxy tunnel failures get
    // their own texts.
    std::string failure_before_head() const;

    std::uint16_t status() const { return status_; }
    const Headers& headers() const { return headers_; }

    // Body bytes at hand, not yet taken.
    std::size_t buffered() const { return pending_.size() - pending_start_; }
    // Moves buffered bytes into `out`; returns how many.
    std::size_t take(std::span<std::byte> out);
    // Moves every buffered byte to the end of `out`, and lets a paused transfer go on.
    void take_all(std::string& out);
    // While set, body data goes straight into `target`; a piece that no longer fits stays with
    // curl (the transfer pauses) until the next target. Setting one lets a paused transfer go
    // on: the data curl kept may land in `target` at once.
    void set_target(std::span<std::byte> target);
    std::size_t target_filled() const { return target_filled_; }
    void clear_target();

    // Called by the client when curl reports the transfer done.
    void finish(CURLcode result);

private:
    Transfer(std::shared_ptr<HttpClient::State> client, curl::Easy easy);
    std::expected<void, ClientError> configure(const Address& address, const Headers& headers);
    void resume();

    static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* self);
    std::size_t header_line(std::string_view line);
    std::size_t body_data(const char* data, std::size_t size);

    std::shared_ptr<HttpClient::State> client_;
    curl::Easy easy_;
    curl::List request_headers_;
    curl::List proxy_headers_;
    std::string url_;
    std::string proxy_;
    bool tunnel_ = false;
    char error_[CURL_ERROR_SIZE] = {};
    bool added_ = false;

    bool head_complete_ = false;
    bool head_too_large_ = false;
    std::size_t head_bytes_ = 0;
    std::uint16_t status_ = 0;
    Headers headers_;

    bool finished_ = false;
    CURLcode result_ = CURLE_OK;

    std::string pending_;
    std::size_t pending_start_ = 0;
    bool paused_ = false;
    std::span<std::byte> target_;
    std::size_t target_filled_ = 0;
};

} // namespace kov::http
