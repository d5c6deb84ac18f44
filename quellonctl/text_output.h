// The results for people: through the message catalogue, one line a
// printer, in the order the queues were given or listed.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "queues.h"
#include "result.h"

// Names from PPD files, the scheduler or the user as text a terminal cannot
// take for a command: every control byte as \xNN.
std::string Shown(const std::string& text);

void PrintListText(std::FILE* out, const Inventory& inventory, bool all);
// With `quiet`, only the printers that failed or were not done, and with
// `check` those that differ from the policy.
void PrintResultsText(std::FILE* out, const std::vector<PrinterResult>& results, bool quiet,
                      bool check = false);
