// quellonctl: the auto shutdown timer of Brelko printers from a shell.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "commands.h"
#include "exit_status.h"
#include "i18n.h"
#include "options.h"
#include "plugin_output.h"
#include "report.h"
#include "stop.h"
#include "vxsktmodule.h"

namespace {

// The plugin's words are parsed by monitoring systems: never translated.
void SetUpCatalogue(bool plugin)
{
    std::setlocale(LC_ALL, "");
    if (plugin)
        std::setlocale(LC_MESSAGES, "C");
    bindtextdomain(GETTEXT_PACKAGE, QUELLON_LOCALEDIR);
    bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
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

int Run(const Options& options)
{
    // The command line beats the environment.
    if (options.port != 0)
        setenv("ZELD_PORT", std::to_string(options.port).c_str(), 1);
    if (options.verbose)
        vxsktSetTrace(TraceFrame);
    return CommandOf(options.command).run(options);
}

// Started under this name, quellonctl is the monitoring plugin.
bool StartedAsPlugin(const char* argv0)
{
    const std::string name = argv0 ? argv0 : "";
    return name.substr(name.rfind('/') + 1) == "check_quellon";
}

// A signal before any printer was asked: the plugin still says UNKNOWN.
int StoppedEarly(int)
{
    std::fputs("QUELLON UNKNOWN: interrupted before any printer was checked\n", stdout);
    std::fflush(stdout);
    return kPluginUnknown;
}

}  // namespace

int main(int argc, char** argv)
{
    HoldClosedDescriptors();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const bool started_as_plugin = StartedAsPlugin(argc > 0 ? argv[0] : nullptr);
    const bool plugin = PluginInPlay(args, started_as_plugin);
    SetUpCatalogue(plugin);
    if (plugin)
        SpeakAsPlugin();
    // A report that went nowhere: the plugin's UNKNOWN.
    const int unwritten = plugin ? static_cast<int>(kPluginUnknown) : kExitFailed;
    Options options;
    std::string error;
    if (!ParseArguments(args, &options, &error, started_as_plugin)) {
        if (plugin) {
            std::fputs(PluginReport(RunRecord{}, options.offline, {error}).c_str(), stdout);
            OutputWritten();
            return kPluginUnknown;
        }
        SayError(error);
        std::fprintf(stderr, "%s\n", _("Try 'quellonctl --help' for more information."));
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(started_as_plugin ? PluginHelp().c_str() : HelpText().c_str(), stdout);
        return OutputWritten() ? kExitOk : unwritten;
    }
    if (options.version) {
        std::printf("%s %s\n", started_as_plugin ? "check_quellon" : "quellonctl", QUELLON_VERSION);
        return OutputWritten() ? kExitOk : unwritten;
    }
    WatchForStopSignals(plugin ? StoppedEarly : nullptr);
    const int status = Run(options);
    return OutputWritten() ? status : unwritten;
}
