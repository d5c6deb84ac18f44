// The simulator's event loop: one thread, one poll over the listening socket
// and every client, so a client that stalls never holds up another.
#pragma once

#include <cstdint>
#include <string>

#include "config.h"

namespace zsim {

// A user may leave the settings dialog open for minutes with its
// connection, so idle clients get a long while before they are closed.
constexpr int64_t kDefaultIdleMs = 300000;
// The log file and the one before it together stay under twice this.
constexpr uint64_t kDefaultLogMax = 16 * 1024 * 1024;

struct Options {
    uint16_t port = 59787;             // 0: any free port
    std::string state_path;            // empty: timers live in memory only
    std::string control_path;          // empty: no run-time fault rules
    std::string log_path;              // empty: standard error
    int64_t idle_ms = kDefaultIdleMs;  // 0: idle clients stay
    uint64_t log_max = kDefaultLogMax;
    // Each answer in two writes, its header and then the rest, with
    // Nagle's algorithm left on, as many real daemons answer.
    bool split_replies = false;
    Settings settings;
};

// Listens on 127.0.0.1, prints the port as the first line of standard
// output, serves until SIGTERM or SIGINT. Returns the exit status.
int Serve(const Options& options);

}  // namespace zsim
