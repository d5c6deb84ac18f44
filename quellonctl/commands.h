// The one table of quellonctl's commands: what each is called, what it
// takes, whether it may write, how its exit status is decided, and the
// function that runs it. Parsing, JSON and dispatch read it.
#pragma once

#include <string>

enum class Command { kList, kGet, kSet, kApply, kCheck };

// What a command takes after its name.
enum class Takes {
    kNothing,         // list
    kQueues,          // names, patterns, "-", --all, --model, --exclude
    kQueuesAndValue,  // the same, then a value
    kPolicy,          // one policy file, "-" for standard input
};

// How a command's exit status is decided.
enum class Verdict {
    kAsAsked,  // 0 when every printer came out as asked, else 1
    kHolds,    // the same, but 4 when a printer holds another value than
               // wanted, and 1 when a policy line selects no queue
};

struct Options;

struct CommandRow {
    Command command;
    const char* name;  // as typed, and as JSON names it
    Takes takes;
    bool writes;       // may write to a printer, so --dry-run goes with it
    bool wants_value;  // compares each printer with a wanted value
    Verdict verdict;
    bool plugin;   // may speak as a monitoring plugin (--nagios): only what never writes
    bool metrics;  // may leave Prometheus metrics of the run (--metrics)
    int (*run)(const Options& options);
};

// The row of the command typed as `name`, or null.
const CommandRow* FindCommand(const std::string& name);
const CommandRow& CommandOf(Command command);

// Whether the command chooses printers by names, patterns and models.
bool ChoosesByName(const CommandRow& row);
