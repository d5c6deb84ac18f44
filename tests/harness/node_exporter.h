// Debian's Prometheus tools for tests of the metrics quellonctl writes: the
// node exporter serving a folder through its textfile collector, as a
// Prometheus server would scrape it, and promtool's check of a metrics text.
// Never the system's exporter: each runs on a loopback port of its own and
// stops with the object.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "process.h"

namespace harness {

class NodeExporter {
public:
    // Starts prometheus-node-exporter on a free port of 127.0.0.1 with only
    // the textfile collector, reading the *.prom files of `textfile_dir`, and
    // waits until it answers. Throws std::runtime_error (with its log) when
    // it does not come up.
    explicit NodeExporter(const std::string& textfile_dir);
    ~NodeExporter();
    NodeExporter(const NodeExporter&) = delete;
    NodeExporter& operator=(const NodeExporter&) = delete;

    uint16_t port() const { return port_; }
    // What it logged (the textfile collector names a file it could not use).
    std::string Log() const;
    // The body of a 200 answer to GET /metrics, or nullopt when no whole
    // answer came within `timeout` (or the answer was not 200).
    std::optional<std::string> Scrape(Millis timeout = 10000ms) const;
    // Stops it (SIGTERM) and returns its exit status.
    int Stop();

private:
    bool Launch();

    std::string textfile_dir_;
    TempDir dir_;
    std::unique_ptr<Process> process_;
    uint16_t port_ = 0;
};

// What `promtool check metrics` says of `text`, given on its standard input:
// its exit status (0: the text is valid exposition format and follows the
// naming conventions) and everything it printed.
struct PromtoolCheck {
    int status = -1;
    std::string output;
};
PromtoolCheck PromtoolCheckMetrics(const std::string& text);

// The value of the first sample of `series` in exposition text, the series
// written as the text writes it: "name" or "name{label=\"value\",...}".
std::optional<double> SampleValue(const std::string& text, const std::string& series);

}  // namespace harness
