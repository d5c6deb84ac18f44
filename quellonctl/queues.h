// The CUPS queues as the command line sees them: the ones the window lists,
// and the others with the reason they are left out.
#pragma once

#include <string>
#include <vector>

struct Queue {
    std::string name;
    std::string model;   // empty: no model key in its PPD (or no PPD)
    std::string driver;  // empty: no driver version key
    // Why a queue is not listed: empty for a listed one, else a stable code
    // ("no-ppd", "ppd-failed", "no-model", "unsupported-model", "model-case").
    std::string reason;
    std::string near_model;  // "model-case": the supported name it almost is
    std::string detail;      // "ppd-failed": why, in libcups's or the system's words
};

struct Inventory {
    std::vector<Queue> listed;  // in the scheduler's order
    std::vector<Queue> others;  // the rest, likewise
};

// The scheduler libcups talks to, as its users know it.
std::string CupsServerName();

// Whether the CUPS scheduler answers, within a few seconds.
bool SchedulerAnswers();

// Every queue of the scheduler, read without waiting for one that has no
// list yet.
Inventory LoadInventory();

// The queue named `name` among `queues`, or null. Queue names are compared
// as CUPS compares them, ignoring letter case.
const Queue* FindQueue(const std::vector<Queue>& queues, const std::string& name);
