#pragma once

#include "http_transfer.hpp"
#include "kov/http_client.hpp"

#include <chrono>
#include <memory>
#include <string>

namespace kov {

struct HttpResponse::State {
    std::unique_ptr<http::Transfer> transfer;
    std::string url;
    std::chrono::nanoseconds time_limit{};
};

} // namespace kov
