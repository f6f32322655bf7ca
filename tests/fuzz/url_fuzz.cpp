// libFuzzer target for the URL parser: any bytes, no crash, no undefined behaviour, no leak (the
// sanitizers see to those), and these invariants, which abort when broken:
// - a parsed URL's serialization parses again, to the same URL and the same serialization;
// - the same holds when the bytes are parsed against a fixed special base and a fixed
//   non-special one;
// - an http or https URL always has a host that is not empty.
#include "url.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void broken(const char* what, std::string_view text) {
    std::fprintf(stderr, "invariant broken: %s (text of %zu bytes)\n", what, text.size());
    std::abort();
}

void check(std::string_view text, const kov::url::Url* base) {
    const auto url = kov::url::parse(text, base);
    if (!url) {
        if (url.error().empty()) {
            broken("failure without a cause", text);
        }
        return;
    }
    if ((url->scheme == "http" || url->scheme == "https") && (!url->host || url->host->empty())) {
        broken("http URL without a host", text);
    }
    const std::string href = url->href();
    const auto again = kov::url::parse(href);
    if (!again) {
        broken("serialization does not parse", text);
    }
    if (again->href() != href) {
        broken("serialization parses to another serialization", text);
    }
    if (*again != *url) {
        broken("serialization parses to other components", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const kov::url::Url special = *kov::url::parse("https://user:pw@h.example:8443/a/b?q#f");
    static const kov::url::Url other = *kov::url::parse("sc://h/a/b?q#f");
    const std::string_view text{reinterpret_cast<const char*>(data), size};
    check(text, nullptr);
    check(text, &special);
    check(text, &other);
    return 0;
}
