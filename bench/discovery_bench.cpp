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
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <cups/cups.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cups_floor.h"
#include "ppddata.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Runs a command to its end, its output thrown away; true on status 0.
bool RunQuietly(const std::vector<std::string>& argv)
{
    const pid_t pid = fork();
    if (pid == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool SchedulerAnswers(const std::string& socket)
{
    const std::string command = "lpstat -h '" + socket + "' -r 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    if (!out)
        return false;
    char line[256] = {};
    const bool running = fgets(line, sizeof line, out) && std::string(line) == "scheduler is running\n";
    pclose(out);
    return running;
}

// A private cupsd in a temporary folder, with `queues` queues of one PPD.
class Scheduler {
public:
    explicit Scheduler(int queues)
    {
        char pattern[] = "/tmp/quellon-bench-XXXXXX";
        if (!mkdtemp(pattern))
            Fail("cannot make a temporary folder");
        dir_ = pattern;
        for (const char* sub : {"home", "tmp", "client"})
            fs::create_directory(dir_ + "/" + sub);
        pid_ = fork();
        if (pid_ == 0) {
            freopen("/dev/null", "w", stdout);
            const std::string script = QUELLON_SOURCE_DIR "/scripts/private-cupsd";
            const std::string root = dir_ + "/cupsd";
            execl(script.c_str(), script.c_str(), root.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!SchedulerAnswers(socket())) {
            if (Clock::now() > deadline)
                Fail("the private cupsd did not start");
            usleep(20000);
        }
        const std::string ppd = QUELLON_SOURCE_DIR "/data/demo/brelko-m220.ppd";
        for (int i = 0; i < queues; ++i) {
            const std::string name = "Bench-" + std::to_string(1000 + i);
            if (!RunQuietly({"lpadmin", "-h", socket(), "-p", name, "-E", "-v", "file:///dev/null",
                             "-P", ppd}))
                Fail("lpadmin could not add " + name);
        }
        setenv("CUPS_SERVER", socket().c_str(), 1);
        setenv("CUPS_SERVERROOT", (dir_ + "/client").c_str(), 1);
        setenv("HOME", (dir_ + "/home").c_str(), 1);
        setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
        cupsSetServer(socket().c_str());
    }

    ~Scheduler() { Stop(); }
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    std::string socket() const { return dir_ + "/cupsd/cups.sock"; }
    bool CopiesLeft() const { return !fs::is_empty(dir_ + "/tmp"); }

    void Fail(const std::string& why)
    {
        fprintf(stderr, "discovery_bench: %s\n", why.c_str());
        Stop();
        exit(1);
    }

private:
    void Stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string dir_;
    pid_t pid_ = -1;
};

int Discovery()
{
    UIAutoShutdownWnd wnd{};
    if (GetPrintersInfo(&wnd) != 0)
        return -1;
    const int found = wnd.printers_num;
    DestroyPrintersInfo(&wnd);
    return found;
}

template <typename F>
double Millis(F&& f, int expected)
{
    const auto start = Clock::now();
    const int result = f();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (result != expected) {
        fprintf(stderr, "discovery_bench: expected %d printers, got %d\n", expected, result);
        exit(1);
    }
    return ms;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
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
    Scheduler scheduler(queues);

    // Warm both paths up: the first connection and page cache are not what
    // is measured.
    Millis(DiscoveryFloor, queues);
    Millis(Discovery, queues);

    std::vector<double> floor, discovery;
    for (int r = 0; r < rounds; ++r) {
        // Alternate which goes first, so neither always runs on a warmer
        // scheduler.
        if (r % 2) {
            floor.push_back(Millis(DiscoveryFloor, queues));
            discovery.push_back(Millis(Discovery, queues));
        } else {
            discovery.push_back(Millis(Discovery, queues));
            floor.push_back(Millis(DiscoveryFloor, queues));
        }
    }
    if (scheduler.CopiesLeft()) {
        fprintf(stderr, "discovery_bench: PPD copies were left behind\n");
        return 1;
    }
    const double f = Median(floor), d = Median(discovery);
    printf("discovery of %d queues, median of %d rounds\n", queues, rounds);
    printf("  floor (cupsGetDests + cupsGetPPD + unlink): %8.2f ms\n", f);
    printf("  GetPrintersInfo + DestroyPrintersInfo:      %8.2f ms\n", d);
    printf("  ratio discovery / floor:                    %8.3f  (goal <= 1.10)\n", d / f);
    return 0;
}
