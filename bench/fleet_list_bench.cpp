// quellonctl list against a print server with many queues across the
// network, next to floors measured in the same run.
//
// Starts a private scheduler with QUEUES queues (a supported model each)
// and the project's delay proxy in front of its socket holding each chunk
// DELAY_MS each way. Then, in rounds that alternate their order, each timed
// from spawn to exit:
//   destinations floor: the destination list alone (cupsGetDests);
//   64-connection floor: discovery_floor --concurrent 64 (64 threads,
//                        httpConnect2 each, cupsGetPPD3 per queue);
//   quellonctl list:     every queue listed.
// Goal: list within 1.6 times the 64-connection floor. quellonctl itself
// takes fewer connections than that (see PpdConnectionsFor): a shared
// scheduler must keep room for its other clients.
//
// Usage: fleet_list_bench [QUEUES [ROUNDS [DELAY_MS]]]   (defaults 1000, 5, 10)
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "cupsd.h"
#include "ppdfetch.h"
#include "proxy.h"
#include "runs.h"

namespace {

struct Case {
    const char* label;
    std::vector<std::string> argv;
    std::string expect;  // a text every run's output must hold
    std::vector<double> ms = {};
};

void RunChecked(Case& c, const std::string& out_path)
{
    const bench::Timed t = bench::TimeToExit(c.argv, out_path);
    if (t.status != 0 || t.out.find(c.expect) == std::string::npos)
        throw std::runtime_error(std::string(c.label) + " ended with " + std::to_string(t.status) +
                                 " without \"" + c.expect + "\":\n" + t.out.substr(0, 2000) +
                                 harness::ReadFile(out_path + ".err"));
    c.ms.push_back(t.ms);
}

}  // namespace

int main(int argc, char** argv)
{
    const int queues = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const int delay_ms = argc > 3 ? std::atoi(argv[3]) : 10;
    if (queues < 1 || rounds < 1 || delay_ms < 0) {
        std::fputs("usage: fleet_list_bench [QUEUES [ROUNDS [DELAY_MS]]]\n", stderr);
        return 2;
    }
    try {
        harness::PrivateCupsd cupsd;
        const std::string ppd = harness::MakePpd("Brelko M220");
        char last[16] = "";
        for (int i = 1; i <= queues; ++i) {
            std::snprintf(last, sizeof last, "lp%04d", i);
            if (!cupsd.AddQueue(last, ppd))
                throw std::runtime_error(std::string("lpadmin could not add ") + last);
        }
        harness::DelayProxy proxy(cupsd.server(), harness::Millis(delay_ms));
        // The children take the scheduler, through the proxy, from here.
        cupsd.UseInThisProcess(proxy.server());
        const std::string count = std::to_string(queues) + "\n";
        std::vector<Case> cases = {
            {"destinations floor (cupsGetDests)", {DISCOVERY_FLOOR_PATH, "--dests"}, count},
            {"64-connection floor", {DISCOVERY_FLOOR_PATH, "--concurrent", "64"}, count},
            {"quellonctl list", {QUELLONCTL_PATH, "list"}, std::string(last) + " "},
        };
        harness::TempDir dir;
        const std::string out = dir / "out";
        // The scheduler keeps files of its own there too.
        const int files = cupsd.TmpFileCount();
        // One unmeasured round warms the caches.
        for (int round = -1; round < rounds; ++round) {
            for (size_t i = 0; i < cases.size(); ++i) {
                Case& c = cases[(i + round + 1) % cases.size()];
                RunChecked(c, out);
                if (cupsd.TmpFileCount() != files)
                    throw std::runtime_error(std::string(c.label) + " left PPD copies behind");
            }
        }
        std::printf("%d queues behind a proxy holding each chunk %d ms each way, median of %d "
                    "rounds; quellonctl takes %d connections\n",
                    queues, delay_ms, rounds, PpdConnectionsFor(static_cast<size_t>(queues)));
        std::vector<double> medians;
        for (Case& c : cases) {
            c.ms.erase(c.ms.begin());
            medians.push_back(bench::Median(c.ms));
            std::printf("  %-44s %9.2f ms\n", c.label, medians.back());
        }
        std::printf("  ratio list / 64-connection floor             %9.3f    (goal <= 1.6)\n",
                    medians[2] / medians[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fleet_list_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
