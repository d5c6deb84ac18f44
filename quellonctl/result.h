// What became of one printer: the one record every output reads (text,
// JSON), with the one definition of "succeeded".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "discovery.h"
#include "failure.h"

enum class Outcome {
    kRead,         // get: firmware and timer read
    kUnchanged,    // set: the printer already held the value
    kChanged,      // set: written and confirmed by reading back
    kWouldChange,  // set --dry-run, check: would have been written
    kUnconfirmed,  // set: the value was sent, its outcome is unknown
    kFailed,       // see `failure`
    kNotDone,      // interrupted, or not tried because of another queue
};

struct PrinterResult {
    std::string queue;  // as CUPS spells it, or as named when there is no such queue
    std::string model;
    std::string driver;
    std::string firmware;            // empty: not read
    std::string min_firmware;        // the model's minimum
    std::optional<uint16_t> timer;   // as read before anything was written
    std::optional<uint16_t> wanted;  // set: the timer asked for
    std::optional<uint16_t> held;    // set: what the printer reports afterwards
    bool reply_lost = false;         // set: the write's reply never came
    Outcome outcome = Outcome::kNotDone;
    Failure failure;  // kNone unless the printer failed, was not done or is unconfirmed
};

// Every printer that came out as asked: read, unchanged, changed, or (dry
// run, check) found to differ.
bool Succeeded(const PrinterResult& result);
// check: holds another value than the policy's.
bool Differs(const PrinterResult& result);

// apply, check: holds the policy's value once the run is done (it did, or
// the write was confirmed).
bool Holds(const PrinterResult& result);
// Failed because its daemon could not be reached or did not answer: what a
// printer that is switched off looks like.
bool Unreachable(const PrinterResult& result);

// A whole run as its last outputs (the plugin's report, the metrics) see it.
struct RunRecord {
    bool worked = false;       // the printers were resolved and worked on
    bool unmatched = false;    // a policy line selects no queue
    bool interrupted = false;  // a signal ended the work early
    std::vector<PrinterResult> results;
    double seconds = 0;   // from the start of the command to its end
    double ended_at = 0;  // seconds since the epoch
};

// Every printer came out as asked in a run that was not cut short.
bool RunSucceeded(const RunRecord& run);

// A printer's record before anything is asked of it.
PrinterResult Begin(const DiscoveredPrinter& queue);
// One that is not worked on: `outcome` (kFailed or kNotDone) for `kind`.
PrinterResult Unworked(PrinterResult result, Outcome outcome, FailureKind kind);
