// quellonctl: the auto shutdown timer of Brelko printers from a shell.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "format.h"
#include "i18n.h"
#include "json_output.h"
#include "model.h"
#include "options.h"
#include "printerops.h"
#include "queues.h"
#include "runner.h"
#include "text_output.h"

namespace {

enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNoCups = 3,
    kExitInterrupted = 130,
};

void SetUpCatalogue()
{
    std::setlocale(LC_ALL, "");
    bindtextdomain(GETTEXT_PACKAGE, QUELLON_LOCALEDIR);
    bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
}

void SayError(const std::string& message)
{
    std::fprintf(stderr, "quellonctl: %s\n", message.c_str());
}

std::mutex g_trace_mutex;

// -v: one line a frame on standard error, whole even when printers run
// side by side: "QUEUE > hex" for a request, "QUEUE < hex" for a reply.
void TraceFrame(const VxsktModule* vxskt, bool sent, const unsigned char* bytes, int size)
{
    std::string line = std::string(vxskt->printer) + (sent ? " >" : " <");
    char hex[4];
    for (int i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
        line += hex;
    }
    std::lock_guard<std::mutex> lock(g_trace_mutex);
    std::fprintf(stderr, "%s\n", line.c_str());
}

int List(const Options& options)
{
    const Inventory inventory = LoadInventory();
    if (options.json)
        std::fputs(ListJson(inventory, options.all).c_str(), stdout);
    else
        PrintListText(stdout, inventory, options.all);
    return kExitOk;
}

// The named queues to work on, each once, in the order given; a named
// queue that is not listed gets its failure in `results` instead.
std::vector<Queue> Select(const Options& options, const Inventory& inventory,
                          std::vector<PrinterResult>* results)
{
    std::vector<Queue> selected;
    std::set<std::string> seen;
    for (const std::string& name : options.queues) {
        if (!seen.insert(name).second)
            continue;
        if (const Queue* queue = FindQueue(inventory.listed, name)) {
            selected.push_back(*queue);
            continue;
        }
        const Queue* other = FindQueue(inventory.others, name);
        results->push_back(Unworked(other ? *other : Queue{name, "", "", "", "", ""},
                                    Outcome::kFailed,
                                    other ? "unsupported-model" : "unknown-queue"));
    }
    return selected;
}

// Puts the results of the queues worked on among the rejected ones, in the
// order the queues were named.
std::vector<PrinterResult> InOrder(const Options& options, std::vector<PrinterResult> done,
                                   const std::vector<PrinterResult>& rejected)
{
    if (rejected.empty())
        return done;
    std::vector<PrinterResult> ordered;
    std::set<std::string> seen;
    size_t next_done = 0;
    size_t next_rejected = 0;
    for (const std::string& name : options.queues) {
        if (!seen.insert(name).second)
            continue;
        const bool is_rejected =
            next_rejected < rejected.size() && rejected[next_rejected].queue == name;
        ordered.push_back(is_rejected ? rejected[next_rejected++] : done[next_done++]);
    }
    return ordered;
}

bool AllSucceeded(const std::vector<PrinterResult>& results)
{
    for (const PrinterResult& result : results) {
        if (result.outcome == Outcome::kFailed || result.outcome == Outcome::kNotDone ||
            result.outcome == Outcome::kUnconfirmed)
            return false;
    }
    return true;
}

void Report(const Options& options, const std::vector<PrinterResult>& results)
{
    if (options.json)
        std::fputs(ResultsJson(options.command, options.dry_run, results).c_str(), stdout);
    else
        PrintResultsText(stdout, results, options.quiet);
    std::fflush(stdout);
}

RunSettings Settings(const Options& options)
{
    RunSettings settings;
    settings.command = options.command;
    settings.setting = options.setting;
    settings.dry_run = options.dry_run;
    settings.jobs = options.jobs;
    settings.timeout_ms = options.timeout_ms;
    char* locale = ChooseLocaleString();
    settings.locale = locale ? locale : "en_GB.UTF-8";
    mem_free(locale);
    return settings;
}

int Conclude(const Options& options, PrinterRunner* runner,
             const std::vector<PrinterResult>& rejected)
{
    bool interrupted = false;
    const std::vector<PrinterResult> results =
        InOrder(options, runner->Finish(&interrupted), rejected);
    Report(options, results);
    if (interrupted) {
        // Printers still under way hold their threads: end without them.
        std::fflush(stderr);
        std::_Exit(kExitInterrupted);
    }
    return AllSucceeded(results) ? kExitOk : kExitFailed;
}

// Every listed queue: work on a printer starts as soon as its queue is read.
int AllListed(const Options& options)
{
    const Inventory inventory = LoadInventory();
    PrinterRunner runner(Settings(options));
    std::set<std::string> seen;
    for (const Queue& queue : inventory.listed) {
        if (seen.insert(queue.name).second)
            runner.Add(queue);
    }
    return Conclude(options, &runner, {});
}

int Named(const Options& options)
{
    const Inventory inventory = LoadInventory();
    std::vector<PrinterResult> rejected;
    const std::vector<Queue> selected = Select(options, inventory, &rejected);
    // A set that names a queue it cannot use writes to no printer at all.
    if (options.command == Command::kSet && !rejected.empty()) {
        std::vector<PrinterResult> skipped;
        for (const Queue& queue : selected)
            skipped.push_back(Unworked(queue, Outcome::kNotDone, "not-attempted"));
        Report(options, InOrder(options, skipped, rejected));
        return kExitFailed;
    }
    PrinterRunner runner(Settings(options));
    for (const Queue& queue : selected)
        runner.Add(queue);
    return Conclude(options, &runner, rejected);
}

}  // namespace

int main(int argc, char** argv)
{
    SetUpCatalogue();
    Options options;
    std::string error;
    if (!ParseArguments(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        SayError(error);
        std::fprintf(stderr, "%s\n", _("Try 'quellonctl --help' for more information."));
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(HelpText().c_str(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("quellonctl %s\n", QUELLON_VERSION);
        return kExitOk;
    }
    // The command line beats the environment.
    if (options.port != 0)
        setenv("ZELD_PORT", std::to_string(options.port).c_str(), 1);
    if (options.verbose)
        vxsktSetTrace(TraceFrame);

    if (!SchedulerAnswers()) {
        SayError(Printf(_("cannot reach the CUPS scheduler at %s"), CupsServerName().c_str()));
        return kExitNoCups;
    }
    if (options.command == Command::kList)
        return List(options);
    return options.queues.empty() ? AllListed(options) : Named(options);
}
