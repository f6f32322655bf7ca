#pragma once

// Starts tests/servers/config_service.py on loopback for one test and reads back the request
// heads it received. Linux hosts only.
#include "temp_folder.hpp"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace test {

struct Answer {
    int status = 200;
    std::string body; // UTF-8
};

// One request head as it arrived.
struct ReceivedRequest {
    std::string method;
    std::string target; // path and query, as sent
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers; // in arrival order, as sent

    // The values of every header with this name, compared without regard to case.
    std::vector<std::string> values(std::string_view name) const;
    // Where the first header with this name stands, or -1.
    int position(std::string_view name) const;
};

class ConfigService {
public:
    // Serves `answers` by path; other paths get 404.
    explicit ConfigService(const std::map<std::string, Answer>& answers);
    ConfigService(const ConfigService&) = delete;
    ConfigService& operator=(const ConfigService&) = delete;
    ~ConfigService();

    // "http://127.0.0.1:PORT"
    const std::string& origin() const { return origin_; }
    std::vector<ReceivedRequest> requests() const;

private:
    TempFolder folder_;
    int pid_ = -1;
    int input_ = -1; // the service's standard input
    std::string origin_;
};

} // namespace test
