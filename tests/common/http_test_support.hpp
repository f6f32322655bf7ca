#pragma once

// Clients and helpers shared by the HTTP client's tests.
#include "kov/http_client.hpp"
#include "server_process.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kov {
// Test failures show a client error in its report form.
inline void PrintTo(const ClientError& error, std::ostream* out) {
    *out << debug_form(error);
}
} // namespace kov

namespace kov_test {

using namespace std::chrono_literals;

// A fixed environment: exactly the variables given are set. SSL_CERT_FILE set to "" keeps the
// machine's roots out unless a test names its own.
inline kov::EnvironmentLookup environment(std::map<std::string, std::string> variables = {
                                              {"SSL_CERT_FILE", ""}}) {
    return [variables = std::move(variables)](std::string_view name) -> std::optional<std::string> {
        const auto found = variables.find(std::string(name));
        if (found == variables.end()) {
            return std::nullopt;
        }
        return found->second;
    };
}

struct ClientSetup {
    std::chrono::nanoseconds limit = 5s;
    std::optional<std::string> ca;
    std::map<std::string, std::string> env = {{"SSL_CERT_FILE", ""}};
};

inline kov::HttpClient make_client(const ClientSetup& setup = {}) {
    kov::ClientOptions options;
    options.time_limit = setup.limit;
    options.environment = environment(setup.env);
    options.internet_settings = [] { return std::optional<kov::InternetSettings>(); };
    auto client = kov::make_http_client(setup.ca, options);
    if (!client) {
        ADD_FAILURE() << kov::debug_form(client.error());
        std::abort();
    }
    return std::move(*client);
}

inline kov::HttpClient make_client(std::chrono::nanoseconds limit) {
    ClientSetup setup;
    setup.limit = limit;
    return make_client(setup);
}

// The whole body through read() with a buffer of `buffer_size`, or the first error.
inline std::expected<std::string, kov::ClientError> read_all(kov::HttpResponse& response,
                                                             std::size_t buffer_size = 65536) {
    std::vector<std::byte> buffer(buffer_size);
    std::string body;
    for (;;) {
        auto n = response.read(buffer);
        if (!n) {
            return std::unexpected(n.error());
        }
        if (*n == 0) {
            return body;
        }
        body.append(reinterpret_cast<const char*>(buffer.data()), *n);
    }
}

// GET of `url` and its body gathered under the client's limit; the first error otherwise.
inline std::expected<std::string, kov::ClientError> fetch(const kov::HttpClient& client,
                                                          const std::string& url) {
    auto response = client.get(url).send();
    if (!response) {
        return std::unexpected(response.error());
    }
    return response->read_to_end(std::chrono::steady_clock::now() + client.time_limit());
}

// The header lines the echo route reports, in order (request line first).
inline std::vector<std::string> lines_of(const std::string& echo) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = echo.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(echo.substr(start, end - start));
    }
    return lines;
}

inline std::vector<std::string> headers_named(const std::string& echo, const std::string& name) {
    std::vector<std::string> found;
    const auto lower = [](std::string text) {
        for (char& c : text) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return text;
    };
    for (const auto& line : lines_of(echo)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || lower(line.substr(0, colon)) != lower(name)) {
            continue;
        }
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value.front() == ' ') {
            value.erase(0, 1);
        }
        found.push_back(value);
    }
    return found;
}

// "%XX" of every byte, for handing any bytes to a test server in a query.
inline std::string percent_encoded(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out += '%';
        out += hex[byte >> 4];
        out += hex[byte & 15];
    }
    return out;
}

} // namespace kov_test
