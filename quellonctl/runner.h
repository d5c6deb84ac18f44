// The per-printer work of get and set, run for many printers at once with
// a deadline each, and stopped early by Ctrl-C.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "options.h"
#include "queues.h"

struct RunSettings {
    Command command = Command::kGet;
    Setting setting;
    bool dry_run = false;
    int jobs = 1;
    int64_t timeout_ms = 0;
    std::string locale;  // sent with every request
};

enum class Outcome {
    kRead,         // get: firmware and timer read
    kUnchanged,    // set: the printer already held the value
    kChanged,      // set: written and confirmed by reading back
    kWouldChange,  // set --dry-run: would have been written
    kUnconfirmed,  // set: the value was sent, its outcome is unknown
    kFailed,       // see `error`
    kNotDone,      // interrupted, or not tried because of another queue
};

struct PrinterResult {
    std::string queue;
    std::string model;
    std::string driver;
    std::string firmware;            // empty: not read
    std::string min_firmware;        // the model's minimum
    std::optional<uint16_t> timer;   // as read before anything was written
    std::optional<uint16_t> wanted;  // set: the timer asked for
    std::optional<uint16_t> held;    // set: what the printer reports afterwards
    bool reply_lost = false;         // set: the write's reply never came
    Outcome outcome = Outcome::kNotDone;
    std::string error;               // stable code when the printer failed or was not done
    std::string detail;              // the system's or libcups's words for the failure, if any
    std::optional<int> daemon_code;  // "refused": the daemon's response code
};

// Told what is known of a printer just before its write frame goes out:
// from then on its outcome may be unknown, but never "not done".
using Sending = std::function<void(const PrinterResult& known)>;

// One printer, start to end, on the calling thread.
PrinterResult RunPrinter(const Queue& queue, const RunSettings& settings,
                         const Sending& sending = nullptr);

// The result of a queue that is not worked on, with the reason code.
PrinterResult Unworked(const Queue& queue, Outcome outcome, const std::string& error);

struct Pool;

// From here on SIGINT, SIGTERM and SIGHUP stop the runner at work (or, before
// one works, end the process at once with StopStatus()). Call it before any
// thread starts.
void WatchForStopSignals();
// 128 + the signal that stopped the run; 0 when none did.
int StopStatus();

// Works on the queues added, `settings.jobs` at a time (fewer when there
// are fewer queues or the system starts no more threads), each as soon as
// it is added. SIGINT and SIGTERM start nothing new: Finish then reports
// the queues not finished as kNotDone, or kUnconfirmed once their write
// went out, and leaves printers still under way to themselves (the caller
// ends the process soon after).
class PrinterRunner {
public:
    explicit PrinterRunner(const RunSettings& settings);
    ~PrinterRunner();
    PrinterRunner(const PrinterRunner&) = delete;
    PrinterRunner& operator=(const PrinterRunner&) = delete;

    void Add(const Queue& queue);
    // A queue with a setting of its own (a policy's line).
    void Add(const Queue& queue, const Setting& setting);
    // No more queues: the results in the order added, once every printer
    // is done or an interruption came (then `*interrupted` is set).
    // `ready` (when given) sees each result on the calling thread as soon
    // as it and every one added before it are done.
    using Ready = std::function<void(const PrinterResult&)>;
    std::vector<PrinterResult> Finish(bool* interrupted, const Ready& ready = {});

private:
    void Close();
    void StartWorker();

    RunSettings settings_;
    std::shared_ptr<Pool> pool_;
    std::vector<std::thread> workers_;
    bool detach_ = false;
    bool no_more_threads_ = false;
};
