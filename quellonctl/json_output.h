// The results for scripts: one JSON document, never translated, the same
// bytes in every locale.
#pragma once

#include <string>
#include <vector>

#include "commands.h"
#include "queues.h"
#include "result.h"

std::string ListJson(const Inventory& inventory, bool all);
std::string ResultsJson(Command command, bool dry_run, const std::vector<PrinterResult>& results);

// `text` as a JSON string: bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);
