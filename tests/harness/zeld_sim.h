// Starts the daemon simulator (zeld-sim) for a test: its own temporary
// folder with config, state, control and log files, a free port, and
// helpers to read what it logged and stored and to inject faults while it
// runs. See zeld-sim/README.md for the fault rules and the log format.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "process.h"

namespace harness {

struct SimPrinter {
    std::string name;
    int major = 1;
    int minor = 0;
    uint16_t timer = 0;
};

class ZeldSim {
public:
    struct Options {
        // Empty: the simulator's own default set (the demo queues).
        std::vector<SimPrinter> printers;
        // Rules fixed for the whole run ("PRINTER ITEM KIND [ARG] [count N]").
        std::vector<std::string> faults;
        // Empty: a state file in the simulator's own temporary folder.
        std::string state_path;
        // --split-replies: each answer in two writes, header and the rest.
        bool split_replies = false;
        // Passed through after the options above: {"--idle-timeout", "300"}.
        std::vector<std::string> extra_args;
        // Config file lines after the printers, for what the other fields do
        // not say: "printer lp{01..64} 1.2 4 delay 20", "fault lp{57..64} * silent".
        std::vector<std::string> config_lines;
    };

    // Starts the simulator and waits for its port; throws std::runtime_error
    // (with the simulator's standard error) when it does not come up.
    ZeldSim();
    explicit ZeldSim(Options options);
    ~ZeldSim();
    ZeldSim(const ZeldSim&) = delete;
    ZeldSim& operator=(const ZeldSim&) = delete;

    uint16_t port() const { return port_; }
    // ZELD_PORT for a client process.
    EnvChanges Env() const { return {{"ZELD_PORT", std::to_string(port_)}}; }

    const std::string& log_path() const { return log_path_; }
    const std::string& state_path() const { return state_path_; }
    std::string Log() const;
    // What it wrote to standard error (sanitizer reports, start-up errors).
    std::string Stderr() const;
    std::vector<std::string> LogLines() const;
    // Lines starting with "request ", in the order they arrived.
    std::vector<std::string> Requests() const;
    // The value of `key=` in a log line (quotes kept for text fields), or
    // nullopt: Field(line, "raw") is the request frame in hex.
    static std::optional<std::string> Field(const std::string& line, const std::string& key);
    // Waits for a log line containing `text`; counts only lines beyond the
    // first `skip` matching ones, so a test can wait for the next one.
    bool WaitForLog(const std::string& text, Millis timeout = 10000ms, size_t skip = 0) const;
    size_t CountLog(const std::string& text) const;

    // The timer the simulator last saved for `printer`, from the state file.
    std::optional<uint16_t> StoredTimer(const std::string& printer) const;

    // Replaces the run-time fault rules; the next request sees them.
    void SetFaults(const std::vector<std::string>& rules);
    void SetFault(const std::string& rule) { SetFaults({rule}); }
    void ClearFaults() { SetFaults({}); }

    // Stops it (SIGTERM) and returns its exit status.
    int Stop();
    bool running();
    // Stops it and starts it again on the same state, config and log,
    // on the same port when `same_port` (else on a new free port).
    void Restart(bool same_port = true);

    Process& process() { return *process_; }

private:
    void Launch(uint16_t port);

    Options options_;
    TempDir dir_;
    std::string config_path_;
    std::string state_path_;
    std::string control_path_;
    std::string log_path_;
    std::string stdout_path_;
    std::string stderr_path_;
    unsigned control_generation_ = 0;
    std::unique_ptr<Process> process_;
    uint16_t port_ = 0;
};

}  // namespace harness
