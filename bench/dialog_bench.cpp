// Preparing the settings dialog (everything an opening does before the
// dialog appears: checks, a fresh connection, the firmware and timer
// queries, filling the widgets) against the daemon simulator on loopback,
// next to its floor measured in the same run: one TCP connect and the same
// two request frames written and answered over a raw socket.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <gtk/gtk.h>

#include "assetdlg.h"
#include "interface.h"
#include "msgdlg.h"
#include "ppddata.h"
#include "xserver.h"
#include "zeld_sim.h"

UIAutoShutdownWnd* g_autoshutdown_window = nullptr;

namespace {

constexpr char kPrinter[] = "lp1";
constexpr char kLocale[] = "en_GB.UTF-8";
constexpr int kResponseHeader = 12;

uint16_t g_port = 0;

void PutLong(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The query frame the program sends for `item`.
std::string QueryFrame(uint32_t item)
{
    std::string body;
    PutLong(body, sizeof kPrinter - 1);
    body += kPrinter;
    PutLong(body, sizeof kLocale - 1);
    body += kLocale;
    PutLong(body, 4);
    PutLong(body, item);
    std::string frame = "zel0";
    PutLong(frame, 19);
    PutLong(frame, static_cast<uint32_t>(body.size()));
    return frame + body;
}

bool ReadAll(int fd, char* buf, size_t n)
{
    while (n > 0) {
        const ssize_t got = read(fd, buf, n);
        if (got <= 0)
            return false;
        buf += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

// One request written whole and its answer read: header, then payload.
bool RoundTrip(int fd, const std::string& frame)
{
    if (write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
        return false;
    char header[kResponseHeader];
    if (!ReadAll(fd, header, sizeof header))
        return false;
    int32_t length = 0;
    std::memcpy(&length, header + 8, 4);
    char payload[64];
    return length >= 0 && length <= static_cast<int32_t>(sizeof payload) &&
           ReadAll(fd, payload, static_cast<size_t>(length));
}

void Floor(benchmark::State& state)
{
    const std::string firmware = QueryFrame(106520);
    const std::string timer = QueryFrame(106523);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(g_port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (auto _ : state) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            !RoundTrip(fd, firmware) || !RoundTrip(fd, timer)) {
            state.SkipWithError("raw exchange failed");
            close(fd);
            break;
        }
        close(fd);
    }
}

void Prepare(benchmark::State& state)
{
    for (auto _ : state) {
        if (!PrepareASSetDlg(g_autoshutdown_window)) {
            state.SkipWithError("preparing the dialog failed");
            break;
        }
    }
}

// Keeps the medians of the repetitions, to print their ratio at the end.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
};

UIAutoShutdownWnd* BuildModel()
{
    auto* wnd = reinterpret_cast<UIAutoShutdownWnd*>(CreateDialog(sizeof(UIAutoShutdownWnd), nullptr));
    UIPrinterInfo* info = CreateUIPrinterInfo(kPrinter);
    std::strcpy(info->modelName, "Brelko M220");
    std::strcpy(info->driverVersion, "2.60");
    AddUIPrinterInfo2UIAutoShutdownWnd(wnd, info);
    std::strcpy(wnd->selectedPrinterName, kPrinter);
    std::strcpy(wnd->selectedModelName, "Brelko M220");
    wnd->dialog.window = create_ShutdownMain_Dialog();
    wnd->asset_dlg = CreateASSetDlg(&wnd->dialog);
    wnd->msg_dlg = CreateMsgDlg(&wnd->dialog);
    return wnd;
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    // A private X server unless the caller gave one.
    std::unique_ptr<harness::XServer> x;
    if (!std::getenv("DISPLAY")) {
        x = std::make_unique<harness::XServer>();
        setenv("DISPLAY", x->display().c_str(), 1);
    }
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "dialog_bench: no X display\n");
        return 1;
    }
    harness::ZeldSim::Options options;
    options.printers = {{kPrinter, 1, 1, 4}};
    harness::ZeldSim sim(options);
    g_port = sim.port();
    setenv("ZELD_PORT", std::to_string(g_port).c_str(), 1);
    setenv("LANG", "C", 1);
    unsetenv("LC_CTYPE");
    g_autoshutdown_window = BuildModel();

    benchmark::RegisterBenchmark("floor_connect_and_two_round_trips", Floor)
        ->Unit(benchmark::kMicrosecond)->Repetitions(10)->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("prepare_settings_dialog", Prepare)
        ->Unit(benchmark::kMicrosecond)->Repetitions(10)->ReportAggregatesOnly(true);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const double floor = reporter.medians["floor_connect_and_two_round_trips"];
    const double prepare = reporter.medians["prepare_settings_dialog"];
    if (floor > 0 && prepare > 0)
        std::printf("median floor %.1f us, median prepare %.1f us, ratio %.2f (goal <= 1.50)\n",
                    floor, prepare, prepare / floor);
    // The program's own way out: the model is released inside a main loop.
    g_idle_add([](gpointer) -> gboolean {
        DisposeAutoShutdownWnd();
        return FALSE;
    }, nullptr);
    gtk_main();
    return 0;
}
