// Preparing the settings dialog (everything an opening does before the
// dialog appears: checks, a fresh connection, the firmware and timer
// queries, filling the widgets) against the daemon simulator on loopback,
// next to its floor measured in the same run: one TCP connect and the same
// two request frames written and answered over a raw socket.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "assetdlg.h"
#include "dialog_model.h"
#include "startcheck.h"
#include "wire.h"
#include "zeld_sim.h"

namespace {

constexpr char kPrinter[] = "lp1";

uint16_t g_port = 0;

void Floor(benchmark::State& state)
{
    const std::string firmware = harness::QueryFrame(kPrinter, harness::kFirmwareItem);
    const std::string timer = harness::QueryFrame(kPrinter, harness::kReadTimerItem);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(g_port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (auto _ : state) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            !harness::RoundTrip(fd, firmware) || !harness::RoundTrip(fd, timer)) {
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

}  // namespace

int main(int argc, char** argv)
{
    // The repetitions of floor and preparation taken in turns, so that a
    // machine that drifts during the run weighs on both alike; a flag given
    // on the command line comes later and wins.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    harness::ZeldSim::Options options;
    options.printers = {{kPrinter, 1, 1, 4}};
    harness::ZeldSim sim(options);
    g_port = sim.port();
    setenv("ZELD_PORT", std::to_string(g_port).c_str(), 1);
    setenv("LANG", "C", 1);
    unsetenv("LC_CTYPE");
    // On the harness's own X server; released the program's way at the end.
    const harness::DialogModel model(std::vector<harness::Queue>{{kPrinter}});

    benchmark::RegisterBenchmark("floor_connect_and_two_round_trips", Floor)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(10)
        ->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("prepare_settings_dialog", Prepare)
        ->Unit(benchmark::kMicrosecond)
        ->Repetitions(10)
        ->ReportAggregatesOnly(true);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const double floor = reporter.medians["floor_connect_and_two_round_trips"];
    const double prepare = reporter.medians["prepare_settings_dialog"];
    if (floor > 0 && prepare > 0)
        std::printf("median floor %.1f us, median prepare %.1f us, ratio %.2f (goal <= 1.50)\n",
                    floor, prepare, prepare / floor);
    return 0;
}
