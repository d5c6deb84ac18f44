// Time from exec to the main window on screen, against what no start-up
// can avoid.
//
// Starts a private scheduler with QUEUES queues (a supported model each)
// and a private X server, then in alternating rounds times, each from exec
// until its window is mapped:
//   program: quellon and its window "Quellon";
//   floor:   startup_empty_dialog --discovery-floor: the toolkit, the CUPS
//            calls every discovery makes (cupsGetDests, cupsGetPPD for each
//            destination, deleting each copy) and an empty dialog;
//   dialog:  startup_empty_dialog alone (toolkit and empty dialog), to show
//            how the floor divides.
// "Mapped" is the X server's MapNotify for the window, read from the root
// window's substructure events: no polling, no sleeps.
// Prints the medians and the ratio program / floor (goal: at most 1.2).
//
// Usage: startup_bench [QUEUES [ROUNDS]]   (defaults 64 and 21)
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "cupsd.h"
#include "runs.h"
#include "xserver.h"

namespace {

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "startup_bench: %s\n", why.c_str());
    std::exit(1);
}

void Measure(int queues, int rounds)
{
    harness::PrivateCupsd cupsd;
    const std::string ppd = harness::MakePpd("Brelko M220");
    for (int i = 0; i < queues; ++i) {
        if (!cupsd.AddQueue("Bench-" + std::to_string(1000 + i), ppd))
            Fail("lpadmin could not add a queue");
    }
    cupsd.UseInThisProcess();
    harness::XServer x;
    bench::MapWatcher watcher(x.display());

    const harness::EnvChanges env = harness::Combine({harness::EnglishEnv(), x.env(), cupsd.env()});

    const std::vector<std::string> program{harness::BuildPath("src/quellon")};
    const std::string helper = harness::BuildPath("bench/startup_empty_dialog");
    const std::vector<std::string> floor{helper, "Floor", "--discovery-floor"};
    const std::vector<std::string> dialog{helper, "Dialog"};
    // One unmeasured round of each warms the caches.
    bench::TimeToMapped(watcher, program, env, "Quellon");
    bench::TimeToMapped(watcher, floor, env, "Floor");
    bench::TimeToMapped(watcher, dialog, env, "Dialog");

    std::vector<double> program_ms, floor_ms, dialog_ms;
    for (int round = 0; round < rounds; ++round) {
        program_ms.push_back(bench::TimeToMapped(watcher, program, env, "Quellon"));
        floor_ms.push_back(bench::TimeToMapped(watcher, floor, env, "Floor"));
        dialog_ms.push_back(bench::TimeToMapped(watcher, dialog, env, "Dialog"));
    }

    const double program_median = bench::Median(program_ms);
    const double floor_median = bench::Median(floor_ms);
    std::printf("queues %d, rounds %d, exec to window mapped, medians:\n", queues, rounds);
    std::printf("  quellon                                   %8.2f ms\n", program_median);
    std::printf("  floor: discovery calls + empty dialog     %8.2f ms\n", floor_median);
    std::printf("  (empty dialog alone                       %8.2f ms)\n",
                bench::Median(dialog_ms));
    std::printf("ratio quellon / floor                       %8.3f   (goal <= 1.2)\n",
                program_median / floor_median);
}

}  // namespace

int main(int argc, char** argv)
{
    const int queues = argc > 1 ? std::atoi(argv[1]) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
    if (queues < 0 || rounds < 1)
        Fail("usage: startup_bench [QUEUES [ROUNDS]]");
    try {
        Measure(queues, rounds);
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    return 0;
}
