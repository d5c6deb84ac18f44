// Which printers a command works on: queue names and shell-style patterns
// (matched as CUPS matches names, ignoring letter case), models, exclusions,
// and policy files of wanted values.
#pragma once

#include <istream>
#include <string>
#include <vector>

#include "options.h"
#include "queues.h"

// Whether `word` is a pattern rather than a queue name.
bool IsPattern(const std::string& word);
// Whether `selector` (a queue name, a pattern, or "model:NAME") selects
// `queue`.
bool Selects(const std::string& selector, const DiscoveredPrinter& queue);
// Whether `selector` chooses by model ("model:NAME").
bool IsModelSelector(const std::string& selector);

// One line of a policy: SELECTOR VALUE.
struct PolicyLine {
    std::string selector;
    Setting setting;
    int line = 0;
};

// Reads a policy: lines of SELECTOR VALUE, VALUE being the last word, "#"
// starting a comment; a byte-order mark before the first line is no part
// of it. False on the first malformed line (a value that is none, or a
// selector that cannot select: two words, a blank after "model:", an
// unclosed "[", a NUL byte), with a message naming `name` and the line
// number in `error`.
bool ParsePolicy(std::istream& in, const std::string& name, std::vector<PolicyLine>* lines,
                 std::string* error);

// The setting the last line selecting `queue` asks for, or null when no
// line selects it.
const Setting* PolicySetting(const std::vector<PolicyLine>& policy, const DiscoveredPrinter& queue);
