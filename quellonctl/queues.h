// The CUPS queues as the command line sees them: the ones the window lists,
// and the others with the reason they are left out.
#pragma once

#include <string>
#include <vector>

#include "discovery.h"

struct Inventory {
    std::vector<DiscoveredPrinter> listed;  // in the scheduler's order
    std::vector<DiscoveredPrinter> others;  // the rest, likewise
};

// Why a queue is not listed, as a stable code: "" for a listed one, else
// "no-ppd", "ppd-failed", "no-model", "unsupported-model" or "model-case".
std::string ListingReason(const DiscoveredPrinter& queue);
// "model-case": the supported model name the queue's differs from in
// letter case only; "" otherwise.
std::string NearModel(const DiscoveredPrinter& queue);
// A queue whose PPD file could not be fetched or read: it may well be a
// supported printer.
bool PpdFailed(const DiscoveredPrinter& queue);

// The scheduler libcups talks to, as its users know it.
std::string CupsServerName();

// Whether the CUPS scheduler answers, within a few seconds.
bool SchedulerAnswers();

// Every queue of the scheduler, read without waiting for one that has no
// list yet.
Inventory LoadInventory();

// The queue named `name` among `queues`, or null. Queue names are compared
// as CUPS compares them, ignoring letter case.
const DiscoveredPrinter* FindQueue(const std::vector<DiscoveredPrinter>& queues,
                                   const std::string& name);
// Whether two names are one queue to CUPS.
bool SameQueue(const std::string& a, const std::string& b);
