#include "stop.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <initializer_list>
#include <mutex>

namespace {

std::atomic<int> g_stop_signal{0};
GCancellable* g_stop = nullptr;  // the run's, from BeginStoppableWork on
std::mutex g_stop_mutex;         // guards g_stop
int (*g_early)(int signo) = nullptr;

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signo : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signo);
    return signals;
}

void Stop(int signo)
{
    g_stop_signal.store(signo);
    GCancellable* stop = nullptr;
    {
        const std::lock_guard<std::mutex> lock(g_stop_mutex);
        stop = g_stop;
    }
    // Before any printer is asked (discovery may take a while behind a
    // slow scheduler) there is nothing to report: the run ends at once.
    if (!stop)
        std::_Exit(g_early ? g_early(signo) : StopStatus());
    g_cancellable_cancel(stop);
}

gpointer WaitForSignals(gpointer data)
{
    const sigset_t signals = *static_cast<const sigset_t*>(data);
    for (;;) {
        int signo = 0;
        if (sigwait(&signals, &signo) == 0)
            Stop(signo);
    }
    return nullptr;
}

}  // namespace

int StopStatus()
{
    const int signo = g_stop_signal.load();
    return signo != 0 ? 128 + signo : 0;
}

void WatchForStopSignals(int (*early)(int signo))
{
    g_early = early;
    static const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    GThread* watcher = g_thread_try_new("quellonctl-signals", WaitForSignals,
                                        const_cast<sigset_t*>(&signals), nullptr);
    if (watcher)
        g_thread_unref(watcher);
    else
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

GCancellable* BeginStoppableWork()
{
    const std::lock_guard<std::mutex> lock(g_stop_mutex);
    if (!g_stop)
        g_stop = g_cancellable_new();
    return g_stop;
}
