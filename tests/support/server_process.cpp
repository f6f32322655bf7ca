#include "server_process.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kov_test {
namespace {

[[noreturn]] void broken_fixture(const std::string& why) {
    std::fprintf(stderr, "test server: %s\n", why.c_str());
    std::abort();
}

// The value after "key": in a one-line JSON object: a number or a string (nothing for null).
std::string json_field(const std::string& line, const std::string& key) {
    const auto at = line.find("\"" + key + "\":");
    if (at == std::string::npos) {
        return {};
    }
    std::size_t i = at + key.size() + 3;
    while (i < line.size() && line[i] == ' ') {
        ++i;
    }
    if (i < line.size() && line[i] == '"') {
        return line.substr(i + 1, line.find('"', i + 1) - i - 1);
    }
    std::size_t end = i;
    while (end < line.size() && line[end] >= '0' && line[end] <= '9') {
        ++end;
    }
    return line.substr(i, end - i);
}

} // namespace

ServerProcess::ServerProcess(const std::string& script, const std::vector<std::string>& arguments) {
    int out[2];
    if (pipe(out) != 0) {
        broken_fixture("pipe failed");
    }
    const std::string path = std::string(KOV_TEST_SERVERS_DIR) + "/" + script;
    std::vector<std::string> words{"python3", path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ) != 0) {
        broken_fixture("cannot start " + path);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    close(out[0]);
    port_ = std::atoi(json_field(line, "port").c_str());
    if (port_ <= 0) {
        broken_fixture(path + " did not start: " + line);
    }
    if (const std::string ca = json_field(line, "ca"); !ca.empty()) {
        tls_ = true;
        std::ifstream file(ca);
        std::stringstream text;
        text << file.rdbuf();
        ca_pem_ = text.str();
    }
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

std::string ServerProcess::url(const std::string& path, const std::string& host) const {
    return std::string(tls_ ? "https://" : "http://") + host + ":" + std::to_string(port_) + path;
}

} // namespace kov_test
