// A server "across the network" on the loopback: the project's delay proxy
// (quellon-delay-proxy) in front of a Unix socket or a TCP port, holding
// each chunk a fixed time in each direction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "process.h"

namespace harness {

class DelayProxy {
public:
    // Forwards a free port of 127.0.0.1 to `target` (a socket path, or
    // IPV4:PORT); a connection whose client sends `drop` (when not empty) is
    // cut off there. Throws std::runtime_error when it does not come up.
    DelayProxy(const std::string& target, Millis delay, const std::string& drop = "");
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    uint16_t port() const { return port_; }
    // The value for CUPS_SERVER when the target is a scheduler.
    std::string server() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    TempDir dir_;
    std::unique_ptr<Process> process_;
    uint16_t port_ = 0;
};

}  // namespace harness
