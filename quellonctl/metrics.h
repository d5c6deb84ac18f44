// A run as Prometheus metrics, for the node exporter's textfile collector:
// the exposition text, and the file replaced whole by a rename, so that a
// scrape never reads half of it.
#pragma once

#include <string>

#include "commands.h"
#include "result.h"

// The exposition text of `run` by `command`: each printer's identity, whether
// its timer was read and what it holds, with apply and check whether it
// holds the policy, and the run's success, duration and end.
std::string MetricsText(Command command, const RunRecord& run);

// `value` as a label value between double quotes.
std::string LabelValue(const std::string& value);

// Replaces `path` with `text`, readable by all (the exporter runs as a user
// of its own): written to a new file in the same folder, then renamed over
// it. On failure nothing is left behind and `error` says why.
bool WriteMetricsFile(const std::string& path, const std::string& text, std::string* error);
