// What several benchmarks time a program by: from spawn to exit, or from
// exec until its window is mapped; and the median they print.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "process.h"

// X's headers define macros (None, Bool) that break gtest: only the opaque
// display travels through this header.
struct _XDisplay;

namespace bench {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values);

// One discovery as the window runs it, into a model of its own: the number
// of records, or -1 when discovery failed.
int WindowDiscovery();

struct Timed {
    int status;
    double ms;
    std::string out;
};

// Spawns `argv` with this process's environment, its standard output into
// `out_path` (standard error next to it, ".err"), and waits for it without
// polling, so the time is the process's own. Throws std::runtime_error
// when it cannot be started.
Timed TimeToExit(const std::vector<std::string>& argv, const std::string& out_path);

// Watches the root window of a display for top-levels being mapped: the X
// server's MapNotify, read from the root window's substructure events, no
// polling and no sleeps.
class MapWatcher {
public:
    // Throws std::runtime_error when the display cannot be opened.
    explicit MapWatcher(const std::string& display);
    ~MapWatcher();
    MapWatcher(const MapWatcher&) = delete;
    MapWatcher& operator=(const MapWatcher&) = delete;

    // Waits for a MapNotify of a window titled `title`; the moment it was
    // read, or nothing after the deadline.
    std::optional<Clock::time_point> WaitMapped(const std::string& title);
    // Drops events of earlier rounds.
    void Drain();

private:
    std::string Title(unsigned long window);

    _XDisplay* display_;
};

// Execs `argv` and returns the time until its window `title` was mapped,
// then stops it. Throws std::runtime_error when no such window appears.
double TimeToMapped(MapWatcher& watcher, const std::vector<std::string>& argv,
                    const harness::EnvChanges& env, const std::string& title);

}  // namespace bench
