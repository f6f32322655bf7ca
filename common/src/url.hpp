#pragma once

// Addresses by the WHATWG URL Standard: its basic URL parser (without state override) and its
// serializer. Every scheme is parsed, so that an address of another scheme can be told from one
// that does not parse at all; the client uses only http and https.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace kov::url {

struct Url {
    std::string scheme;   // ASCII lower case, without the ":"
    std::string username; // percent-encoded
    std::string password; // percent-encoded
    // The serialized host: a domain in ASCII, a dotted IPv4 address, "[" IPv6 "]", an opaque
    // host, or empty. Nothing for a URL without a host.
    std::optional<std::string> host;
    std::optional<std::uint16_t> port; // nothing when absent or the scheme's default
    // The serialized path: "/" and a segment for each segment of the path, or the opaque path.
    std::string path;
    bool opaque_path = false;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    bool is_special() const;
    // The serialization; without the fragment when `exclude_fragment`.
    std::string href(bool exclude_fragment = false) const;
    // The path and query as a request line names them.
    std::string path_and_query() const;

    friend bool operator==(const Url&, const Url&) = default;
};

// The standard's reasons for a failure, as short texts.
inline constexpr std::string_view INVALID_UTF8 = "invalid UTF-8";
inline constexpr std::string_view MISSING_SCHEME = "relative URL without a base";
inline constexpr std::string_view EMPTY_HOST = "empty host";
inline constexpr std::string_view INVALID_PORT = "invalid port number";
inline constexpr std::string_view INVALID_IPV4 = "invalid IPv4 address";
inline constexpr std::string_view INVALID_IPV6 = "invalid IPv6 address";
inline constexpr std::string_view INVALID_DOMAIN_CHARACTER = "invalid domain character";
inline constexpr std::string_view INVALID_IDNA = "invalid international domain name";

// Parses `input` (UTF-8) against `base`, if any. Text that is not valid UTF-8 does not parse.
std::expected<Url, std::string_view> parse(std::string_view input, const Url* base = nullptr);

// 80 for http (and ws), 443 for https (and wss), 21 for ftp; nothing for other schemes.
std::optional<std::uint16_t> default_port(std::string_view scheme);

// Percent-decoded bytes; a "%" not followed by two hexadecimal digits stays as it is.
std::string percent_decode(std::string_view text);

// application/x-www-form-urlencoded bytes of `text` (blanks as "+").
std::string form_urlencode(std::string_view text);

} // namespace kov::url
