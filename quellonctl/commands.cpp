#include "commands.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "exit_status.h"
#include "format.h"
#include "i18n.h"
#include "json_output.h"
#include "metrics.h"
#include "model.h"
#include "options.h"
#include "plugin_output.h"
#include "printerops.h"
#include "queues.h"
#include "report.h"
#include "resolution.h"
#include "runner.h"
#include "selection.h"
#include "stop.h"
#include "text_output.h"

namespace {

bool SchedulerUp()
{
    if (SchedulerAnswers())
        return true;
    SayError(Printf(_("cannot reach the CUPS scheduler at %s"), CupsServerName().c_str()));
    return false;
}

int List(const Options& options)
{
    if (!SchedulerUp())
        return kExitNoCups;
    const Inventory inventory = LoadInventory();
    int status = kExitOk;
    for (const DiscoveredPrinter& queue : inventory.others) {
        if (!PpdFailed(queue))
            continue;
        SayError(Printf(_("queue \"%s\" left out: %s"), queue.name.c_str(),
                        Printf(_("cannot fetch its PPD file: %s"), queue.detail.c_str()).c_str()));
        status = kExitFailed;
    }
    if (options.json)
        std::fputs(ListJson(inventory, options.all).c_str(), stdout);
    else
        PrintListText(stdout, inventory, options.all);
    return status;
}

// Why `path` cannot be read as a file (an errno), 0 when it may be.
int Unreadable(const std::string& path)
{
    struct stat about {};
    if (stat(path.c_str(), &about) != 0)
        return errno;
    return S_ISDIR(about.st_mode) ? EISDIR : 0;
}

// The policy of apply and check, read whole before any printer is asked.
// A folder or a file that cannot be read is said with the system's reason.
bool ReadPolicy(const std::string& path, std::vector<PolicyLine>* policy)
{
    std::string error;
    if (path == "-")
        return ParsePolicy(std::cin, _("standard input"), policy, &error) ||
               (SayError(error), false);
    const int why = Unreadable(path);
    std::ifstream file;
    if (why == 0)
        file.open(path);
    if (why != 0 || !file) {
        SayError(Printf(_("cannot read the policy file %s: %s"), Shown(path).c_str(),
                        std::strerror(why != 0 ? why
                                      : errno  ? errno
                                               : EIO)));
        return false;
    }
    return ParsePolicy(file, path, policy, &error) || (SayError(error), false);
}

RunSettings Settings(const Options& options, const CommandRow& row)
{
    RunSettings settings;
    settings.wants_value = row.wants_value;
    // A command that compares but may not write (check) goes through the
    // verified write of set with everything but the write.
    settings.dry_run = options.dry_run || (row.wants_value && !row.writes);
    settings.jobs = options.jobs;
    settings.timeout_ms = options.timeout_ms;
    char* locale = ChooseLocaleString();
    settings.locale = locale ? locale : "en_GB.UTF-8";
    mem_free(locale);
    return settings;
}

int Status(const CommandRow& row, const RunRecord& run)
{
    bool differs = false;
    for (const PrinterResult& result : run.results) {
        if (!Succeeded(result))
            return kExitFailed;
        differs = differs || Differs(result);
    }
    if (row.verdict != Verdict::kHolds)
        return kExitOk;
    if (run.unmatched)
        return kExitFailed;
    return differs ? kExitDiffers : kExitOk;
}

// How every run of get, set, apply and check ends, however far it came:
// the metrics of what it knows, the report, then its status (the plugin's
// state with --nagios). An interrupted run ends here.
int End(const Options& options, Reporter* reporter, RunRecord* run, gint64 started, int status)
{
    run->seconds = static_cast<double>(g_get_monotonic_time() - started) / G_USEC_PER_SEC;
    run->ended_at = static_cast<double>(g_get_real_time()) / G_USEC_PER_SEC;
    if (!options.metrics.empty()) {
        std::string error;
        if (!WriteMetricsFile(options.metrics, MetricsText(options.command, *run), &error)) {
            SayError(Printf(_("cannot write the metrics file %s: %s"),
                            Shown(options.metrics).c_str(), error.c_str()));
            if (status == kExitOk || status == kExitDiffers)
                status = kExitFailed;
        }
    }
    if (run->worked || options.nagios)
        reporter->Finish(*run);
    if (options.nagios)
        status = Assess(*run, options.offline);
    if (run->interrupted)
        EndInterrupted();
    return status;
}

// get, set, apply and check: resolution, then the work on each printer.
int Work(const Options& options)
{
    const gint64 started = g_get_monotonic_time();
    const CommandRow& row = CommandOf(options.command);
    Reporter reporter(options);
    RunRecord run;
    std::vector<PolicyLine> policy;
    if (row.takes == Takes::kPolicy && !ReadPolicy(options.policy, &policy))
        return End(options, &reporter, &run, started, kExitUsage);
    if (!SchedulerUp())
        return End(options, &reporter, &run, started, kExitNoCups);
    if (!options.model.empty() && !IsSupportedModel(options.model.c_str())) {
        SayError(Printf(_("\"%s\" is not a supported model (see quellonctl list)"),
                        options.model.c_str()));
        return End(options, &reporter, &run, started, kExitUsage);
    }
    const Inventory inventory = LoadInventory();
    const Resolution resolution =
        row.takes == Takes::kPolicy
            ? ResolvePolicy(policy, options.policy == "-" ? _("standard input") : options.policy,
                            inventory)
            : ResolveNames(options, inventory, std::cin);
    for (const std::string& warning : resolution.warnings)
        SayError(warning);
    if (resolution.usage_error)
        return End(options, &reporter, &run, started, kExitUsage);
    run.worked = true;
    run.unmatched = resolution.unmatched;
    // A set that names a queue it cannot use writes to no printer at all.
    if (row.takes == Takes::kQueuesAndValue && AnyRejected(resolution)) {
        for (const Entry& entry : resolution.entries)
            run.results.push_back(
                entry.queue ? Unworked(entry.result, Outcome::kNotDone, FailureKind::kNotAttempted)
                            : entry.result);
        return End(options, &reporter, &run, started, kExitFailed);
    }
    GCancellable* stop = BeginStoppableWork();
    run.results = RunEntries(
        resolution.entries, Settings(options, row), stop,
        [&](const PrinterResult& result) { reporter.Ready(result); }, &run.interrupted);
    return End(options, &reporter, &run, started, Status(row, run));
}

// In the order of Command.
constexpr std::array kCommands = {
    CommandRow{Command::kList, "list", Takes::kNothing, false, false, Verdict::kAsAsked, false,
               false, List},
    CommandRow{Command::kGet, "get", Takes::kQueues, false, false, Verdict::kAsAsked, false, true,
               Work},
    CommandRow{Command::kSet, "set", Takes::kQueuesAndValue, true, true, Verdict::kAsAsked, false,
               false, Work},
    CommandRow{Command::kApply, "apply", Takes::kPolicy, true, true, Verdict::kAsAsked, false, true,
               Work},
    CommandRow{Command::kCheck, "check", Takes::kPolicy, false, true, Verdict::kHolds, true, true,
               Work},
};

}  // namespace

const CommandRow* FindCommand(const std::string& name)
{
    for (const CommandRow& row : kCommands) {
        if (name == row.name)
            return &row;
    }
    return nullptr;
}

const CommandRow& CommandOf(Command command)
{
    return kCommands[static_cast<size_t>(command)];
}

bool ChoosesByName(const CommandRow& row)
{
    return row.takes == Takes::kQueues || row.takes == Takes::kQueuesAndValue;
}
