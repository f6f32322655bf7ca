#include "http_address.hpp"

#include "http_headers.hpp"

#include <algorithm>

namespace kov::http {
namespace {

constexpr unsigned PARSE_FLAGS = CURLU_NON_SUPPORT_SCHEME;

bool is_ascii_alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Browsers' address rules drop leading and trailing blanks and controls, and tabs and line
// breaks anywhere; curl's parser refuses them.
std::string cleaned(std::string_view text) {
    const auto is_edge = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!text.empty() && is_edge(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && is_edge(text.back())) {
        text.remove_suffix(1);
    }
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c != '\t' && c != '\n' && c != '\r') {
            out += c;
        }
    }
    return out;
}

// The scheme at the front of `text`, lower case, or nothing.
std::optional<std::string> leading_scheme(std::string_view text) {
    if (text.empty() || !is_ascii_alpha(text.front())) {
        return std::nullopt;
    }
    std::string scheme;
    for (const char c : text) {
        if (c == ':') {
            return scheme;
        }
        if (!is_ascii_alpha(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') {
            return std::nullopt;
        }
        scheme += ascii_lower(c);
    }
    return std::nullopt;
}

// Schemes whose addresses always carry a host; any other scheme may stand without one.
bool is_special(std::string_view scheme) {
    return scheme == "http" || scheme == "https" || scheme == "ftp" || scheme == "ws" ||
           scheme == "wss" || scheme == "file";
}

ClientError builder_error(std::optional<std::string> url, std::string_view cause) {
    return ClientError{ClientErrorKind::Builder, std::move(url), std::string(cause)};
}

} // namespace

std::expected<Address, ClientError> Address::parse(std::string_view text) {
    const std::string input = cleaned(text);
    curl::Url handle(curl_url());
    if (!handle) {
        return std::unexpected(builder_error(std::nullopt, "out of memory"));
    }
    const CURLUcode rc = curl_url_set(handle.get(), CURLUPART_URL, input.c_str(), PARSE_FLAGS);
    if (rc != CURLUE_OK) {
        // Text like "mailto:x" is an address without a host, not a parse failure.
        const auto scheme = leading_scheme(input);
        if (scheme && !is_special(*scheme)) {
            return std::unexpected(builder_error(input, BAD_SCHEME));
        }
        return std::unexpected(builder_error(std::nullopt, curl_url_strerror(rc)));
    }
    Address address(std::move(handle));
    if (address.host().empty()) {
        return std::unexpected(builder_error(address.text(), BAD_SCHEME));
    }
    return address;
}

std::optional<Address> Address::resolve(std::string_view reference) const {
    const std::string input = cleaned(reference);
    Address target = clone();
    if (!target.handle_) {
        return std::nullopt;
    }
    // curl resolves an empty or fragment-only reference against the folder, not the document.
    if (input.empty() || input.front() == '#') {
        const char* fragment = input.empty() ? nullptr : input.c_str() + 1;
        if (curl_url_set(target.handle_.get(), CURLUPART_FRAGMENT, fragment, 0) != CURLUE_OK) {
            return std::nullopt;
        }
        return target;
    }
    if (curl_url_set(target.handle_.get(), CURLUPART_URL, input.c_str(), PARSE_FLAGS) !=
        CURLUE_OK) {
        return std::nullopt;
    }
    return target;
}

std::optional<std::string> Address::part(CURLUPart which, unsigned flags) const {
    return curl::url_part(handle_, which, flags);
}

std::string Address::text() const {
    std::string url = part(CURLUPART_URL).value_or("");
    // curl drops an empty query's "?", which the address still has.
    const auto query = part(CURLUPART_QUERY);
    if (query && query->empty()) {
        const auto hash = url.find('#');
        const std::size_t at = hash == std::string::npos ? url.size() : hash;
        url.insert(url.begin() + static_cast<std::ptrdiff_t>(at), '?');
    }
    return url;
}

std::string Address::request_target() const {
    Address copy = clone();
    curl_url_set(copy.handle_.get(), CURLUPART_FRAGMENT, nullptr, 0);
    return copy.text();
}

std::string Address::scheme() const {
    std::string scheme = part(CURLUPART_SCHEME).value_or("");
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), ascii_lower);
    return scheme;
}

std::string Address::host() const {
    return part(CURLUPART_HOST).value_or("");
}

std::optional<std::uint16_t> Address::port() const {
    const auto text = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!text || text->empty() || text->size() > 5) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : *text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 65535 ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(value))
                          : std::nullopt;
}

bool Address::is_http_or_https() const {
    const std::string s = scheme();
    return (s == "http" || s == "https") && !host().empty();
}

std::optional<Address::Credentials> Address::take_credentials() {
    const std::string user = percent_decode(part(CURLUPART_USER).value_or(""));
    const std::string password = percent_decode(part(CURLUPART_PASSWORD).value_or(""));
    curl_url_set(handle_.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(handle_.get(), CURLUPART_PASSWORD, nullptr, 0);
    curl_url_set(handle_.get(), CURLUPART_OPTIONS, nullptr, 0);
    if (user.empty() && password.empty()) {
        return std::nullopt;
    }
    return Credentials{user, password};
}

void Address::append_query_pair(std::string_view key, std::string_view value) {
    // Set as a whole address: curl's query setter rewrites percent escapes in lower case.
    std::string url = text();
    const auto hash = url.find('#');
    const std::string fragment = hash == std::string::npos ? std::string() : url.substr(hash);
    url.resize(hash == std::string::npos ? url.size() : hash);
    const auto question = url.find('?');
    if (question == std::string::npos) {
        url += '?';
    } else if (question + 1 < url.size()) {
        url += '&';
    }
    url += form_urlencode(key);
    url += '=';
    url += form_urlencode(value);
    url += fragment;
    curl_url_set(handle_.get(), CURLUPART_URL, url.c_str(), PARSE_FLAGS);
}

Address Address::clone() const {
    return Address(curl::Url(curl_url_dup(handle_.get())));
}

bool has_foreign_scheme(std::string_view reference) {
    const auto scheme = leading_scheme(cleaned(reference));
    return scheme && *scheme != "http" && *scheme != "https";
}

std::string form_urlencode(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_ascii_alpha(c) || (c >= '0' && c <= '9') || c == '*' || c == '-' || c == '.' ||
            c == '_') {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

std::string percent_decode(std::string_view text) {
    const auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && value(text[i + 1]) >= 0 &&
            value(text[i + 2]) >= 0) {
            out += static_cast<char>(value(text[i + 1]) * 16 + value(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace kov::http
