// quellonctl: the auto shutdown timer of Brelko printers from a shell.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "format.h"
#include "i18n.h"
#include "json_output.h"
#include "model.h"
#include "options.h"
#include "printerops.h"
#include "queues.h"
#include "runner.h"
#include "selection.h"
#include "text_output.h"

namespace {

enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNoCups = 3,
    kExitDiffers = 4,
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

// A queue whose PPD file could not be read is a printer that failed: it
// may well be a supported one.
bool Unfetched(const Queue& queue)
{
    return queue.reason == "ppd-failed";
}

PrinterResult UnfetchedResult(const Queue& queue)
{
    PrinterResult result = Unworked(queue, Outcome::kFailed, "ppd-failed");
    result.detail = queue.detail;
    return result;
}

// The queues of `inventory` that failed discovery and `selected` keeps,
// as failed printers.
template <typename Keep>
std::vector<PrinterResult> UnfetchedResults(const Inventory& inventory, Keep selected)
{
    std::vector<PrinterResult> results;
    for (const Queue& queue : inventory.others) {
        if (Unfetched(queue) && selected(queue))
            results.push_back(UnfetchedResult(queue));
    }
    return results;
}

int List(const Options& options)
{
    const Inventory inventory = LoadInventory();
    int status = kExitOk;
    for (const Queue& queue : inventory.others) {
        if (!Unfetched(queue))
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
        if (other && Unfetched(*other))
            results->push_back(UnfetchedResult(*other));
        else
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

// Standard output was closed when the program started.
bool g_stdout_closed = false;

// A closed standard output would hand its number to the next socket opened,
// and the report would go to a scheduler or a printer: the slot is held
// with /dev/null, and the report counts as not written.
void HoldClosedStdout()
{
    if (fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF)
        return;
    g_stdout_closed = true;
    const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd >= 0 && fd != STDOUT_FILENO) {
        dup2(fd, STDOUT_FILENO);
        close(fd);
    }
}

// Whether everything printed reached standard output: a report that went
// nowhere (a full disk, a closed pipe) is a failure, said in one line.
bool OutputWritten()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && !g_stdout_closed)
        return true;
    SayError(
        Printf(_("cannot write the report: %s"), std::strerror(g_stdout_closed ? EBADF : errno)));
    return false;
}

bool AnyDiffers(const std::vector<PrinterResult>& results)
{
    for (const PrinterResult& result : results) {
        if (result.outcome == Outcome::kWouldChange)
            return true;
    }
    return false;
}

// The results from `first` on: JSON whole, text a line a printer.
void Report(const Options& options, const std::vector<PrinterResult>& results, size_t first = 0)
{
    if (options.json)
        std::fputs(ResultsJson(options.command, options.dry_run, results).c_str(), stdout);
    else
        PrintResultsText(stdout, {results.begin() + static_cast<long>(first), results.end()},
                         options.quiet, options.command == Command::kCheck);
    std::fflush(stdout);
}

RunSettings Settings(const Options& options)
{
    RunSettings settings;
    // A policy's printers go through the checks and verified write of set;
    // check writes nothing.
    const bool policy = options.command == Command::kApply || options.command == Command::kCheck;
    settings.command = policy ? Command::kSet : options.command;
    settings.setting = options.setting;
    settings.dry_run = options.dry_run || options.command == Command::kCheck;
    settings.jobs = options.jobs;
    settings.timeout_ms = options.timeout_ms;
    char* locale = ChooseLocaleString();
    settings.locale = locale ? locale : "en_GB.UTF-8";
    mem_free(locale);
    return settings;
}

// Ends a run: the printers worked on (among the rejected ones, in the order
// named), then those whose discovery failed.
int Conclude(const Options& options, PrinterRunner* runner,
             const std::vector<PrinterResult>& rejected,
             const std::vector<PrinterResult>& unfetched = {})
{
    // Text shows each printer as soon as it and those before it are done, so
    // a long run shows its progress; a queue rejected among them keeps the
    // whole report to the end, as JSON always is.
    size_t shown = 0;
    PrinterRunner::Ready ready;
    if (!options.json && rejected.empty())
        ready = [&](const PrinterResult& result) { Report(options, {result}), ++shown; };
    bool interrupted = false;
    std::vector<PrinterResult> results =
        InOrder(options, runner->Finish(&interrupted, ready), rejected);
    results.insert(results.end(), unfetched.begin(), unfetched.end());
    Report(options, results, shown);
    if (interrupted) {
        // Printers still under way hold their threads: end without them.
        const int status = OutputWritten() ? StopStatus() : kExitFailed;
        std::fflush(stderr);
        std::_Exit(status);
    }
    if (!AllSucceeded(results))
        return kExitFailed;
    return options.command == Command::kCheck && AnyDiffers(results) ? kExitDiffers : kExitOk;
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
    return Conclude(options, &runner, {},
                    UnfetchedResults(inventory, [](const Queue&) { return true; }));
}

int Named(const Options& options, const Inventory& inventory)
{
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

// The queue names on standard input, one a line.
void ReadNames(std::vector<std::string>* words)
{
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            words->push_back(line);
    }
}

// The words of get and set as queue names: "-" read from standard input,
// each pattern replaced by the listed queues it matches, then --model and
// --exclude applied. False on a usage error, after its line.
bool Expand(const Options& options, const Inventory& inventory, std::vector<std::string>* names)
{
    std::vector<std::string> words;
    for (const std::string& word : options.queues)
        word == "-" ? ReadNames(&words) : words.push_back(word);
    const bool every = options.all || (words.empty() && !options.model.empty());
    for (const Queue& queue : inventory.listed) {
        if (every)
            names->push_back(queue.name);
    }
    for (const std::string& word : words) {
        if (!IsPattern(word)) {
            names->push_back(word);
            continue;
        }
        const size_t before = names->size();
        for (const Queue& queue : inventory.listed) {
            if (Selects(word, queue))
                names->push_back(queue.name);
        }
        if (names->size() > before)
            continue;
        if (options.command == Command::kSet || !options.quiet)
            SayError(Printf(_("no listed queue matches \"%s\""), word.c_str()));
        if (options.command == Command::kSet)
            return false;
    }
    const auto left_out = [&](const std::string& name) {
        const Queue* queue = FindQueue(inventory.listed, name);
        if (queue && !options.model.empty() && queue->model != options.model)
            return true;
        for (const std::string& pattern : options.excludes) {
            if (Selects(pattern, queue ? *queue : Queue{name, "", "", "", "", ""}))
                return true;
        }
        return false;
    };
    names->erase(std::remove_if(names->begin(), names->end(), left_out), names->end());
    if (names->empty() && options.command == Command::kSet) {
        SayError(_("the selection holds no queue: nothing written"));
        return false;
    }
    return true;
}

// get and set: the queues named, matched or chosen by model.
int Selected(const Options& options)
{
    if (!options.model.empty() && !IsSupportedModel(options.model.c_str())) {
        SayError(Printf(_("\"%s\" is not a supported model (see quellonctl list)"),
                        options.model.c_str()));
        return kExitUsage;
    }
    const Inventory inventory = LoadInventory();
    Options resolved = options;
    resolved.queues.clear();
    resolved.all = false;
    if (!Expand(options, inventory, &resolved.queues))
        return kExitUsage;
    if (resolved.queues.empty()) {
        Report(options, {});
        return kExitOk;
    }
    return Named(resolved, inventory);
}

// The policy of apply and check, read whole before any printer is asked.
bool ReadPolicy(const Options& options, std::vector<PolicyLine>* policy)
{
    std::string error;
    if (options.policy == "-")
        return ParsePolicy(std::cin, _("standard input"), policy, &error) ||
               (SayError(error), false);
    std::ifstream file(options.policy);
    if (!file) {
        SayError(Printf(_("cannot read the policy file %s"), options.policy.c_str()));
        return false;
    }
    return ParsePolicy(file, options.policy, policy, &error) || (SayError(error), false);
}

// apply and check: every listed queue a line selects, to its last line's
// value; the others are not contacted.
int Policy(const Options& options, const std::vector<PolicyLine>& policy)
{
    const Inventory inventory = LoadInventory();
    PrinterRunner runner(Settings(options));
    std::set<std::string> seen;
    for (const Queue& queue : inventory.listed) {
        const Setting* setting = PolicySetting(policy, queue);
        if (setting && seen.insert(queue.name).second)
            runner.Add(queue, *setting);
    }
    return Conclude(options, &runner, {}, UnfetchedResults(inventory, [&](const Queue& queue) {
                        return PolicySetting(policy, queue) != nullptr;
                    }));
}

int Run(const Options& options)
{
    // The command line beats the environment.
    if (options.port != 0)
        setenv("ZELD_PORT", std::to_string(options.port).c_str(), 1);
    if (options.verbose)
        vxsktSetTrace(TraceFrame);

    std::vector<PolicyLine> policy;
    const bool has_policy =
        options.command == Command::kApply || options.command == Command::kCheck;
    if (has_policy && !ReadPolicy(options, &policy))
        return kExitUsage;

    if (!SchedulerAnswers()) {
        SayError(Printf(_("cannot reach the CUPS scheduler at %s"), CupsServerName().c_str()));
        return kExitNoCups;
    }
    if (options.command == Command::kList)
        return List(options);
    if (has_policy)
        return Policy(options, policy);
    const bool chosen =
        !options.queues.empty() || !options.model.empty() || !options.excludes.empty();
    return chosen ? Selected(options) : AllListed(options);
}

}  // namespace

int main(int argc, char** argv)
{
    HoldClosedStdout();
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
        return OutputWritten() ? kExitOk : kExitFailed;
    }
    if (options.version) {
        std::printf("quellonctl %s\n", QUELLON_VERSION);
        return OutputWritten() ? kExitOk : kExitFailed;
    }
    WatchForStopSignals();
    const int status = Run(options);
    return OutputWritten() ? status : kExitFailed;
}
