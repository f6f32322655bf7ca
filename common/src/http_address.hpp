#pragma once

// Request addresses, held by curl's URL parser.
#include "curl_handles.hpp"
#include "kov/client_error.hpp"

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
    // resolve. The result may have any scheme.
    std::optional<Address> resolve(std::string_view reference) const;

    // The whole address, fragment included.
    std::string text() const;
    // The address as sent: without its fragment.
    std::string request_target() const;

    // Lower case, as the parser keeps it.
    std::string scheme() const;
    std::string host() const;
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

    // Appends one form-urlencoded pair to the query ("?" when there is none, "&" when it is not
    // empty); the fragment stays where it is.
    void append_query_pair(std::string_view key, std::string_view value);

    Address clone() const;

private:
    explicit Address(curl::Url handle) : handle_(std::move(handle)) {}
    std::optional<std::string> part(CURLUPart which, unsigned flags = 0) const;
    curl::Url handle_;
};

// Whether `reference` starts with a scheme of its own that is neither http nor https. Such text
// names a target that must not be followed even where the parser cannot read the rest of it.
bool has_foreign_scheme(std::string_view reference);

// application/x-www-form-urlencoded bytes of `text`.
std::string form_urlencode(std::string_view text);

// "%41" and the like turned back into bytes; malformed escapes stay as they are.
std::string percent_decode(std::string_view text);

} // namespace kov::http
