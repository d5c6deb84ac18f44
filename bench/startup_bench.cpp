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
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include "cupsd.h"
#include "xserver.h"

// After the harness headers: X's macros (None, Bool) would break gtest.
#include <X11/Xlib.h>

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;

constexpr auto kMapDeadline = std::chrono::seconds(60);

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "startup_bench: %s\n", why.c_str());
    std::exit(1);
}

// Watches the root window of a display for top-levels being mapped.
class MapWatcher {
public:
    explicit MapWatcher(const std::string& display) : display_(XOpenDisplay(display.c_str()))
    {
        if (!display_)
            Fail("cannot open display " + display);
        XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
        XSync(display_, False);
    }
    ~MapWatcher() { XCloseDisplay(display_); }

    // Waits for a MapNotify of a window titled `title`; the moment it was
    // read, or nothing after the deadline.
    std::optional<Clock::time_point> WaitMapped(const std::string& title)
    {
        const auto deadline = Clock::now() + kMapDeadline;
        for (;;) {
            while (XPending(display_)) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == MapNotify && Title(event.xmap.window) == title)
                    return Clock::now();
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd fd{ConnectionNumber(display_), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(left.count()));
        }
    }

    // Drops events of earlier rounds.
    void Drain() { XSync(display_, True); }

private:
    std::string Title(Window window)
    {
        char* name = nullptr;
        std::string title;
        if (XFetchName(display_, window, &name) && name)
            title = name;
        if (name)
            XFree(name);
        return title;
    }

    Display* display_;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Execs `argv` and returns the time until its window `title` was mapped.
double TimeToMapped(MapWatcher& watcher, const std::vector<std::string>& argv,
                    const harness::EnvChanges& env, const std::string& title)
{
    watcher.Drain();
    const auto start = Clock::now();
    harness::Process program(argv, env);
    const auto mapped = watcher.WaitMapped(title);
    if (!mapped)
        Fail("no window \"" + title + "\" from " + argv[0]);
    program.Stop();
    return Millis(*mapped - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    const int queues = argc > 1 ? std::atoi(argv[1]) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
    if (queues < 0 || rounds < 1)
        Fail("usage: startup_bench [QUEUES [ROUNDS]]");

    harness::PrivateCupsd cupsd;
    const std::string ppd = harness::MakePpd("Brelko M220");
    for (int i = 0; i < queues; ++i) {
        if (!cupsd.AddQueue("Bench-" + std::to_string(1000 + i), ppd))
            Fail("lpadmin could not add a queue");
    }
    cupsd.UseInThisProcess();
    harness::XServer x;
    MapWatcher watcher(x.display());

    const harness::EnvChanges env = harness::Combine({harness::EnglishEnv(), x.env(), cupsd.env()});

    const std::vector<std::string> program{harness::BuildPath("src/quellon")};
    const std::string helper = harness::BuildPath("bench/startup_empty_dialog");
    const std::vector<std::string> floor{helper, "Floor", "--discovery-floor"};
    const std::vector<std::string> dialog{helper, "Dialog"};
    // One unmeasured round of each warms the caches.
    TimeToMapped(watcher, program, env, "Quellon");
    TimeToMapped(watcher, floor, env, "Floor");
    TimeToMapped(watcher, dialog, env, "Dialog");

    std::vector<double> program_ms, floor_ms, dialog_ms;
    for (int round = 0; round < rounds; ++round) {
        program_ms.push_back(TimeToMapped(watcher, program, env, "Quellon"));
        floor_ms.push_back(TimeToMapped(watcher, floor, env, "Floor"));
        dialog_ms.push_back(TimeToMapped(watcher, dialog, env, "Dialog"));
    }

    const double program_median = Median(program_ms);
    const double floor_median = Median(floor_ms);
    std::printf("queues %d, rounds %d, exec to window mapped, medians:\n", queues, rounds);
    std::printf("  quellon                                   %8.2f ms\n", program_median);
    std::printf("  floor: discovery calls + empty dialog     %8.2f ms\n", floor_median);
    std::printf("  (empty dialog alone                       %8.2f ms)\n", Median(dialog_ms));
    std::printf("ratio quellon / floor                       %8.3f   (goal <= 1.2)\n",
                program_median / floor_median);
    return 0;
}
