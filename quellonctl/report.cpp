#include "report.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "exit_status.h"
#include "format.h"
#include "i18n.h"
#include "json_output.h"
#include "plugin_output.h"
#include "stop.h"
#include "text_output.h"

namespace {

// Standard output was closed when the program started.
bool g_stdout_closed = false;
// SpeakAsPlugin: messages go to the report. Only the main thread says
// them; the signal thread ends the process without reading them.
bool g_plugin = false;
std::vector<std::string> g_kept;

// Holds a closed descriptor's number with /dev/null; true when it was closed.
bool Hold(int fd, int mode)
{
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
        return false;
    const int null = open("/dev/null", mode | O_CLOEXEC);
    if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
    }
    return true;
}

}  // namespace

void SayError(const std::string& message)
{
    if (g_plugin)
        g_kept.push_back(message);
    else
        std::fprintf(stderr, "quellonctl: %s\n", message.c_str());
}

void SpeakAsPlugin()
{
    g_plugin = true;
}

std::vector<std::string> KeptMessages()
{
    return g_kept;
}

void HoldClosedDescriptors()
{
    // In this order: each takes the lowest free number, its own.
    Hold(STDIN_FILENO, O_RDONLY);
    g_stdout_closed = Hold(STDOUT_FILENO, O_WRONLY);
    Hold(STDERR_FILENO, O_WRONLY);
}

bool OutputWritten()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout) && !g_stdout_closed)
        return true;
    // Standard error is the only way left, plugin or not.
    std::fprintf(
        stderr, "quellonctl: %s\n",
        Printf(_("cannot write the report: %s"), std::strerror(g_stdout_closed ? EBADF : errno))
            .c_str());
    return false;
}

void EndInterrupted()
{
    const bool written = OutputWritten();
    const int status = g_plugin ? kPluginUnknown : written ? StopStatus() : kExitFailed;
    std::fflush(stderr);
    std::_Exit(status);
}

// check's text names what a printer holds and what the policy wants.
bool Reporter::Tells() const
{
    return CommandOf(options_.command).verdict == Verdict::kHolds;
}

void Reporter::Ready(const PrinterResult& result)
{
    // The plugin's first line counts every printer, so it waits for all.
    if (options_.json || options_.nagios)
        return;
    PrintResultsText(stdout, {result}, options_.quiet, Tells());
    std::fflush(stdout);
    ++shown_;
}

void Reporter::Finish(const RunRecord& run)
{
    const std::vector<PrinterResult>& results = run.results;
    if (options_.nagios)
        std::fputs(PluginReport(run, options_.offline, KeptMessages()).c_str(), stdout);
    else if (options_.json)
        std::fputs(ResultsJson(options_.command, options_.dry_run, results).c_str(), stdout);
    else if (shown_ < results.size())
        PrintResultsText(stdout, {results.begin() + static_cast<long>(shown_), results.end()},
                         options_.quiet, Tells());
    std::fflush(stdout);
}
