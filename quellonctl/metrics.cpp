#include "metrics.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "printerops.h"

namespace {

// Samples of one metric family under its HELP and TYPE lines.
class Family {
public:
    Family(const char* name, const char* help) : name_(name)
    {
        text_ = std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    }
    void Add(const std::string& labels, double value)
    {
        char number[64];
        // Whole numbers as such, the rest with milliseconds: never in
        // exponent form, which some readers of these files refuse.
        if (value == static_cast<double>(static_cast<long long>(value)))
            std::snprintf(number, sizeof number, "%lld", static_cast<long long>(value));
        else
            std::snprintf(number, sizeof number, "%.3f", value);
        text_ += name_ + (labels.empty() ? "" : "{" + labels + "}") + " " + number + "\n";
    }
    const std::string& text() const { return text_; }

private:
    std::string name_;
    std::string text_;
};

std::string Queue(const PrinterResult& result)
{
    return "queue=" + LabelValue(result.queue);
}

// What the printer holds once the run is done: the value read back after a
// write, else the one read.
uint16_t HeldNow(const PrinterResult& result)
{
    return result.held.value_or(*result.timer);
}

}  // namespace

std::string LabelValue(const std::string& value)
{
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '\\')
            quoted += "\\\\";
        else if (c == '"')
            quoted += "\\\"";
        else if (c == '\n')
            quoted += "\\n";
        else
            quoted += c;
    }
    return quoted + "\"";
}

std::string MetricsText(Command command, const RunRecord& run)
{
    Family info("quellon_printer_info", "A printer the run was asked about, with its model and the "
                                        "firmware it reported (empty when not read).");
    Family up("quellon_printer_up", "Whether the printer's timer was read in the last run.");
    Family enabled("quellon_auto_shutdown_enabled",
                   "Whether the printer's auto shutdown timer is switched on.");
    Family delay("quellon_auto_shutdown_delay_seconds",
                 "The period after which the printer switches off, also kept while the timer is "
                 "off.");
    Family compliant("quellon_policy_compliant",
                     "Whether the printer holds the value its policy wants.");
    const bool policy = CommandOf(command).takes == Takes::kPolicy;
    // A queue named twice in other spellings is one series.
    std::set<std::string> seen;
    for (const PrinterResult& result : run.results) {
        if (!seen.insert(result.queue).second)
            continue;
        const std::string queue = Queue(result);
        info.Add(queue + ",model=" + LabelValue(result.model) +
                     ",firmware=" + LabelValue(result.firmware),
                 1);
        up.Add(queue, result.timer ? 1 : 0);
        if (!result.timer)
            continue;
        const uint16_t timer = HeldNow(result);
        enabled.Add(queue, (timer & TIMER_OFF) ? 0 : 1);
        delay.Add(queue, (timer & TIMER_HOURS) * 3600.0);
        if (policy)
            compliant.Add(queue, Holds(result) ? 1 : 0);
    }
    Family success("quellon_run_success",
                   "Whether every printer of the last run came out as asked.");
    success.Add("", RunSucceeded(run) ? 1 : 0);
    Family duration("quellon_run_duration_seconds", "How long the last run took.");
    duration.Add("", run.seconds);
    Family timestamp("quellon_run_timestamp_seconds", "When the last run ended, since the epoch.");
    timestamp.Add("", run.ended_at);
    std::string text = info.text() + up.text() + enabled.text() + delay.text();
    if (policy)
        text += compliant.text();
    return text + success.text() + duration.text() + timestamp.text();
}

bool WriteMetricsFile(const std::string& path, const std::string& text, std::string* error)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A leading dot and no ".prom" at the end: the collector passes it by.
    std::string temporary =
        folder + (slash == std::string::npos ? "/" : "") + "." + name + ".XXXXXX";
    std::vector<char> buffer(temporary.begin(), temporary.end());
    buffer.push_back('\0');
    const int fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    temporary = buffer.data();
    int why = 0;
    if (fchmod(fd, 0644) != 0)
        why = errno;
    for (size_t done = 0; why == 0 && done < text.size();) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            why = wrote < 0 ? errno : EIO;
        else
            done += static_cast<size_t>(wrote);
    }
    // Whole on disk before it takes the old file's place.
    if (why == 0 && fsync(fd) != 0)
        why = errno;
    if (close(fd) != 0 && why == 0)
        why = errno;
    if (why == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        why = errno;
    if (why == 0)
        return true;
    unlink(temporary.c_str());
    *error = std::strerror(why);
    return false;
}
