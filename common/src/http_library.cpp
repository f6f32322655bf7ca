#include "http_library.hpp"

#include <atomic>
#include <curl/curl.h>

namespace kov::http {
namespace {

std::atomic<bool> started{false};

} // namespace

bool start_library() {
    // Started once and never per client: one shutdown then undoes the one start.
    static const bool ok = [] {
        const bool init = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        started.store(init);
        return init;
    }();
    return ok;
}

void shut_down_library() {
    if (started.exchange(false)) {
        curl_global_cleanup();
    }
}

} // namespace kov::http
