#pragma once

// The client's network state. All network work runs on the calling thread: one curl multi handle
// is driven while a caller waits, and each wait sleeps in curl_multi_poll, woken by the sockets
// or by the wait's own deadline.
#include "curl_handles.hpp"
#include "kov/http_client.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace kov {

struct HttpClient::State {
    curl::Multi multi;
    TrustStore trust;
    ProxyTable proxies;
    std::chrono::nanoseconds time_limit;

    enum class Wait { Ready, TimedOut, Broken };
    struct WaitResult {
        Wait outcome = Wait::Ready;
        std::string cause; // for Broken: why curl could not go on
    };

    // Drives every transfer until `ready()` holds or `deadline` has passed. `ready` is asked
    // before anything else, so a result already at hand is taken without reading the clock.
    WaitResult wait(std::chrono::steady_clock::time_point deadline,
                    const std::function<bool()>& ready);

private:
    // Hands each finished transfer its result.
    void collect_finished();
};

} // namespace kov
