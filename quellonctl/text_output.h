// The results for people: through the message catalogue, one line a
// printer, in the order the queues were given or listed.
#pragma once

#include <cstdio>
#include <vector>

#include "queues.h"
#include "runner.h"

void PrintListText(std::FILE* out, const Inventory& inventory, bool all);
// With `quiet`, only the printers that failed or were not done, and with
// `check` those that differ from the policy.
void PrintResultsText(std::FILE* out, const std::vector<PrinterResult>& results, bool quiet,
                      bool check = false);
