#include "http_transfer.hpp"

#include "platform/socket_inheritance.hpp"
#include "tls_settings.hpp"

#include <algorithm>
#include <cstring>

namespace kov::http {
namespace {

// Connections stay open for reuse while idle for less than this.
constexpr long IDLE_CONNECTION_SECONDS = 90;
// When a host has addresses of both families, the second family is tried after this.
constexpr long HAPPY_EYEBALLS_MS = 300;
// curl's own limits would end a transfer early; every limit is the caller's wait.
constexpr long NO_CONNECT_LIMIT_MS = 2'147'483'647; // 24 days: fits curl's field everywhere
// curl reads the socket in pieces of this size.
constexpr long RECEIVE_BUFFER_BYTES = 64 * 1024;

// curl drops a header given as "Name:" with nothing after it; "Name;" sends it empty.
std::string curl_header_line(const std::string& name, const std::string& value) {
    return value.empty() ? name + ";" : name + ": " + value;
}

ClientError builder_error(std::string cause) {
    return ClientError{ClientErrorKind::Builder, std::nullopt, std::move(cause)};
}

// "HTTP/1.1 200 OK" and "HTTP/2 200": the status code, or nothing for another line.
std::optional<std::uint16_t> status_of(std::string_view line) {
    if (line.substr(0, 5) != "HTTP/") {
        return std::nullopt;
    }
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos || line.size() < blank + 4) {
        return std::nullopt;
    }
    unsigned code = 0;
    for (std::size_t i = blank + 1; i < blank + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return std::nullopt;
        }
        code = code * 10 + static_cast<unsigned>(line[i] - '0');
    }
    return static_cast<std::uint16_t>(code);
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// The setup program is started with handle inheritance on; it must not hold our connections.
int keep_from_children(void*, curl_socket_t socket, curlsocktype) {
    const auto kept = platform::keep_socket_from_children(static_cast<std::intptr_t>(socket));
    return kept ? CURL_SOCKOPT_OK : CURL_SOCKOPT_ERROR;
}

} // namespace

Transfer::Transfer(std::shared_ptr<HttpClient::State> client, curl::Easy easy)
    : client_(std::move(client)), easy_(std::move(easy)) {}

Transfer::~Transfer() {
    if (added_) {
        curl_multi_remove_handle(client_->multi.get(), easy_.get());
    }
}

std::expected<std::unique_ptr<Transfer>, ClientError>
Transfer::start(std::shared_ptr<HttpClient::State> client, const Address& address,
                const Headers& headers) {
    curl::Easy easy(curl_easy_init());
    if (!easy) {
        return std::unexpected(builder_error("curl_easy_init failed"));
    }
    std::unique_ptr<Transfer> transfer(new Transfer(std::move(client), std::move(easy)));
    if (auto configured = transfer->configure(address, headers); !configured) {
        return std::unexpected(std::move(configured.error()));
    }
    const CURLMcode added =
        curl_multi_add_handle(transfer->client_->multi.get(), transfer->easy_.get());
    if (added != CURLM_OK) {
        return std::unexpected(builder_error(curl_multi_strerror(added)));
    }
    transfer->added_ = true;
    return transfer;
}

std::expected<void, ClientError> Transfer::configure(const Address& address,
                                                     const Headers& headers) {
    CURL* h = easy_.get();
    url_ = address.request_target();
    const auto& proxies = client_->proxies;
    const auto proxy = proxies.for_scheme(address.scheme());
    const bool request_has_proxy_auth = has_header(headers, "Proxy-Authorization");

    for (const auto& [name, value] : headers) {
        if (!request_headers_.append(curl_header_line(name, value).c_str())) {
            return std::unexpected(builder_error("out of memory"));
        }
    }
    // Our own proxy headers only: curl would otherwise add Proxy-Connection.
    if (!proxy_headers_.append("Proxy-Connection:")) {
        return std::unexpected(builder_error("out of memory"));
    }

    bool ok = true;
    const auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(h, option, value) == CURLE_OK;
    };
    set(CURLOPT_PRIVATE, static_cast<void*>(this));
    set(CURLOPT_URL, url_.c_str());
    // The address goes out as serialized: its dot segments are resolved already, and curl must
    // not squash anything further.
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 0L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    set(CURLOPT_HTTPHEADER, request_headers_.get());
    set(CURLOPT_PROXYHEADER, proxy_headers_.get());
    set(CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_ERRORBUFFER, error_);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HEADERFUNCTION, &Transfer::on_header);
    set(CURLOPT_HEADERDATA, static_cast<void*>(this));
    set(CURLOPT_WRITEFUNCTION, &Transfer::on_body);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    set(CURLOPT_BUFFERSIZE, RECEIVE_BUFFER_BYTES);
    set(CURLOPT_MAXAGE_CONN, IDLE_CONNECTION_SECONDS);
    set(CURLOPT_TCP_NODELAY, 1L);
    set(CURLOPT_TCP_KEEPALIVE, 0L);
    set(CURLOPT_HAPPY_EYEBALLS_TIMEOUT_MS, HAPPY_EYEBALLS_MS);
    set(CURLOPT_CONNECTTIMEOUT_MS, NO_CONNECT_LIMIT_MS);
    set(CURLOPT_SOCKOPTFUNCTION, &keep_from_children);
    // A transfer given up while its name is still being looked up must not wait for the lookup:
    // the caller's deadline has passed already.
    set(CURLOPT_QUICK_EXIT, 1L);

    // Going direct is said explicitly, so curl never reads proxies from the environment itself.
    set(CURLOPT_NOPROXY, proxies.no_proxy ? proxies.no_proxy->c_str() : "");
    if (proxy) {
        auto proxy_address = Address::parse(*proxy);
        if (!proxy_address) {
            return std::unexpected(std::move(proxy_address.error()));
        }
        const auto credentials = proxy_address->take_credentials();
        // The port always written: curl's own default for a proxy is 1080.
        proxy_ = proxy_address->scheme() + "://" + proxy_address->host() + ":" +
                 std::to_string(proxy_address->port().value_or(0));
        tunnel_ = address.scheme() == "https";
        set(CURLOPT_PROXY, proxy_.c_str());
        set(CURLOPT_HTTPPROXYTUNNEL, tunnel_ ? 1L : 0L);
        // An http request that names its own proxy credentials sends those alone.
        if (credentials && (tunnel_ || !request_has_proxy_auth)) {
            set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
            set(CURLOPT_PROXYUSERNAME, credentials->user.c_str());
            set(CURLOPT_PROXYPASSWORD, credentials->password.c_str());
        }
    } else {
        set(CURLOPT_PROXY, "");
    }
    if (!ok) {
        return std::unexpected(builder_error("the HTTP library refused a setting"));
    }
    if (auto tls = apply_tls_settings(h, client_->trust); !tls) {
        return std::unexpected(builder_error(std::move(tls.error())));
    }
    return {};
}

std::size_t Transfer::on_header(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<Transfer*>(self)->header_line(std::string_view(data, size * count));
}

std::size_t Transfer::header_line(std::string_view line) {
    // Trailer fields after the body are not part of the head.
    if (head_complete_) {
        return line.size();
    }
    head_bytes_ += line.size();
    if (head_bytes_ > MAX_HEAD_BYTES) {
        head_too_large_ = true;
        return 0;
    }
    if (const auto status = status_of(line)) {
        status_ = *status;
        headers_.clear();
        return line.size();
    }
    const std::string_view content = trimmed(line);
    if (content.empty()) {
        // The end of a head; an interim (1xx) answer is followed by the real one.
        if (status_ >= 200 || status_ == 101) {
            head_complete_ = true;
        }
        return line.size();
    }
    if ((line.front() == ' ' || line.front() == '\t') && !headers_.empty()) {
        headers_.back().second += ' ';
        headers_.back().second += content;
        return line.size();
    }
    const auto colon = content.find(':');
    if (colon != std::string_view::npos) {
        headers_.emplace_back(std::string(content.substr(0, colon)),
                              std::string(trimmed(content.substr(colon + 1))));
    }
    return line.size();
}

std::size_t Transfer::on_body(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<Transfer*>(self)->body_data(data, size * count);
}

std::size_t Transfer::body_data(const char* data, std::size_t size) {
    const std::size_t room = target_.size() - target_filled_;
    if (size <= room) {
        if (size > 0) {
            std::memcpy(target_.data() + target_filled_, data, size);
            target_filled_ += size;
        }
        return size;
    }
    // The read under way has data already: curl keeps this piece until the next read takes it
    // straight into its own buffer.
    if (target_filled_ > 0) {
        paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    // No read under way (or one with a buffer smaller than the piece): what does not fit waits
    // here, up to a bound.
    const std::size_t used = room;
    if (used > 0) {
        std::memcpy(target_.data(), data, used);
        target_filled_ += used;
    }
    if (used == 0 && buffered() >= BODY_BUFFER_LIMIT) {
        paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (pending_start_ > 0 && pending_start_ >= pending_.size() / 2) {
        pending_.erase(0, pending_start_);
        pending_start_ = 0;
    }
    pending_.append(data + used, size - used);
    return size;
}

std::size_t Transfer::take(std::span<std::byte> out) {
    const std::size_t n = std::min(out.size(), buffered());
    std::memcpy(out.data(), pending_.data() + pending_start_, n);
    pending_start_ += n;
    if (pending_start_ == pending_.size()) {
        pending_.clear();
        pending_start_ = 0;
    }
    return n;
}

void Transfer::take_all(std::string& out) {
    out.append(pending_, pending_start_);
    pending_.clear();
    pending_start_ = 0;
    resume();
}

void Transfer::resume() {
    if (paused_ && buffered() <= BODY_BUFFER_LIMIT / 2) {
        paused_ = false;
        // May hand over the data curl kept at once, through on_body.
        curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
    }
}

void Transfer::set_target(std::span<std::byte> target) {
    target_ = target;
    target_filled_ = 0;
    resume();
}

void Transfer::clear_target() {
    target_ = {};
    target_filled_ = 0;
}

void Transfer::finish(CURLcode result) {
    finished_ = true;
    result_ = result;
}

std::optional<std::string> Transfer::failure() const {
    if (head_too_large_) {
        return "message head is too large";
    }
    if (!finished_ || result_ == CURLE_OK) {
        return std::nullopt;
    }
    if (error_[0] != '\0') {
        return std::string(error_);
    }
    return curl_easy_strerror(result_);
}

std::string Transfer::failure_before_head() const {
    if (tunnel_ && !head_too_large_) {
        long connect_code = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_HTTP_CONNECTCODE, &connect_code);
        if (connect_code == 407) {
            return "proxy authentication required";
        }
        if (connect_code != 0 && (connect_code < 200 || connect_code > 299)) {
            return "unsuccessful tunnel";
        }
        // Our own head limit is below curl's, so curl's can only have been met by the proxy's
        // answer to the CONNECT.
        if (result_ == CURLE_RECV_ERROR && std::string_view(error_).starts_with("Too large")) {
            return "proxy headers too long for tunnel";
        }
        if (result_ == CURLE_RECV_ERROR && connect_code == 0) {
            return "unexpected eof while tunneling";
        }
    }
    // curl refuses a single header line longer than its limit as if memory had run out.
    if (result_ == CURLE_OUT_OF_MEMORY && error_[0] == '\0') {
        return "message head is too large";
    }
    return failure().value_or("connection closed before message completed");
}

} // namespace kov::http
