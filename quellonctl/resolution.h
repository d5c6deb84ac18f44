// Every way of naming printers (names, patterns, --model, --exclude, "-"
// on standard input, --all, a policy's lines) turned, once and before any
// printer is asked, into one ordered list: each queue once, at its first
// mention, in CUPS's spelling, or a name that is rejected with its reason.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "options.h"
#include "queues.h"
#include "result.h"
#include "selection.h"

struct Entry {
    const DiscoveredPrinter* queue = nullptr;  // null: rejected, `result` says why
    PrinterResult result;                      // what is known before any work
    Setting setting;                           // what a set or a policy asks of it
};

struct Resolution {
    std::vector<Entry> entries;
    // Lines for standard error, each a selection that chose nothing.
    std::vector<std::string> warnings;
    bool usage_error = false;  // nothing may be done (a warning says why)
    bool unmatched = false;    // a policy line selects no queue
};

// get and set: the words of the command line (from `names_in` for "-").
Resolution ResolveNames(const Options& options, const Inventory& inventory, std::istream& names_in);
// apply and check: every queue a line of `policy` (read from `source`)
// selects, to the value of the last line that does.
Resolution ResolvePolicy(const std::vector<PolicyLine>& policy, const std::string& source,
                         const Inventory& inventory);

// The queue entries only.
size_t QueueCount(const Resolution& resolution);
bool AnyRejected(const Resolution& resolution);
