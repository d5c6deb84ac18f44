#include "runner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <pthread.h>

#include "data_process.h"
#include "failure.h"
#include "model.h"
#include "printerops.h"
#include "vxsktmodule.h"

namespace {

struct VxsktDeleter {
    void operator()(VxsktModule* vxskt) const { vxsktDestroy(vxskt); }
};
using Connection = std::unique_ptr<VxsktModule, VxsktDeleter>;

// Everything a connection to one printer needs, also for reopening it.
struct Target {
    const Queue& queue;
    const RunSettings& settings;
    int64_t deadline_ms;
};

bool Passed(int64_t deadline_ms)
{
    return vxsktNowMs() >= deadline_ms;
}

VxsktModule* Open(void* context)
{
    const auto* target = static_cast<const Target*>(context);
    // vxsktNew cuts its printer argument at "@"; the queue keeps its name.
    std::string printer = target->queue.name;
    std::string locale = target->settings.locale;
    return vxsktNewUntil(printer.data(), locale.data(), nullptr, DAEMON_PORT, target->deadline_ms);
}

PrinterResult Fail(PrinterResult result, const std::string& error)
{
    result.outcome = Outcome::kFailed;
    result.error = error;
    return result;
}

// The daemon's host as the queue name gives it, and the port in use.
std::string DaemonAddress(const Queue& queue)
{
    const size_t at = queue.name.find('@');
    std::string host = at == std::string::npos || at + 1 == queue.name.size()
                           ? "localhost"
                           : queue.name.substr(at + 1);
    int port = DAEMON_PORT;
    if (const char* value = std::getenv("ZELD_PORT")) {
        const long number = std::strtol(value, nullptr, 10);
        if (number >= 1 && number <= 65535)
            port = static_cast<int>(number);
    }
    return host + " port " + std::to_string(port);
}

// A failed opening or exchange as a stable code, with the system's words
// and the daemon's code where there are any.
PrinterResult FailWith(PrinterResult result, const Failure& failure, const Target& target)
{
    const std::string where = DaemonAddress(target.queue);
    switch (failure.kind) {
    case FailureKind::kRefused:
        result.daemon_code = failure.daemon_code;
        return Fail(result, "refused");
    case FailureKind::kResolve:
        result.detail = where + ": " + "no address for the host";
        return Fail(result, "unreachable");
    case FailureKind::kConnect:
        result.detail = where + ": " + std::strerror(failure.error);
        return Fail(result, "unreachable");
    case FailureKind::kClosed:
        result.detail =
            where + ": " + (failure.error ? std::strerror(failure.error) : "connection closed");
        return Fail(result, Passed(target.deadline_ms) ? "timeout" : "no-reply");
    case FailureKind::kMalformed:
        result.detail = where + ": " + "a reply without what was asked for";
        return Fail(result, "malformed-reply");
    case FailureKind::kDeadline:
    case FailureKind::kStoredOther:
    case FailureKind::kNone:
        break;
    }
    return Fail(result, "timeout");
}

// The write went out and what became of it cannot be told; it is never
// sent again.
PrinterResult Unconfirmed(PrinterResult result)
{
    result.outcome = Outcome::kUnconfirmed;
    result.error = "unconfirmed";
    return result;
}

PrinterResult Begin(const Queue& queue)
{
    PrinterResult result;
    result.queue = queue.name;
    result.model = queue.model;
    result.driver = queue.driver;
    const char* minimum = GetMinFirmVersion(queue.model.c_str());
    result.min_firmware = minimum ? minimum : "";
    return result;
}

PrinterResult Write(PrinterResult result, Connection* connection, Target* target,
                    const Sending& sending)
{
    const RunSettings& settings = target->settings;
    const unsigned short wanted = WantedTimer(settings.setting, *result.timer);
    result.wanted = wanted;
    if (!settings.dry_run && wanted != *result.timer) {
        // Past the deadline the write is not begun, so nothing is in doubt.
        if (Passed(target->deadline_ms))
            return Fail(result, "timeout");
        if (sending)
            sending(result);
    }
    VxsktModule* vxskt = connection->release();
    const WriteReport report =
        VerifiedWriteOver(&vxskt, *result.timer, wanted, Open, target, settings.dry_run);
    connection->reset(vxskt);
    if (report.held_known)
        result.held = report.held;
    result.reply_lost = report.reply_lost;
    switch (report.outcome) {
    case WRITE_UNCHANGED:
        result.outcome = Outcome::kUnchanged;
        return result;
    case WRITE_CHANGED:
        result.outcome = target->settings.dry_run ? Outcome::kWouldChange : Outcome::kChanged;
        return result;
    case WRITE_REFUSED:
        result.daemon_code = vxskt ? vxskt->response_code : 0;
        return Fail(result, "refused");
    case WRITE_VERIFY_FAILED:
        return Fail(result, "verify-failed");
    case WRITE_FAILED:
        break;
    }
    return Unconfirmed(result);
}

}  // namespace

PrinterResult Unworked(const Queue& queue, Outcome outcome, const std::string& error)
{
    PrinterResult result = Begin(queue);
    result.outcome = outcome;
    result.error = error;
    return result;
}

PrinterResult RunPrinter(const Queue& queue, const RunSettings& settings, const Sending& sending)
{
    PrinterResult result = Begin(queue);
    if (!DriverVersionSupported(queue.driver.c_str()))
        return Fail(result, "old-driver");
    Target target{queue, settings, vxsktNowMs() + settings.timeout_ms};
    Connection connection(Open(&target));
    if (!connection)
        return FailWith(result, LastFailure(-1, nullptr), target);
    char firmware[FIRM_VER_SIZE] = {};
    int status = QueryFirmVer(connection.get(), firmware);
    if (status < 0)
        return FailWith(result, LastFailure(status, connection.get()), target);
    result.firmware = firmware;
    if (!FirmwareSupported(queue.model.c_str(), firmware))
        return Fail(result, "old-firmware");
    unsigned short timer = 0;
    status = QueryAutoShutdownTime(connection.get(), &timer);
    if (status < 0)
        return FailWith(result, LastFailure(status, connection.get()), target);
    result.timer = timer;
    if (settings.command != Command::kSet) {
        result.outcome = Outcome::kRead;
        return result;
    }
    return Write(result, &connection, &target, sending);
}

// Each thread working on the printers, the thread waiting for Ctrl-C and
// the runner share this; it lives as long as the last of them.
struct Pool {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Queue> queues;
    std::vector<Setting> settings;  // each queue's
    std::vector<PrinterResult> results;
    std::vector<bool> finished;
    std::vector<std::optional<PrinterResult>> sent;  // what was known when the write went out
    size_t next = 0;
    size_t done = 0;
    bool closed = false;
    bool interrupted = false;
};

namespace {

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signo : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signo);
    return signals;
}

// The signal that stopped the run (0: none), and the runner it stops.
std::atomic<int> g_stop_signal{0};
std::mutex g_stop_mutex;
std::weak_ptr<Pool> g_stopped_pool;  // guarded by g_stop_mutex

void Stop(int signo)
{
    g_stop_signal.store(signo);
    std::lock_guard<std::mutex> lock(g_stop_mutex);
    const std::shared_ptr<Pool> pool = g_stopped_pool.lock();
    // Before any printer is asked (discovery may take a while behind a
    // slow scheduler) there is nothing to report: the run ends at once.
    if (!pool)
        std::_Exit(StopStatus());
    std::lock_guard<std::mutex> pool_lock(pool->mutex);
    pool->interrupted = true;
    pool->changed.notify_all();
}

void WatchPool(const std::shared_ptr<Pool>& pool)
{
    std::lock_guard<std::mutex> lock(g_stop_mutex);
    g_stopped_pool = pool;
}

// Takes the next queue, waiting for one to be added; false when there will
// be none or work must stop.
bool Take(Pool* pool, size_t* index, Queue* queue, Setting* setting)
{
    std::unique_lock<std::mutex> lock(pool->mutex);
    pool->changed.wait(lock, [&] {
        return pool->interrupted || pool->closed || pool->next < pool->queues.size();
    });
    if (pool->interrupted || pool->next == pool->queues.size())
        return false;
    *index = pool->next++;
    *queue = pool->queues[*index];
    *setting = pool->settings[*index];
    return true;
}

void Work(std::shared_ptr<Pool> pool, RunSettings settings)
{
    size_t index = 0;
    Queue queue;
    while (Take(pool.get(), &index, &queue, &settings.setting)) {
        const Sending sending = [&pool, index](const PrinterResult& known) {
            std::lock_guard<std::mutex> lock(pool->mutex);
            pool->sent[index] = known;
        };
        PrinterResult result = RunPrinter(queue, settings, sending);
        std::lock_guard<std::mutex> lock(pool->mutex);
        pool->results[index] = std::move(result);
        pool->finished[index] = true;
        ++pool->done;
        pool->changed.notify_all();
    }
}

}  // namespace

int StopStatus()
{
    const int signo = g_stop_signal.load();
    return signo != 0 ? 128 + signo : 0;
}

// Takes Ctrl-C, SIGTERM and SIGHUP as messages instead of deaths, for as
// long as the process lives: the signals are blocked in every thread (so
// this runs before any other thread starts) and waited for here. When no
// thread can wait for them they stay deaths.
void WatchForStopSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        std::thread([signals] {
            for (;;) {
                int signo = 0;
                if (sigwait(&signals, &signo) == 0)
                    Stop(signo);
            }
        }).detach();
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    }
}

PrinterRunner::PrinterRunner(const RunSettings& settings)
    : settings_(settings), pool_(std::make_shared<Pool>())
{
    WatchPool(pool_);
}

// One more worker, while there are fewer than queues and jobs. A thread
// the system will not start leaves the work to those that run, or to
// Finish's caller when none does.
void PrinterRunner::StartWorker()
{
    if (no_more_threads_ || workers_.size() >= static_cast<size_t>(std::max(settings_.jobs, 1)))
        return;
    try {
        workers_.emplace_back(Work, pool_, settings_);
    } catch (const std::system_error&) {
        no_more_threads_ = true;
    }
}

PrinterRunner::~PrinterRunner()
{
    Close();
    // A printer still under way after Ctrl-C keeps its thread until its
    // deadline; the process ends without waiting for it.
    for (std::thread& worker : workers_)
        detach_ ? worker.detach() : worker.join();
}

void PrinterRunner::Close()
{
    std::lock_guard<std::mutex> lock(pool_->mutex);
    pool_->closed = true;
    pool_->changed.notify_all();
}

void PrinterRunner::Add(const Queue& queue)
{
    Add(queue, settings_.setting);
}

void PrinterRunner::Add(const Queue& queue, const Setting& setting)
{
    {
        std::lock_guard<std::mutex> lock(pool_->mutex);
        pool_->queues.push_back(queue);
        pool_->settings.push_back(setting);
        pool_->results.emplace_back();
        pool_->finished.push_back(false);
        pool_->sent.emplace_back();
        pool_->changed.notify_all();
    }
    StartWorker();
}

std::vector<PrinterResult> PrinterRunner::Finish(bool* interrupted, const Ready& ready)
{
    Close();
    if (workers_.empty())
        Work(pool_, settings_);
    std::unique_lock<std::mutex> lock(pool_->mutex);
    Pool& pool = *pool_;
    for (size_t shown = 0;;) {
        while (ready && shown < pool.queues.size() && pool.finished[shown]) {
            const PrinterResult result = pool.results[shown++];
            lock.unlock();
            ready(result);
            lock.lock();
        }
        if (pool.interrupted || pool.done == pool.queues.size())
            break;
        pool.changed.wait(lock);
    }
    *interrupted = detach_ = pool.done < pool.queues.size();
    std::vector<PrinterResult> results = pool.results;
    for (size_t i = 0; i < pool.queues.size(); ++i) {
        if (pool.finished[i])
            continue;
        results[i] = pool.sent[i] ? Unconfirmed(*pool.sent[i])
                                  : Unworked(pool.queues[i], Outcome::kNotDone, "interrupted");
    }
    return results;
}
