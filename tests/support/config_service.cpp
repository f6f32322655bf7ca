#include "config_service.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace test {
namespace {

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

ReceivedRequest parse_head(std::string_view head) {
    ReceivedRequest request;
    const auto next_line = [&head] {
        const std::size_t end = head.find("\r\n");
        std::string_view line = head.substr(0, end);
        head.remove_prefix(end == std::string_view::npos ? head.size() : end + 2);
        return line;
    };
    std::string_view line = next_line();
    const std::size_t first = line.find(' ');
    const std::size_t second = line.find(' ', first + 1);
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, second - first - 1);
    request.version = line.substr(second + 1);
    while (!(line = next_line()).empty()) {
        const std::size_t colon = line.find(':');
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        request.headers.emplace_back(line.substr(0, colon), value);
    }
    return request;
}

} // namespace

std::vector<std::string> ReceivedRequest::values(std::string_view name) const {
    std::vector<std::string> found;
    for (const auto& [header, value] : headers) {
        if (same_name(header, name)) {
            found.push_back(value);
        }
    }
    return found;
}

int ReceivedRequest::position(std::string_view name) const {
    for (std::size_t i = 0; i < headers.size(); ++i) {
        if (same_name(headers[i].first, name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ConfigService::ConfigService(const std::map<std::string, Answer>& answers) {
    std::string json = "{";
    for (const auto& [path, answer] : answers) {
        if (json.size() > 1) {
            json += ',';
        }
        json += json_string(path) + ":{\"status\":" + std::to_string(answer.status) +
                ",\"body\":" + json_string(answer.body) + "}";
    }
    json += "}";
    const std::string answers_file = folder_.file("answers.json", json).string();
    const std::string log_file = folder_.file("requests.log", "").string();

    int out[2];
    int in[2];
    if (pipe(out) != 0 || pipe(in) != 0) {
        throw std::runtime_error("pipe failed");
    }
    // The service ends when the write end of its input closes, also when this process dies.
    fcntl(in[1], F_SETFD, FD_CLOEXEC);
    // A group of its own: the interpreter may be a launcher script that starts the real one as
    // a child, and both must end with the fixture.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    const std::string script = KOVANE_SERVERS_DIR "/config_service.py";
    const char* argv[] = {KOVANE_PYTHON, script.c_str(),   "--answers", answers_file.c_str(),
                          "--log",       log_file.c_str(), nullptr};
    const int spawned = posix_spawn(&pid_, KOVANE_PYTHON, &actions, &attributes,
                                    const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    close(in[0]);
    input_ = in[1];
    if (spawned != 0) {
        close(out[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start the configuration service");
    }
    // The first line is the port.
    std::string port;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        port += c;
    }
    close(out[0]);
    if (port.empty()) {
        throw std::runtime_error("the configuration service did not start");
    }
    origin_ = "http://127.0.0.1:" + port;
}

ConfigService::~ConfigService() {
    if (input_ >= 0) {
        close(input_);
    }
    if (pid_ > 0) {
        kill(-pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::vector<ReceivedRequest> ConfigService::requests() const {
    std::ifstream in(folder_.path() / "requests.log", std::ios::binary);
    const std::string log{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<ReceivedRequest> requests;
    std::size_t start = 0;
    while (start < log.size()) {
        const std::size_t end = log.find("\r\n\r\n", start);
        const std::size_t stop = end == std::string::npos ? log.size() : end + 4;
        requests.push_back(parse_head(std::string_view(log).substr(start, stop - start)));
        start = stop;
    }
    return requests;
}

} // namespace test
