#pragma once

// Request addresses, parsed and serialized by the URL Standard's rules (url.hpp). curl only ever
// sees the serialization.
#include "kov/client_error.hpp"
#include "url.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace kov::http {

// The cause of an address that has no host, or a scheme other than http and https.
inline constexpr std::string_view BAD_SCHEME = "URL scheme is not allowed";

class Address {
public:
    // An absolute address. Text that does not parse is a `Builder` error with the parser's cause;
    // an address without a host is a `Builder` error with the address and BAD_SCHEME.
    static std::expected<Address, ClientError> parse(std::string_view text);

    // `reference` (a Location value) resolved against this address; nothing when it does not
    // parse. The result may have any scheme.
    std::optional<Address> resolve(std::string_view reference) const;

    // The whole address, fragment included.
    std::string text() const { return url_.href(); }
    // The address as sent: without its fragment.
    std::string request_target() const { return url_.href(true); }

    // Lower case, as the parser keeps it.
    const std::string& scheme() const { return url_.scheme; }
    // The serialized host: a lower-case ASCII domain, a dotted IPv4 address or "[" IPv6 "]".
    std::string host() const { return url_.host.value_or(""); }
    // The port, or the scheme's default one.
    std::optional<std::uint16_t> port() const;
    bool is_http_or_https() const;

    struct Credentials {
        std::string user;
        std::string password;
    };
    // Takes user name and password out of the address: both percent-decoded when either is not
    // empty, else nothing.
    std::optional<Credentials> take_credentials();

    // Appends one form-urlencoded pair to the parsed query: "?" when there is none, "&" when it is
    // not empty (even after a trailing "&"); the fragment stays after the query.
    void append_query_pair(std::string_view key, std::string_view value);

private:
    explicit Address(url::Url url) : url_(std::move(url)) {}
    url::Url url_;
};

} // namespace kov::http
