// Discovery from a print server across the network, and on the scheduler's
// own socket, each figure next to floors measured in the same run.
//
// Starts a private scheduler with 64 queues (a supported model each), the
// project's delay proxy in front of its socket holding each chunk DELAY_MS
// each way, and a private X server. Then, in rounds that alternate their
// order, through the proxy:
//   serial floor:     discovery_floor (cupsGetDests, cupsGetPPD per queue),
//                     spawn to exit;
//   concurrent floor: discovery_floor --concurrent 8 (8 threads, httpConnect2
//                     each, cupsGetPPD3 per queue), spawn to exit;
//   quellonctl list:  spawn to exit, every queue listed;
//   window:           quellon from exec until its window is mapped.
// Goals: list within 1.3 times the concurrent floor, the window within
// 1500 ms. Before that on the socket, in-process: GetPrintersInfo next to
// the serial floor (goal: at most 1.05 times it).
//
// Usage: remote_discovery_bench [ROUNDS [DELAY_MS]]   (defaults 9 and 10)
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "cups_floor.h"
#include "cupsd.h"
#include "proxy.h"
#include "runs.h"
#include "xserver.h"

namespace {

constexpr int kQueues = 64;
constexpr int kLocalRounds = 41;

std::vector<std::string> QueueNames()
{
    std::vector<std::string> names;
    for (int i = 1; i <= kQueues; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "lp%02d", i);
        names.push_back(name);
    }
    return names;
}

// A command timed from spawn to exit, with the status and the texts every
// run of it must end in: anything else is a broken setup, not a figure.
struct Case {
    const char* label;
    std::vector<std::string> argv;
    std::vector<std::string> expect;
    std::vector<double> ms = {};
};

void RunChecked(Case& c, const std::string& out_path)
{
    const bench::Timed t = bench::TimeToExit(c.argv, out_path);
    if (t.status != 0)
        throw std::runtime_error(std::string(c.label) + " ended with " + std::to_string(t.status) +
                                 ":\n" + t.out + harness::ReadFile(out_path + ".err"));
    for (const auto& text : c.expect) {
        if (t.out.find(text) == std::string::npos)
            throw std::runtime_error("no \"" + text + "\" in the output of " + c.label);
    }
    c.ms.push_back(t.ms);
}

void Print(const char* label, double ms)
{
    std::printf("  %-44s %9.2f ms\n", label, ms);
}

void Remote(harness::PrivateCupsd& cupsd, int rounds, int delay_ms)
{
    harness::DelayProxy proxy(cupsd.server(), harness::Millis(delay_ms));
    cupsd.UseInThisProcess(proxy.server());
    harness::XServer x;
    bench::MapWatcher watcher(x.display());
    const harness::EnvChanges window_env =
        harness::Combine({harness::EnglishEnv(), x.env(), cupsd.env(proxy.server())});
    const std::vector<std::string> quellon{harness::BuildPath("src/quellon")};
    const std::string count = std::to_string(kQueues) + "\n";
    std::vector<Case> cases = {
        {"serial floor (cupsGetPPD per queue)", {DISCOVERY_FLOOR_PATH}, {count}},
        {"concurrent floor (8 connections)", {DISCOVERY_FLOOR_PATH, "--concurrent", "8"}, {count}},
        {"quellonctl list", {QUELLONCTL_PATH, "list"}, QueueNames()},
    };
    std::vector<double> window;
    harness::TempDir dir;
    const std::string out = dir / "out";
    // One unmeasured round warms the caches.
    for (int round = -1; round < rounds; ++round) {
        for (size_t i = 0; i < cases.size(); ++i)
            RunChecked(cases[(i + round + 1) % cases.size()], out);
        const double mapped = bench::TimeToMapped(watcher, quellon, window_env, "Quellon");
        if (round >= 0)
            window.push_back(mapped);
    }

    std::vector<double> medians;
    std::printf("%d queues behind a proxy holding each chunk %d ms each way, "
                "median of %d rounds\n",
                kQueues, delay_ms, rounds);
    for (Case& c : cases) {
        c.ms.erase(c.ms.begin());
        medians.push_back(bench::Median(c.ms));
        Print(c.label, medians.back());
    }
    const double mapped = bench::Median(window);
    Print("window: exec to mapped", mapped);
    std::printf("  ratio list / concurrent floor                %9.3f    (goal <= 1.3)\n",
                medians[2] / medians[1]);
    std::printf("  ratio list / serial floor                    %9.3f\n", medians[2] / medians[0]);
    std::printf("  window mapped                                %9.2f ms (goal <= 1500)\n", mapped);
}

double TimeChecked(int (*discover)())
{
    const auto start = bench::Clock::now();
    const int found = discover();
    const double ms =
        std::chrono::duration<double, std::milli>(bench::Clock::now() - start).count();
    if (found != kQueues)
        throw std::runtime_error("found " + std::to_string(found) + " printers on the socket");
    return ms;
}

int ConcurrentFloor()
{
    return ConcurrentDiscoveryFloor(8);
}

void Local(harness::PrivateCupsd& cupsd)
{
    cupsd.UseInThisProcess();
    int (*const runs[])() = {DiscoveryFloor, ConcurrentFloor, bench::WindowDiscovery};
    std::vector<double> ms[3];
    for (int round = -1; round < kLocalRounds; ++round) {
        for (int i = 0; i < 3; ++i) {
            const int which = (i + round + 1) % 3;
            const double taken = TimeChecked(runs[which]);
            if (round >= 0)
                ms[which].push_back(taken);
        }
    }
    const double serial = bench::Median(ms[0]), discovery = bench::Median(ms[2]);
    std::printf("%d queues on the scheduler's socket, in-process, median of %d rounds\n", kQueues,
                kLocalRounds);
    Print("serial floor (cupsGetPPD per queue)", serial);
    Print("concurrent floor (8 connections)", bench::Median(ms[1]));
    Print("GetPrintersInfo + DestroyPrintersInfo", discovery);
    std::printf("  ratio discovery / serial floor               %9.3f    (goal <= 1.05)\n\n",
                discovery / serial);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
    const int delay_ms = argc > 2 ? std::atoi(argv[2]) : 10;
    if (rounds < 1 || delay_ms < 0) {
        std::fputs("usage: remote_discovery_bench [ROUNDS [DELAY_MS]]\n", stderr);
        return 2;
    }
    try {
        harness::PrivateCupsd cupsd;
        const std::string ppd = harness::MakePpd("Brelko M220");
        for (const auto& queue : QueueNames()) {
            if (!cupsd.AddQueue(queue, ppd))
                throw std::runtime_error("lpadmin could not add " + queue);
        }
        // The socket first: pointing this process's libcups at the proxy
        // leaves the proxy's port behind in it.
        Local(cupsd);
        Remote(cupsd, rounds, delay_ms);
        if (cupsd.TmpFileCount() != 0)
            throw std::runtime_error("PPD copies were left behind");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "remote_discovery_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
