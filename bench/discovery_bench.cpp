// How much printer discovery costs beyond CUPS itself.
//
// Starts a private scheduler with 64 queues, then times, in alternating
// rounds within the same run:
//   floor:     cupsGetDests, cupsGetPPD for each destination, unlink each copy,
//              cupsFreeDests - the least any discovery has to do;
//   discovery: GetPrintersInfo on a fresh window model, then
//              DestroyPrintersInfo.
// Prints both medians and their ratio (discovery / floor).
//
// Usage: discovery_bench [QUEUES [ROUNDS]]   (defaults 64 and 41)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <cups/cups.h>
#include <unistd.h>

#include "cups_floor.h"
#include "cupsd.h"
#include "runs.h"
#include "startcheck.h"

namespace {

using Clock = std::chrono::steady_clock;

// Thrown, so that the scheduler is stopped on the way out.
[[noreturn]] void Fail(const std::string& why)
{
    throw std::runtime_error(why);
}

// `queues` queues of the demo PPD on `scheduler`, which this process then
// uses.
void AddQueues(harness::PrivateCupsd& scheduler, int queues)
{
    const std::string ppd = harness::SourcePath("data/demo/brelko-m220.ppd");
    for (int i = 0; i < queues; ++i) {
        const std::string name = "Bench-" + std::to_string(1000 + i);
        const ::testing::AssertionResult added = scheduler.AddQueue(name, ppd);
        if (!added)
            Fail("lpadmin could not add " + name + ": " + added.message());
    }
    scheduler.UseInThisProcess();
}

template <typename F>
double Millis(F&& f, int expected)
{
    const auto start = Clock::now();
    const int result = f();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (result != expected)
        Fail("expected " + std::to_string(expected) + " printers, got " + std::to_string(result));
    return ms;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Measure(int queues, int rounds)
{
    harness::PrivateCupsd scheduler;
    AddQueues(scheduler, queues);

    // Warm both paths up: the first connection and page cache are not what
    // is measured.
    Millis(DiscoveryFloor, queues);
    Millis(bench::WindowDiscovery, queues);

    std::vector<double> floor, discovery;
    for (int r = 0; r < rounds; ++r) {
        // Alternate which goes first, so neither always runs on a warmer
        // scheduler.
        if (r % 2) {
            floor.push_back(Millis(DiscoveryFloor, queues));
            discovery.push_back(Millis(bench::WindowDiscovery, queues));
        } else {
            discovery.push_back(Millis(bench::WindowDiscovery, queues));
            floor.push_back(Millis(DiscoveryFloor, queues));
        }
    }
    if (scheduler.TmpFileCount() != 0)
        Fail("PPD copies were left behind");
    const double f = Median(floor), d = Median(discovery);
    printf("discovery of %d queues, median of %d rounds\n", queues, rounds);
    printf("  floor (cupsGetDests + cupsGetPPD + unlink): %8.2f ms\n", f);
    printf("  GetPrintersInfo + DestroyPrintersInfo:      %8.2f ms\n", d);
    printf("  ratio discovery / floor:                    %8.3f  (goal <= 1.10)\n", d / f);
}

}  // namespace

int main(int argc, char** argv)
{
    const int queues = argc > 1 ? atoi(argv[1]) : 64;
    const int rounds = argc > 2 ? atoi(argv[2]) : 41;
    if (queues < 1 || queues > PRINTERS_MAX || rounds < 1) {
        fprintf(stderr, "usage: discovery_bench [QUEUES (1-64) [ROUNDS]]\n");
        return 2;
    }
    try {
        Measure(queues, rounds);
    } catch (const std::exception& e) {
        fprintf(stderr, "discovery_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
