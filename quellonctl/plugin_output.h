// check as a monitoring plugin (Nagios, Naemon, Icinga 2): one state for
// the whole run as its exit status, a first line with the state, a summary
// and performance data, then a line for each printer that needs attention.
// Never translated: monitoring systems parse it.
#pragma once

#include <string>
#include <vector>

#include "options.h"
#include "result.h"

enum PluginState {
    kPluginOk = 0,
    kPluginWarning = 1,
    kPluginCritical = 2,
    kPluginUnknown = 3,
};

// OK when every printer holds its policy, WARNING when one differs (or a
// policy line selects no queue), CRITICAL when one failed, and UNKNOWN
// when nothing could be checked: no work, no printer, or an interrupted
// run. Printers that could not be reached count as `offline` says.
PluginState Assess(const RunRecord& run, OfflineState offline);

// The plugin's whole output. `notes` are the run's messages (the reason
// when nothing was worked on, and each policy line that selects nothing).
std::string PluginReport(const RunRecord& run, OfflineState offline,
                         const std::vector<std::string>& notes);

// check_quellon --help.
std::string PluginHelp();
