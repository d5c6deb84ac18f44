#include "plugin_output.h"

#include <algorithm>
#include <cstdio>

#include "printerops.h"
#include "text_output.h"

namespace {

struct Counts {
    size_t printers = 0;
    size_t holding = 0;
    size_t drift = 0;
    size_t failed = 0;  // other than offline
    size_t offline = 0;
    size_t done = 0;  // all but those an interruption left
};

Counts Count(const RunRecord& run)
{
    Counts counts;
    counts.printers = run.results.size();
    for (const PrinterResult& result : run.results) {
        if (Differs(result))
            ++counts.drift;
        else if (Succeeded(result))
            ++counts.holding;
        else if (Unreachable(result))
            ++counts.offline;
        else
            ++counts.failed;
        if (result.outcome != Outcome::kNotDone)
            ++counts.done;
    }
    return counts;
}

PluginState OfflineAs(OfflineState offline)
{
    switch (offline) {
    case OfflineState::kWarning:
        return kPluginWarning;
    case OfflineState::kOk:
        return kPluginOk;
    case OfflineState::kCritical:
        break;
    }
    return kPluginCritical;
}

const char* StateWord(PluginState state)
{
    switch (state) {
    case kPluginOk:
        return "OK";
    case kPluginWarning:
        return "WARNING";
    case kPluginCritical:
        return "CRITICAL";
    case kPluginUnknown:
        break;
    }
    return "UNKNOWN";
}

// Escaped as text output escapes names, and "|" too: after it a
// monitoring system reads performance data, on any line.
std::string Plain(const std::string& text)
{
    std::string plain;
    for (char c : Shown(text))
        plain += c == '|' ? std::string("\\x7c") : std::string(1, c);
    return plain;
}

std::string Number(size_t n)
{
    return std::to_string(n);
}

std::string Printers(size_t n)
{
    return Number(n) + (n == 1 ? " printer" : " printers");
}

std::string Timer(unsigned timer)
{
    const unsigned hours = timer & TIMER_HOURS;
    const std::string period = Number(hours) + (hours == 1 ? " hour" : " hours");
    if (timer & TIMER_OFF)
        return "off (" + period + " kept)";
    if (hours < TIMER_MIN_HOURS || hours > TIMER_MAX_HOURS)
        return period + " (outside 1 to 8)";
    return period;
}

std::string Summary(const RunRecord& run, const Counts& counts,
                    const std::vector<std::string>& notes)
{
    if (!run.worked)
        return notes.empty() ? "nothing could be checked" : notes.front();
    if (run.interrupted)
        return "interrupted, " + Number(counts.done) + " of " + Printers(counts.printers) +
               " checked";
    if (counts.printers == 0)
        return "the policy selects no printer";
    std::vector<std::pair<size_t, std::string>> parts = {
        {counts.failed, "failed"},
        {counts.offline, "offline"},
        {counts.drift, counts.drift == 1 ? "differs from the policy" : "differ from the policy"}};
    std::string text;
    for (const auto& [n, what] : parts) {
        if (n == 0)
            continue;
        text += text.empty() ? Number(n) + " of " + Printers(counts.printers) + " " + what
                             : ", " + Number(n) + " " + what;
    }
    if (text.empty())
        text =
            Printers(counts.printers) + (counts.printers == 1 ? " holds" : " hold") + " the policy";
    if (run.unmatched)
        text += "; a policy line selects no queue";
    return text;
}

std::string Perfdata(const RunRecord& run, const Counts& counts)
{
    char time[32];
    std::snprintf(time, sizeof time, "%.2f", std::max(run.seconds, 0.0));
    std::string data;
    for (const auto& [label, n] : {std::pair{"printers", counts.printers},
                                   {"holding", counts.holding},
                                   {"drift", counts.drift},
                                   {"failed", counts.failed},
                                   {"offline", counts.offline}})
        data += std::string(label) + "=" + Number(n) + ";;;0 ";
    return data + "time=" + time + "s;;;0";
}

// Why a printer failed: its stable code, then what explains it.
std::string FailureLine(const PrinterResult& result)
{
    std::string line = FailureCode(result.failure.kind);
    std::string why = result.failure.detail;
    switch (result.failure.kind) {
    case FailureKind::kRefused:
        why = "daemon code " + std::to_string(result.failure.daemon_code);
        break;
    case FailureKind::kOldFirmware:
        why = "firmware " + result.firmware + ", needs " + result.min_firmware;
        break;
    case FailureKind::kOldDriver:
        why = "driver " + (result.driver.empty() ? std::string("none") : result.driver) +
              ", needs " + MinDriverVersion();
        break;
    default:
        break;
    }
    return why.empty() ? line : line + " (" + why + ")";
}

}  // namespace

PluginState Assess(const RunRecord& run, OfflineState offline)
{
    const Counts counts = Count(run);
    if (!run.worked || run.interrupted || counts.printers == 0)
        return kPluginUnknown;
    PluginState state = kPluginOk;
    if (counts.drift > 0 || run.unmatched)
        state = kPluginWarning;
    if (counts.offline > 0)
        state = std::max(state, OfflineAs(offline));
    if (counts.failed > 0)
        state = kPluginCritical;
    return state;
}

std::string PluginReport(const RunRecord& run, OfflineState offline,
                         const std::vector<std::string>& notes)
{
    const Counts counts = Count(run);
    std::string text = "QUELLON " + std::string(StateWord(Assess(run, offline))) + ": " +
                       Plain(Summary(run, counts, notes));
    if (run.worked)
        text += " | " + Perfdata(run, counts);
    text += "\n";
    for (const PrinterResult& result : run.results) {
        if (Differs(result))
            text += Plain(result.queue) + ": holds " + Timer(*result.timer) +
                    ", the policy wants " + Timer(*result.wanted) + "\n";
        else if (!Succeeded(result))
            text += Plain(result.queue) + ": " + Plain(FailureLine(result)) + "\n";
    }
    // Without work the first note is the summary already.
    for (size_t i = run.worked ? 0 : 1; i < notes.size(); ++i)
        text += Plain(notes[i]) + "\n";
    return text;
}

std::string PluginHelp()
{
    return "Usage: check_quellon [-t SECONDS] [--jobs N] [--offline STATE] [--port PORT] POLICY\n"
           "       check_quellon -h | -V\n"
           "Checks whether the Brelko printers a policy file selects hold its auto\n"
           "shutdown timers (quellonctl check as a monitoring plugin). It writes to no\n"
           "printer.\n"
           "\n"
           "Options:\n"
           " -h, --help\n"
           "    Print this help and exit\n"
           " -V, --version\n"
           "    Print the version and exit\n"
           " -t, --timeout SECONDS\n"
           "    Deadline for each printer, connection and every exchange (default 15);\n"
           "    the check may take that long for every N printers that do not answer\n"
           " --jobs N\n"
           "    Printers asked at a time, 1 to 64 (default 8)\n"
           " --offline STATE\n"
           "    How printers that cannot be reached or do not answer count: critical\n"
           "    (default), warning or ok; they are named either way\n"
           " --port PORT\n"
           "    The printer daemon's port (default ZELD_PORT, else 59787)\n"
           "\n"
           "States:\n"
           " OK        every printer the policy selects holds its value\n"
           " WARNING   a printer differs from the policy (none failed), or a policy\n"
           "           line selects no queue\n"
           " CRITICAL  a printer failed (unreachable, timeout, refused, old firmware...)\n"
           " UNKNOWN   nothing could be checked: a usage error, a missing, unreadable or\n"
           "           malformed policy, CUPS unreachable, a policy that selects no\n"
           "           printer, or an interrupted check\n"
           "\n"
           "Performance data: printers, holding, drift, failed, offline (counts) and\n"
           "time (seconds). See quellonctl(1).\n";
}
