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

// How the monitoring plugin counts a printer whose daemon could not be
// reached or did not answer: a printer switched off for the night is not
// always an outage.
enum class OfflineState { kCritical, kWarning, kOk };

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
    int port = 0;                                    // 0: ZELD_PORT or the daemon's default
    bool nagios = false;                             // check: speak as a monitoring plugin
    OfflineState offline = OfflineState::kCritical;  // --nagios only
    std::string metrics;                             // the Prometheus file, or empty
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name. On a usage error returns
// false with a one-line message (translated) in `error`. As the plugin
// (`plugin`: started as check_quellon) the command is check --nagios and
// only its policy is given.
bool ParseArguments(const std::vector<std::string>& args, Options* options, std::string* error,
                    bool plugin = false);

// Whether the monitoring plugin's contract holds for this run, even when
// its arguments cannot be parsed: started as check_quellon, or given
// --nagios before any "--".
bool PluginInPlay(const std::vector<std::string>& args, bool plugin);

// "off", "on" or 1 to 8 as a setting; false for anything else.
bool ParseSetting(const std::string& text, Setting* setting);

// The timer a setting asks for, given the timer the printer holds: "off"
// keeps the hours, "on" switches on with them (4 when they are not 1 to 8).
unsigned short WantedTimer(const Setting& setting, unsigned short held);

// The --help text, translated.
std::string HelpText();
