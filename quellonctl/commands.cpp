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
#include "model.h"
#include "options.h"
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

// The policy of apply and check, read whole before any printer is asked.
// A folder or a file that cannot be read is said with the system's reason.
bool ReadPolicy(const std::string& path, std::vector<PolicyLine>* policy)
{
    std::string error;
    if (path == "-")
        return ParsePolicy(std::cin, _("standard input"), policy, &error) ||
               (SayError(error), false);
    std::ifstream file;
    struct stat about {};
    int why = 0;
    if (stat(path.c_str(), &about) != 0)
        why = errno;
    else if (S_ISDIR(about.st_mode))
        why = EISDIR;
    else if (file.open(path), !file)
        why = errno ? errno : EIO;
    if (why != 0) {
        SayError(Printf(_("cannot read the policy file %s: %s"), Shown(path).c_str(),
                        std::strerror(why)));
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

int Status(const CommandRow& row, const Resolution& resolution,
           const std::vector<PrinterResult>& results)
{
    bool differs = false;
    for (const PrinterResult& result : results) {
        if (!Succeeded(result))
            return kExitFailed;
        differs = differs || Differs(result);
    }
    if (row.verdict != Verdict::kHolds)
        return kExitOk;
    if (resolution.unmatched)
        return kExitFailed;
    return differs ? kExitDiffers : kExitOk;
}

// get, set, apply and check: resolution, then the work on each printer.
int Work(const Options& options)
{
    const CommandRow& row = CommandOf(options.command);
    std::vector<PolicyLine> policy;
    if (row.takes == Takes::kPolicy && !ReadPolicy(options.policy, &policy))
        return kExitUsage;
    if (!SchedulerUp())
        return kExitNoCups;
    if (!options.model.empty() && !IsSupportedModel(options.model.c_str())) {
        SayError(Printf(_("\"%s\" is not a supported model (see quellonctl list)"),
                        options.model.c_str()));
        return kExitUsage;
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
        return kExitUsage;
    // A set that names a queue it cannot use writes to no printer at all.
    if (row.takes == Takes::kQueuesAndValue && AnyRejected(resolution)) {
        std::vector<PrinterResult> results;
        for (const Entry& entry : resolution.entries)
            results.push_back(
                entry.queue ? Unworked(entry.result, Outcome::kNotDone, FailureKind::kNotAttempted)
                            : entry.result);
        Reporter(options).Finish(results);
        return kExitFailed;
    }
    GCancellable* stop = BeginStoppableWork();
    Reporter reporter(options);
    bool interrupted = false;
    const std::vector<PrinterResult> results = RunEntries(
        resolution.entries, Settings(options, row), stop,
        [&](const PrinterResult& result) { reporter.Ready(result); }, &interrupted);
    reporter.Finish(results);
    if (interrupted)
        EndInterrupted();
    return Status(row, resolution, results);
}

// In the order of Command.
constexpr std::array kCommands = {
    CommandRow{Command::kList, "list", Takes::kNothing, false, false, Verdict::kAsAsked, List},
    CommandRow{Command::kGet, "get", Takes::kQueues, false, false, Verdict::kAsAsked, Work},
    CommandRow{Command::kSet, "set", Takes::kQueuesAndValue, true, true, Verdict::kAsAsked, Work},
    CommandRow{Command::kApply, "apply", Takes::kPolicy, true, true, Verdict::kAsAsked, Work},
    CommandRow{Command::kCheck, "check", Takes::kPolicy, false, true, Verdict::kHolds, Work},
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
