#include "http_address.hpp"

namespace kov::http {
namespace {

ClientError builder_error(std::optional<std::string> url, std::string_view cause) {
    return ClientError{ClientErrorKind::Builder, std::move(url), std::string(cause)};
}

} // namespace

std::expected<Address, ClientError> Address::parse(std::string_view text) {
    auto url = url::parse(text);
    if (!url) {
        return std::unexpected(builder_error(std::nullopt, url.error()));
    }
    // Text like "mailto:x" or "file:///x" parses, but names no host to send to.
    if (!url->host || url->host->empty()) {
        return std::unexpected(builder_error(url->href(), BAD_SCHEME));
    }
    return Address(std::move(*url));
}

std::optional<Address> Address::resolve(std::string_view reference) const {
    auto url = url::parse(reference, &url_);
    if (!url) {
        return std::nullopt;
    }
    return Address(std::move(*url));
}

std::optional<std::uint16_t> Address::port() const {
    return url_.port ? url_.port : url::default_port(url_.scheme);
}

bool Address::is_http_or_https() const {
    return (url_.scheme == "http" || url_.scheme == "https") && url_.host && !url_.host->empty();
}

std::optional<Address::Credentials> Address::take_credentials() {
    Credentials credentials{url::percent_decode(url_.username), url::percent_decode(url_.password)};
    url_.username.clear();
    url_.password.clear();
    if (credentials.user.empty() && credentials.password.empty()) {
        return std::nullopt;
    }
    return credentials;
}

void Address::append_query_pair(std::string_view key, std::string_view value) {
    std::string& query = url_.query ? *url_.query : url_.query.emplace();
    if (!query.empty()) {
        query += '&';
    }
    query += url::form_urlencode(key);
    query += '=';
    query += url::form_urlencode(value);
}

} // namespace kov::http
