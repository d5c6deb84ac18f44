#include "runs.h"

#include <algorithm>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include <X11/Xlib.h>

#include "ppddata.h"

extern char** environ;

namespace bench {

namespace {

constexpr auto kMapDeadline = std::chrono::seconds(60);

}  // namespace

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Timed TimeToExit(const std::vector<std::string>& argv, const std::string& out_path)
{
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&files, 2, (out_path + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &files, nullptr, args.data(), environ);
    int status = 0;
    if (spawned == 0)
        waitpid(pid, &status, 0);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ms,
            harness::ReadFile(out_path)};
}

MapWatcher::MapWatcher(const std::string& display) : display_(XOpenDisplay(display.c_str()))
{
    if (!display_)
        throw std::runtime_error("cannot open display " + display);
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XSync(display_, False);
}

MapWatcher::~MapWatcher()
{
    XCloseDisplay(display_);
}

std::optional<Clock::time_point> MapWatcher::WaitMapped(const std::string& title)
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

void MapWatcher::Drain()
{
    XSync(display_, True);
}

std::string MapWatcher::Title(unsigned long window)
{
    char* name = nullptr;
    std::string title;
    if (XFetchName(display_, window, &name) && name)
        title = name;
    if (name)
        XFree(name);
    return title;
}

double TimeToMapped(MapWatcher& watcher, const std::vector<std::string>& argv,
                    const harness::EnvChanges& env, const std::string& title)
{
    watcher.Drain();
    const auto start = Clock::now();
    harness::Process program(argv, env);
    const auto mapped = watcher.WaitMapped(title);
    if (!mapped)
        throw std::runtime_error("no window \"" + title + "\" from " + argv[0]);
    program.Stop();
    return std::chrono::duration<double, std::milli>(*mapped - start).count();
}

int WindowDiscovery()
{
    UIAutoShutdownWnd wnd{};
    if (GetPrintersInfo(&wnd) != 0)
        return -1;
    const int found = wnd.printers_num;
    DestroyPrintersInfo(&wnd);
    return found;
}

}  // namespace bench
