#include "text_output.h"

#include <algorithm>
#include <cwchar>
#include <string>

#include "format.h"
#include "i18n.h"
#include "printerops.h"

namespace {

// Columns on a terminal: wide characters take two, a byte that is not a
// character of the locale one.
size_t DisplayWidth(const std::string& text)
{
    std::mbstate_t state{};
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        wchar_t wide = 0;
        const size_t length = std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
        if (length == 0 || length > text.size() - i) {
            state = std::mbstate_t{};
            ++width;
            ++i;
            continue;
        }
        const int columns = wcwidth(wide);
        width += columns > 0 ? static_cast<size_t>(columns) : 0;
        i += length;
    }
    return width;
}

// Whether the bytes at `at` are a terminal control: C0, DEL, or C1 as UTF-8.
size_t ControlLength(const std::string& text, size_t at)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7f)
        return 1;
    const bool c1 = byte == 0xc2 && at + 1 < text.size() &&
                    (static_cast<unsigned char>(text[at + 1]) & 0xe0) == 0x80;
    return c1 ? 2 : 0;
}

}  // namespace

std::string Shown(const std::string& text)
{
    std::string shown;
    for (size_t i = 0; i < text.size();) {
        const size_t control = ControlLength(text, i);
        if (control == 0) {
            shown.push_back(text[i++]);
            continue;
        }
        for (const size_t end = i + control; i < end; ++i)
            shown += Printf("\\x%02x", static_cast<unsigned char>(text[i]));
    }
    return shown;
}

namespace {

std::string Pad(const std::string& text, size_t width)
{
    const size_t used = DisplayWidth(text);
    return text + std::string(width > used ? width - used : 0, ' ') + "  ";
}

using Row = std::vector<std::string>;

// Rows under a header, each column as wide as its widest cell.
void PrintTable(std::FILE* out, std::vector<Row> rows)
{
    for (Row& row : rows) {
        for (std::string& cell : row)
            cell = Shown(cell);
    }
    std::vector<size_t> widths(rows.front().size(), 0);
    for (const Row& row : rows) {
        for (size_t c = 0; c + 1 < row.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
    for (const Row& row : rows) {
        std::string line;
        for (size_t c = 0; c + 1 < row.size(); ++c)
            line += Pad(row[c], widths[c]);
        std::fprintf(out, "%s%s\n", line.c_str(), row.back().c_str());
    }
}

std::string DriverCell(const DiscoveredPrinter& queue)
{
    if (DriverVersionSupported(queue.driver.c_str()))
        return queue.driver;
    const std::string shown = queue.driver.empty() ? _("none") : queue.driver;
    return Printf(_("%s (older than %s: not supported)"), shown.c_str(), MinDriverVersion());
}

std::string Reason(const DiscoveredPrinter& queue)
{
    const std::string reason = ListingReason(queue);
    if (reason == "no-ppd")
        return _("no PPD file");
    if (reason == "ppd-failed")
        return Printf(_("cannot fetch its PPD file: %s"), queue.detail.c_str());
    if (reason == "no-model")
        return _("its PPD file names no printer model (*VXPrinterName)");
    if (reason == "model-case")
        return Printf(_("model \"%s\" differs from the supported \"%s\" in letter case"),
                      queue.model.c_str(), NearModel(queue).c_str());
    return Printf(_("model \"%s\" is not supported"), queue.model.c_str());
}

// A timer as people say it: "4 hours", "off (4 hours kept)".
std::string Timer(unsigned timer)
{
    const unsigned hours = timer & TIMER_HOURS;
    const std::string period = Printf(P_("%u hour", "%u hours", hours), hours);
    if (timer & TIMER_OFF)
        return Printf(_("off (%s kept)"), period.c_str());
    if (hours < 1 || hours > TIMER_MAX_HOURS)
        return Printf(_("%s (outside 1 to 8, as the printer reports it)"), period.c_str());
    return period;
}

std::string ReadLine(const PrinterResult& result)
{
    const unsigned timer = *result.timer;
    if (timer & TIMER_OFF)
        return Printf(_("firmware %s, auto shutdown %s"), result.firmware.c_str(),
                      Timer(timer).c_str());
    return Printf(_("firmware %s, switches off after %s"), result.firmware.c_str(),
                  Timer(timer).c_str());
}

std::string Held(const PrinterResult& result)
{
    return result.held ? Timer(*result.held) : std::string(_("unknown"));
}

// What went wrong with a printer, for the kinds that need no value.
std::string Failure(const PrinterResult& result)
{
    switch (result.failure.kind) {
    case FailureKind::kUnknownQueue:
        return _("no such queue");
    case FailureKind::kPpdFailed:
        return Printf(_("cannot fetch its PPD file: %s"), result.failure.detail.c_str());
    case FailureKind::kUnsupportedModel:
        return _("not a supported printer (see: quellonctl list --all)");
    case FailureKind::kOldDriver:
        return Printf(_("driver %s is older than %s: not supported"),
                      result.driver.empty() ? _("none") : result.driver.c_str(),
                      MinDriverVersion());
    case FailureKind::kOldFirmware:
        return Printf(_("firmware %s is older than %s: not supported"), result.firmware.c_str(),
                      result.min_firmware.c_str());
    case FailureKind::kResolve:
    case FailureKind::kConnect:
        return _("cannot connect to the printer daemon");
    case FailureKind::kDeadline:
        return _("no answer before the deadline");
    case FailureKind::kMalformed:
        return _("the printer daemon's reply was not understood");
    case FailureKind::kClosed:
        return _("the printer daemon closed the connection");
    case FailureKind::kInterrupted:
        return _("not done: interrupted");
    case FailureKind::kNotAttempted:
        return _("not done: another queue named is not usable");
    case FailureKind::kRefused:
        return Printf(_("the printer daemon refused the request (code %d)"),
                      result.failure.daemon_code);
    case FailureKind::kNone:
    case FailureKind::kStoredOther:
    case FailureKind::kUnconfirmed:
        break;
    }
    return _("the connection to the printer daemon failed");
}

// The failures of a write, which name the values involved.
std::string WriteFailure(const PrinterResult& result)
{
    const std::string wanted = Timer(*result.wanted);
    if (result.failure.kind == FailureKind::kRefused)
        return Printf(_("the printer refused %s; it holds %s"), wanted.c_str(),
                      Held(result).c_str());
    if (result.failure.kind == FailureKind::kStoredOther)
        return Printf(_("wrote %s, but the printer reports %s"), wanted.c_str(),
                      Held(result).c_str());
    if (result.outcome != Outcome::kUnconfirmed)
        return "";
    if (result.held)
        return Printf(_("%s was sent, its outcome is unknown (the printer then reported %s)"),
                      wanted.c_str(), Timer(*result.held).c_str());
    return Printf(_("%s was sent, its outcome is unknown"), wanted.c_str());
}

std::string FailLine(const PrinterResult& result)
{
    std::string text = result.wanted ? WriteFailure(result) : "";
    if (text.empty())
        text = Failure(result);
    // Where and why, in the system's words: what an administrator needs to
    // tell a daemon that is down from a host that is wrong.
    if (!result.failure.detail.empty() && result.failure.kind != FailureKind::kPpdFailed)
        text += " (" + result.failure.detail + ")";
    return text;
}

std::string ResultLine(const PrinterResult& result)
{
    switch (result.outcome) {
    case Outcome::kRead:
        return ReadLine(result);
    case Outcome::kUnchanged:
        return Printf(_("already %s, nothing written"), Timer(*result.timer).c_str());
    case Outcome::kChanged:
        return Printf(_("%s -> %s (confirmed)"), Timer(*result.timer).c_str(),
                      Timer(*result.held).c_str());
    case Outcome::kWouldChange:
        return Printf(_("%s -> %s (dry run: nothing written)"), Timer(*result.timer).c_str(),
                      Timer(*result.wanted).c_str());
    case Outcome::kUnconfirmed:
    case Outcome::kFailed:
    case Outcome::kNotDone:
        break;
    }
    return FailLine(result);
}

}  // namespace

void PrintListText(std::FILE* out, const Inventory& inventory, bool all)
{
    std::vector<Row> rows = {{_("QUEUE"), _("MODEL"), _("DRIVER")}};
    for (const DiscoveredPrinter& queue : inventory.listed)
        rows.push_back({queue.name, queue.model, DriverCell(queue)});
    PrintTable(out, rows);
    if (!all || inventory.others.empty())
        return;
    std::vector<Row> others = {{_("NOT LISTED"), _("WHY")}};
    for (const DiscoveredPrinter& queue : inventory.others)
        others.push_back({queue.name, Reason(queue)});
    std::fputc('\n', out);
    PrintTable(out, others);
}

void PrintResultsText(std::FILE* out, const std::vector<PrinterResult>& results, bool quiet,
                      bool check)
{
    for (const PrinterResult& result : results) {
        const bool differs = check && Differs(result);
        if (quiet && Succeeded(result) && !differs)
            continue;
        const std::string line =
            differs ? Printf(_("holds %s, the policy wants %s"), Timer(*result.timer).c_str(),
                             Timer(*result.wanted).c_str())
                    : ResultLine(result);
        std::fprintf(out, "%s: %s\n", Shown(result.queue).c_str(), Shown(line).c_str());
    }
}
