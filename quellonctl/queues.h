// The CUPS queues as the command line sees them: the ones the window lists,
// and the others with the reason they are left out.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct Queue {
    std::string name;
    std::string model;   // empty: no model key in its PPD (or no PPD)
    std::string driver;  // empty: no driver version key
    // Why a queue is not listed: empty for a listed one, else a stable code
    // ("no-ppd", "no-model", "unsupported-model", "model-case").
    std::string reason;
    std::string near_model;  // "model-case": the supported name it almost is
};

struct Inventory {
    std::vector<Queue> listed;  // in the window's order
    std::vector<Queue> others;  // the rest, in CUPS's order
};

// The scheduler libcups talks to, as its users know it.
std::string CupsServerName();

// Whether the CUPS scheduler answers, within a few seconds.
bool SchedulerAnswers();

// Reads the queues without waiting for a scheduler that has no list yet,
// handing each listed one to `listed` (when given) as soon as it is read.
// False when discovery failed; it said why on standard error.
bool LoadInventory(Inventory* inventory, const std::function<void(const Queue&)>& listed = {});
// Adds the queues discovery keeps no record of (no PPD file) to `others`:
// one more question to CUPS, asked only when they matter.
void AddQueuesWithoutRecord(Inventory* inventory);

// The queue named `name` among `queues`, or null.
const Queue* FindQueue(const std::vector<Queue>& queues, const std::string& name);
