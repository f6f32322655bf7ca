#include "http_session.hpp"

#include "http_transfer.hpp"

#include <algorithm>
#include <climits>

namespace kov {

HttpClient::State::WaitResult
HttpClient::State::wait(std::chrono::steady_clock::time_point deadline,
                        const std::function<bool()>& ready) {
    using namespace std::chrono;
    for (;;) {
        if (ready()) {
            return {};
        }
        int running = 0;
        const CURLMcode performed = curl_multi_perform(multi.get(), &running);
        if (performed != CURLM_OK) {
            return {Wait::Broken, curl_multi_strerror(performed)};
        }
        collect_finished();
        if (ready()) {
            return {};
        }
        const auto now = steady_clock::now();
        if (now >= deadline) {
            return {Wait::TimedOut, {}};
        }
        // Rounded up, so a wait never polls with 0 and spins.
        const auto left = ceil<milliseconds>(deadline - now).count();
        const int timeout_ms = static_cast<int>(std::min<long long>(left, INT_MAX));
        const CURLMcode polled = curl_multi_poll(multi.get(), nullptr, 0, timeout_ms, nullptr);
        if (polled != CURLM_OK) {
            return {Wait::Broken, curl_multi_strerror(polled)};
        }
    }
}

void HttpClient::State::collect_finished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        char* owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        if (owner != nullptr) {
            reinterpret_cast<http::Transfer*>(owner)->finish(message->data.result);
        }
    }
}

} // namespace kov
