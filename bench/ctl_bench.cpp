// What quellonctl costs, each figure next to a baseline measured in the same
// run, every run a fresh process timed from spawn to exit:
//   list:    "quellonctl list" with QUEUES queues on a private cupsd, next to
//            discovery_floor (cupsGetDests, cupsGetPPD for each queue,
//            deleting the copies): the ratio list / floor (goal <= 1.15);
//   jobs:    "get --all" over as many printers whose daemon answers each
//            request after 20 ms, --jobs 1 next to --jobs 8: the speed-up
//            of the printers' part, each run less the list run above, as
//            discovery ends before the first printer is contacted (goal
//            >= 6.5; 8 would be perfect), and of the whole runs;
//   timeout: the same printers with every eighth one silent, --jobs 8
//            --timeout 2, next to the answering ones named alone: how much
//            longer the silent ones make the run (goal <= 2.5 s), and that
//            exactly the silent ones are reported;
//   split:   "get --all --jobs 8" against a simulator that writes each
//            answer's header and payload apart with Nagle's algorithm on,
//            next to the same printers answered in one piece (goal <= 1.1):
//            what acknowledging late would cost shows here.
// Rounds alternate which command goes first, so neither always meets a
// warmer scheduler; medians are printed.
//
// Usage: ctl_bench [LIST_ROUNDS [GET_ROUNDS]]   (defaults 41 and 5)
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cupsd.h"
#include "runs.h"
#include "zeld_sim.h"

namespace {

constexpr int kQueues = 64;
constexpr int kSilentEvery = 8;
constexpr int kDelayMs = 20;

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "ctl_bench: %s\n", why.c_str());
    std::exit(1);
}

std::string QueueName(int i)
{
    char name[16];
    std::snprintf(name, sizeof name, "lp%02d", i);
    return name;
}

// A command with what every run of it must end in: its status and texts in
// its output. Anything else is a broken setup or program, not a figure.
struct Case {
    std::string name;
    std::vector<std::string> argv;
    int status;
    std::vector<std::string> expect;
    std::vector<double> ms = {};
    std::string out = {};        // of the last run
    std::string zeld_port = {};  // empty: the ZELD_PORT this program has
};

void RunChecked(Case& c, const std::string& out_path)
{
    const char* own = std::getenv("ZELD_PORT");
    const std::string saved = own != nullptr ? own : "";
    if (!c.zeld_port.empty())
        setenv("ZELD_PORT", c.zeld_port.c_str(), 1);
    const bench::Timed t = bench::TimeToExit(c.argv, out_path);
    setenv("ZELD_PORT", saved.c_str(), 1);
    if (t.status != c.status)
        Fail(c.name + " ended with " + std::to_string(t.status) + ", not " +
             std::to_string(c.status) + ":\n" + t.out + harness::ReadFile(out_path + ".err"));
    for (const auto& text : c.expect) {
        if (t.out.find(text) == std::string::npos)
            Fail("no \"" + text + "\" in the output of " + c.name + ":\n" + t.out);
    }
    c.ms.push_back(t.ms);
    c.out = t.out;
}

// One unmeasured run of each, then `rounds` measured ones, alternating.
void Measure(Case& a, Case& b, int rounds, const std::string& dir)
{
    RunChecked(a, dir + "/out");
    RunChecked(b, dir + "/out");
    a.ms.clear();
    b.ms.clear();
    for (int r = 0; r < rounds; ++r) {
        RunChecked(r % 2 ? b : a, dir + "/out");
        RunChecked(r % 2 ? a : b, dir + "/out");
    }
}

std::vector<std::string> AllQueues()
{
    std::vector<std::string> queues;
    for (int i = 1; i <= kQueues; ++i)
        queues.push_back(QueueName(i));
    return queues;
}

bool Silent(int i)
{
    return i % kSilentEvery == 0;
}

// Returns the median of the list runs: discovery as a process of its own.
double BenchList(int rounds, const std::string& dir)
{
    Case list{"list", {QUELLONCTL_PATH, "list"}, 0, AllQueues()};
    Case floor{"discovery_floor", {DISCOVERY_FLOOR_PATH}, 0, {std::to_string(kQueues) + "\n"}};
    Measure(list, floor, rounds, dir);
    const double l = bench::Median(list.ms), f = bench::Median(floor.ms);
    std::printf("quellonctl list, %d queues, spawn to exit, median of %d rounds\n", kQueues,
                rounds);
    std::printf("  floor: cupsGetDests + cupsGetPPD + unlink    %9.2f ms\n", f);
    std::printf("  quellonctl list                              %9.2f ms\n", l);
    std::printf("  ratio list / floor                           %9.3f    (goal <= 1.15)\n\n",
                l / f);
    return l;
}

void BenchJobs(int rounds, const std::string& dir, double discovery)
{
    Case one{"--jobs 1", {QUELLONCTL_PATH, "get", "--all", "--jobs", "1"}, 0, AllQueues()};
    Case eight{"--jobs 8", {QUELLONCTL_PATH, "get", "--all", "--jobs", "8"}, 0, AllQueues()};
    Measure(one, eight, rounds, dir);
    const double o = bench::Median(one.ms), e = bench::Median(eight.ms);
    std::printf("quellonctl get --all, %d printers answering each request after %d ms, "
                "median of %d rounds\n",
                kQueues, kDelayMs, rounds);
    std::printf("  --jobs 1                                     %9.2f ms\n", o);
    std::printf("  --jobs 8                                     %9.2f ms\n", e);
    std::printf("  speed-up, whole runs                         %9.3f\n", o / e);
    std::printf("  speed-up, printers' part (less list's %.0f ms) %9.3f    (goal >= 6.5)\n\n",
                discovery, (o - discovery) / (e - discovery));
}

// The queues named in the -q output: one line per failed printer, its queue
// name first.
std::set<std::string> Reported(const std::string& out)
{
    std::set<std::string> queues;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty())
            queues.insert(line.substr(0, line.find_first_of(": ")));
    }
    return queues;
}

// The simulator's printers: one for each queue, each answer after kDelayMs.
harness::ZeldSim::Options SimOptions(bool split_replies)
{
    harness::ZeldSim::Options options;
    options.config_lines = {"printer lp{01.." + std::to_string(kQueues) + "} 1.2 4 delay " +
                            std::to_string(kDelayMs)};
    options.split_replies = split_replies;
    return options;
}

void BenchSplit(int rounds, const std::string& dir)
{
    harness::ZeldSim whole(SimOptions(false));
    harness::ZeldSim split(SimOptions(true));
    const std::vector<std::string> get{QUELLONCTL_PATH, "get", "--all", "--jobs", "8"};
    Case one{"one piece", get, 0, AllQueues()};
    one.zeld_port = std::to_string(whole.port());
    Case two{"split replies", get, 0, AllQueues()};
    two.zeld_port = std::to_string(split.port());
    Measure(one, two, rounds, dir);
    const double o = bench::Median(one.ms), t = bench::Median(two.ms);
    std::printf("quellonctl get --all --jobs 8, %d printers answering each request after %d ms, "
                "median of %d rounds\n",
                kQueues, kDelayMs, rounds);
    std::printf("  floor: each answer in one piece              %9.2f ms\n", o);
    std::printf("  header and payload apart, Nagle on           %9.2f ms\n", t);
    std::printf("  ratio split / one piece                      %9.3f    (goal <= 1.1)\n\n", t / o);
}

void BenchTimeout(harness::ZeldSim& sim, int rounds, const std::string& dir)
{
    std::vector<std::string> answering, rules;
    std::set<std::string> silent;
    for (int i = 1; i <= kQueues; ++i) {
        if (Silent(i)) {
            silent.insert(QueueName(i));
            rules.push_back(QueueName(i) + " * silent");
        } else {
            answering.push_back(QueueName(i));
        }
    }
    sim.SetFaults(rules);

    const std::vector<std::string> flags{QUELLONCTL_PATH, "-q", "get", "--jobs", "8",
                                         "--timeout",     "2"};
    Case alone{"the answering printers alone", flags, 0, {}};
    alone.argv.insert(alone.argv.end(), answering.begin(), answering.end());
    Case all{"all printers", flags, 1, {}};
    all.argv.push_back("--all");
    Measure(alone, all, rounds, dir);

    const std::set<std::string> reported = Reported(all.out);
    std::string names;
    for (const auto& q : reported)
        names += " " + q;
    const double a = bench::Median(alone.ms), s = bench::Median(all.ms);
    std::printf("quellonctl -q get --jobs 8 --timeout 2, %d printers of which %zu never answer, "
                "median of %d rounds\n",
                kQueues, silent.size(), rounds);
    std::printf("  the %zu answering printers alone              %9.2f ms\n", answering.size(), a);
    std::printf("  all %d (--all)                               %9.2f ms\n", kQueues, s);
    std::printf("  difference                                   %9.2f ms (goal <= 2500)\n", s - a);
    std::printf("  reported:%s (%s)\n", names.c_str(),
                reported == silent ? "exactly the silent ones" : "NOT the silent ones");
    if (reported != silent)
        std::exit(1);
}

}  // namespace

int main(int argc, char** argv)
{
    const int list_rounds = argc > 1 ? std::atoi(argv[1]) : 41;
    const int get_rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (list_rounds < 1 || get_rounds < 1)
        Fail("usage: ctl_bench [LIST_ROUNDS [GET_ROUNDS]]");

    harness::PrivateCupsd cupsd;
    const std::string ppd = harness::MakePpd("Brelko M220");
    for (const auto& queue : AllQueues()) {
        if (!cupsd.AddQueue(queue, ppd))
            Fail("lpadmin could not add " + queue);
    }
    cupsd.UseInThisProcess();
    harness::ZeldSim sim(SimOptions(false));
    setenv("ZELD_PORT", std::to_string(sim.port()).c_str(), 1);
    setenv("LANG", "C", 1);
    unsetenv("LC_ALL");

    harness::TempDir dir;
    const double discovery = BenchList(list_rounds, dir.path());
    BenchJobs(get_rounds, dir.path(), discovery);
    BenchSplit(get_rounds, dir.path());
    BenchTimeout(sim, get_rounds, dir.path());
    return 0;
}
