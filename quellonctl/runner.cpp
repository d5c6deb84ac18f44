#include "runner.h"

#include <memory>
#include <mutex>
#include <optional>

#include "daemon.h"
#include "printerops.h"
#include "workpool.h"

namespace {

PrinterResult Fail(PrinterResult result, Failure failure)
{
    result.outcome = Outcome::kFailed;
    result.failure = std::move(failure);
    return result;
}

PrinterResult Fail(PrinterResult result, FailureKind kind)
{
    Failure failure;
    failure.kind = kind;
    return Fail(std::move(result), failure);
}

// The write went out and what became of it cannot be told; it is never
// sent again.
PrinterResult Unconfirmed(PrinterResult result)
{
    result.outcome = Outcome::kUnconfirmed;
    result.failure = Failure{};
    result.failure.kind = FailureKind::kUnconfirmed;
    return result;
}

PrinterResult Write(PrinterResult result, const Setting& setting, Connection* connection,
                    DaemonTarget* target, const RunSettings& settings, const Sending& sending)
{
    const unsigned short wanted = WantedTimer(setting, *result.timer);
    result.wanted = wanted;
    if (!settings.dry_run && wanted != *result.timer) {
        // Past the deadline the write is not begun, so nothing is in doubt.
        if (DeadlinePassed(*target))
            return Fail(result, FailureKind::kDeadline);
        if (sending)
            sending(result);
    }
    VxsktModule* vxskt = connection->release();
    const WriteReport report =
        VerifiedWriteOver(&vxskt, *result.timer, wanted, ReopenDaemon, target, settings.dry_run);
    connection->reset(vxskt);
    if (report.held_known)
        result.held = report.held;
    result.reply_lost = report.reply_lost;
    switch (report.outcome) {
    case WRITE_UNCHANGED:
        result.outcome = Outcome::kUnchanged;
        return result;
    case WRITE_CHANGED:
        result.outcome = settings.dry_run ? Outcome::kWouldChange : Outcome::kChanged;
        return result;
    case WRITE_REFUSED: {
        Failure refused;
        refused.kind = FailureKind::kRefused;
        refused.daemon_code = vxskt ? vxskt->response_code : 0;
        return Fail(result, refused);
    }
    case WRITE_VERIFY_FAILED:
        return Fail(result, FailureKind::kStoredOther);
    case WRITE_FAILED:
        break;
    }
    return Unconfirmed(result);
}

}  // namespace

PrinterResult RunPrinter(const Entry& entry, const RunSettings& settings, const Sending& sending)
{
    if (!entry.queue)
        return entry.result;
    const DiscoveredPrinter& queue = *entry.queue;
    PrinterResult result = entry.result;
    if (!DriverVersionSupported(queue.driver.c_str()))
        return Fail(result, FailureKind::kOldDriver);
    DaemonTarget target{queue.name, settings.locale, vxsktNowMs() + settings.timeout_ms};
    Failure failure;
    Connection connection = OpenDaemon(target, &failure);
    if (!connection)
        return Fail(result, failure);
    char firmware[FIRM_VER_SIZE] = {};
    failure = QueryFirmware(connection.get(), target, firmware);
    if (failure.kind != FailureKind::kNone)
        return Fail(result, failure);
    result.firmware = firmware;
    if (!FirmwareSupported(queue.model.c_str(), firmware))
        return Fail(result, FailureKind::kOldFirmware);
    unsigned short timer = 0;
    failure = QueryTimer(connection.get(), target, &timer);
    if (failure.kind != FailureKind::kNone)
        return Fail(result, failure);
    result.timer = timer;
    if (!settings.wants_value) {
        result.outcome = Outcome::kRead;
        return result;
    }
    return Write(result, entry.setting, &connection, &target, settings, sending);
}

namespace {

// What the workers and the caller share. It lives as long as the last of
// them: after a signal the caller reports without waiting for printers
// still under way.
struct Shared {
    Shared(const std::vector<Entry>& entries_, const RunSettings& settings_)
        : entries(entries_), settings(settings_), results(entries_.size()), sent(entries_.size())
    {
    }

    const std::vector<Entry> entries;
    const RunSettings settings;
    std::vector<PrinterResult> results;  // each written by its own job only
    std::mutex mutex;                    // guards `sent`
    std::vector<std::optional<PrinterResult>> sent;
};

void Work(const std::shared_ptr<Shared>& shared, size_t i)
{
    const Sending sending = [&shared, i](const PrinterResult& known) {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        shared->sent[i] = known;
    };
    shared->results[i] = RunPrinter(shared->entries[i], shared->settings, sending);
}

// A printer the signal caught before it was done.
PrinterResult Caught(Shared* shared, size_t i)
{
    std::optional<PrinterResult> sent;
    {
        const std::lock_guard<std::mutex> lock(shared->mutex);
        sent = shared->sent[i];
    }
    if (sent)
        return Unconfirmed(*sent);
    return Unworked(shared->entries[i].result, Outcome::kNotDone, FailureKind::kInterrupted);
}

}  // namespace

std::vector<PrinterResult> RunEntries(const std::vector<Entry>& entries,
                                      const RunSettings& settings, GCancellable* stop,
                                      const std::function<void(const PrinterResult&)>& ready,
                                      bool* interrupted)
{
    auto shared = std::make_shared<Shared>(entries, settings);
    auto group = std::make_unique<WorkGroup>(
        entries.size(), settings.jobs, [shared](size_t i) { Work(shared, i); }, stop);
    std::vector<PrinterResult> results;
    *interrupted = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!*interrupted && group->WaitFor(i)) {
            results.push_back(shared->results[i]);
            if (ready)
                ready(results.back());
            continue;
        }
        *interrupted = true;
        results.push_back(group->WaitFor(i) ? shared->results[i] : Caught(shared.get(), i));
    }
    // After a signal the printers under way keep their threads until their
    // deadlines; the process ends without waiting for them.
    if (*interrupted)
        group.release();
    return results;
}
