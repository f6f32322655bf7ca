#pragma once

// A loopback test server (a Python script under tests/servers) in a child process for the
// lifetime of the object. The script prints one JSON line with its port (and CA file) first.
#include <string>
#include <sys/types.h>
#include <vector>

namespace kov_test {

class ServerProcess {
public:
    // `script` is a file name under tests/servers.
    ServerProcess(const std::string& script, const std::vector<std::string>& arguments = {});
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    ~ServerProcess();

    int port() const { return port_; }
    // The CA file of a TLS server, as its text.
    const std::string& ca_pem() const { return ca_pem_; }
    // "http://127.0.0.1:PORT" + path (or https:// for a TLS server).
    std::string url(const std::string& path, const std::string& host = "127.0.0.1") const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool tls_ = false;
    std::string ca_pem_;
};

} // namespace kov_test
