// The work on each resolved printer: the core's checks, operations and
// verified write under a deadline of its own, many printers at once on the
// program's one pool, stopped early by a signal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gio/gio.h>

#include "resolution.h"
#include "result.h"

struct RunSettings {
    bool wants_value = false;  // set, apply, check: compare with the entry's setting
    bool dry_run = false;      // everything but the write
    int jobs = 1;
    int64_t timeout_ms = 0;
    std::string locale;  // sent with every request
};

// Told what is known of a printer just before its write frame goes out:
// from then on its outcome may be unknown, but never "not done".
using Sending = std::function<void(const PrinterResult& known)>;

// One printer, start to end, on the calling thread.
PrinterResult RunPrinter(const Entry& entry, const RunSettings& settings,
                         const Sending& sending = nullptr);

// Each entry's result, in order: a rejected one as it is, a queue's after
// its work, `settings.jobs` at a time. `ready` sees each result on the
// calling thread as soon as it and every one before it are done. Once
// `stop` is cancelled nothing new starts and it returns at once:
// `*interrupted` is set, printers not finished are kNotDone, or
// kUnconfirmed once their write went out, and those still under way are
// left to themselves (the caller ends the process soon after).
std::vector<PrinterResult> RunEntries(const std::vector<Entry>& entries,
                                      const RunSettings& settings, GCancellable* stop,
                                      const std::function<void(const PrinterResult&)>& ready,
                                      bool* interrupted);
