// The command line of quellonctl: what to do, to which queues, and how.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"

// A timer setting as the user asks for it.
struct Setting {
    enum Kind { kOff, kOn, kHours } kind = kOff;
    unsigned hours = 0;  // kHours only: 1 to 8
};

struct Options {
    Command command = Command::kList;
    bool all = false;
    std::vector<std::string> queues;    // names, patterns or "-", as given, in order
    std::string model;                  // --model: only queues of this model
    std::vector<std::string> excludes;  // --exclude: patterns left out
    std::string policy;                 // apply, check: the file, "-" for standard input
    Setting setting;
    bool dry_run = false;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    int jobs = 8;
    int64_t timeout_ms = 15000;
    int port = 0;  // 0: ZELD_PORT or the daemon's default
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name. On a usage error returns
// false with a one-line message (translated) in `error`.
bool ParseArguments(const std::vector<std::string>& args, Options* options, std::string* error);

// "off", "on" or 1 to 8 as a setting; false for anything else.
bool ParseSetting(const std::string& text, Setting* setting);

// The timer a setting asks for, given the timer the printer holds: "off"
// keeps the hours, "on" switches on with them (4 when they are not 1 to 8).
unsigned short WantedTimer(const Setting& setting, unsigned short held);

// The --help text, translated.
std::string HelpText();
