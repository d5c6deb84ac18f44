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
#include "report.h"
#include "stop.h"
#include "vxsktmodule.h"

namespace {

void SetUpCatalogue()
{
    std::setlocale(LC_ALL, "");
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

}  // namespace

int main(int argc, char** argv)
{
    HoldClosedDescriptors();
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
