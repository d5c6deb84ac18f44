#include "ppddata.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <cups/ppd.h>
#include <unistd.h>

#include "i18n.h"
#include "ppddata_seam.h"
#include "ppdfetch.h"

namespace {

// CUPS may not have its list ready right after the scheduler starts; it is
// asked this many times, with a pause between two attempts.
constexpr int kDestsAttempts = 21;
constexpr unsigned kDestsPauseSeconds = 1;

// One read of a PPD line: at most 255 characters and the terminator. A
// longer line arrives in pieces, each handled as a line of its own.
constexpr int kLineSize = 256;

struct PpdKey {
    const char* text;
    char (UIPrinterInfo::*field)[PRINTER_TEXT_SIZE];
};

// Searched in this order; the first key that begins the line decides.
constexpr std::array<PpdKey, 2> kPpdKeys = {{
    {"*VXPrinterName:", &UIPrinterInfo::modelName},
    {"*FileVersion:", &UIPrinterInfo::driverVersion},
}};

const char* FetchPpd(const char* name)
{
    // Deprecated in CUPS 2.4 without a replacement that hands back the
    // queue's PPD; it is still the way to read a queue's private keys.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return cupsGetPPD(name);
#pragma GCC diagnostic pop
}

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// The destination list, released on every return once CUPS delivered it.
class DestList {
public:
    DestList(int count, cups_dest_t* dests) : count_(count), dests_(dests) {}
    ~DestList() { g_ppddata_calls.free_dests(count_, dests_); }
    DestList(const DestList&) = delete;
    DestList& operator=(const DestList&) = delete;
    int count() const { return count_; }
    const char* name(int i) const { return dests_[i].name; }
    std::vector<std::string> names() const
    {
        std::vector<std::string> all;
        for (int i = 0; i < count_; ++i)
            all.push_back(dests_[i].name);
        return all;
    }

private:
    int count_;
    cups_dest_t* dests_;
};

// One line on standard error: the program's name, then the (translated)
// message.
__attribute__((format(printf, 1, 2))) void ReportLine(const char* format, ...)
{
    fputs("quellon: ", stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
}

// Asks CUPS for its destinations until it has a list or the attempts are
// used up. Returns the count, 0 when there is no list.
int GetDestsWithRetry(cups_dest_t** dests, int attempts)
{
    for (int attempt = 1;; ++attempt) {
        *dests = nullptr;
        const int count = g_ppddata_calls.get_dests(dests);
        if (count > 0 && *dests)
            return count;
        if (*dests)
            g_ppddata_calls.free_dests(count, *dests);
        *dests = nullptr;
        if (attempt >= attempts) {
            // Only waiting in vain is worth a line: a single look (the
            // command line's) reports an unreachable scheduler itself.
            if (attempts > 1)
                ReportLine(_("no printer list from the CUPS scheduler at %s"), cupsServer());
            return 0;
        }
        g_ppddata_calls.sleep(kDestsPauseSeconds);
    }
}

// A failed discovery stops start-up before any window appears: this line on
// standard error is all the user learns about why.
void ReportUnreadablePpd(const char* queue, int error)
{
    ReportLine(_("cannot read the PPD file of queue \"%s\": %s"), queue, strerror(error));
}

void ReportNoMemory()
{
    ReportLine("%s", _("out of memory while reading the printer list"));
}

// A queue that has a PPD but is not listed: one line, so that a printer
// missing from the window can be accounted for.
void ReportLeftOut(const char* queue, const char* reason)
{
    ReportLine(_("queue \"%s\" left out: %s"), queue, reason);
}

void ReportFetchFailure(const char* queue, const std::string& error)
{
    char reason[PRINTER_TEXT_SIZE];
    snprintf(reason, sizeof reason, _("cannot fetch its PPD file: %s"), error.c_str());
    ReportLeftOut(queue, reason);
}

// Why a destination with a PPD cannot take a slot; null when it can.
const char* NoRoomReason(const UIAutoShutdownWnd* wnd, const char* name)
{
    if (wnd->printers_num >= PRINTERS_MAX)
        return _("the list holds at most 64 printers");
    // Cut short to fit its field, the name would address another queue.
    if (strlen(name) >= PRINTER_TEXT_SIZE)
        return _("its name is longer than 255 bytes");
    return nullptr;
}

// Reads the value of a matched line into `value`: the text after the first
// double quote up to the next double quote or colon. False when the line has
// no quote, ends before the end mark, or the value would not fit.
bool ExtractValue(const char* line, char (&value)[PRINTER_TEXT_SIZE])
{
    const char* quote = strchr(line, '"');
    if (!quote)
        return false;
    size_t length = 0;
    for (const char* p = quote + 1;; ++p) {
        if (*p == '\0' || *p == '\n')
            return false;
        if (*p == '"' || *p == ':')
            break;
        if (length == PRINTER_TEXT_SIZE - 1)
            return false;
        value[length++] = *p;
    }
    value[length] = '\0';
    return true;
}

// A value that reads as the number -1 marks "no value" in these PPDs.
// strtol rather than atoi: atoi's overflow is undefined, and a huge number
// must not wrap around to -1.
bool IsMinusOne(const char* value)
{
    return strtol(value, nullptr, 10) == -1;
}

}  // namespace

PpdDataCalls g_ppddata_calls = {
    cupsGetDests, FetchPpd, cupsFreeDests, sleep, fopen, malloc, kMaxPpdConnections,
};

// Fills the window model with one record per CUPS destination that has a
// PPD, in the scheduler's order. A queue left out (its PPD could not be
// fetched, the list is full, its name does not fit a record) and a missing
// list are each said in one line on standard error. 0 when done, also with
// no list; -1 without a model, or when memory ran out or a PPD could not be
// read (after its line).
int GetPrintersInfo(UIAutoShutdownWnd* wnd)
{
    return DiscoverPrinters(wnd, kDestsAttempts, nullptr, nullptr);
}

int DiscoverPrinters(UIAutoShutdownWnd* wnd, int dests_attempts, PrinterFound found, void* context)
{
    if (!wnd)
        return -1;
    cups_dest_t* raw_dests = nullptr;
    const int count = GetDestsWithRetry(&raw_dests, dests_attempts);
    if (count == 0)
        return 0;
    const DestList dests(count, raw_dests);
    PpdFetcher fetcher(dests.names(), g_ppddata_calls.ppd_connections, g_ppddata_calls.get_ppd);

    for (int i = 0; i < dests.count(); ++i) {
        const char* name = dests.name(i);
        FetchedPpd fetched = fetcher.Take(i);
        if (fetched.outcome != FetchedPpd::Outcome::kCopy) {
            if (fetched.outcome == FetchedPpd::Outcome::kFailed)
                ReportFetchFailure(name, fetched.error);
            continue;
        }
        const TempPpdFile ppd = std::move(fetched.copy);
        if (const char* reason = NoRoomReason(wnd, name)) {
            ReportLeftOut(name, reason);
            continue;
        }

        UIPrinterInfo* record = CreateUIPrinterInfo(name);
        if (!record) {
            ReportNoMemory();
            return -1;
        }
        if (GetPPDData(wnd, ppd.path(), record) != 0) {
            const int error = errno;
            DestroyUIPrinterInfo(record);
            ReportUnreadablePpd(name, error);
            return -1;
        }
        if (AddUIPrinterInfo2UIAutoShutdownWnd(wnd, record) != 0)
            DestroyUIPrinterInfo(record);
        else if (found)
            found(record, context);
    }
    return 0;
}

// The record of the queue named exactly `printer_name`; null when there is
// none.
UIPrinterInfo* GetUIPrinterInfo(UIAutoShutdownWnd* wnd, const char* printer_name)
{
    if (!wnd || !printer_name)
        return nullptr;
    for (int i = 0; i < wnd->printers_num; ++i) {
        UIPrinterInfo* record = wnd->printersInfo[i];
        if (record && strcmp(record->printerName, printer_name) == 0)
            return record;
    }
    return nullptr;
}

// Frees every record; the model is left with none.
void DestroyPrintersInfo(UIAutoShutdownWnd* wnd)
{
    if (!wnd)
        return;
    for (int i = 0; wnd->printers_num > 0; ++i, --wnd->printers_num) {
        DestroyUIPrinterInfo(wnd->printersInfo[i]);
        wnd->printersInfo[i] = nullptr;
    }
}

// A zeroed record named `name`; null when there is no name, it does not fit
// a record, or memory ran out.
UIPrinterInfo* CreateUIPrinterInfo(const char* name)
{
    if (!name || strlen(name) >= PRINTER_TEXT_SIZE)
        return nullptr;
    auto* record = static_cast<UIPrinterInfo*>(g_ppddata_calls.alloc_record(sizeof(UIPrinterInfo)));
    if (!record)
        return nullptr;
    memset(record, 0, sizeof *record);
    strcpy(record->printerName, name);
    return record;
}

// Reads the model name and driver version of the PPD file into the record.
// 0 when the file was read to its end, whether or not it held the keys; -1
// when an argument is missing or the file could not be opened or read, with
// errno saying why.
int GetPPDData(UIAutoShutdownWnd* wnd, const char* ppd_file, UIPrinterInfo* printerInfo)
{
    if (!ppd_file || !printerInfo)
        return -1;
    FilePtr file(g_ppddata_calls.open(ppd_file, "r"));
    if (!file)
        return -1;
    char line[kLineSize];
    for (;;) {
        memset(line, 0, sizeof line);
        if (!fgets(line, sizeof line, file.get()))
            break;
        GetStatusuiValue(wnd, printerInfo, line);
    }
    // A read error (say, the path names a folder) is not the end of the
    // file. Its errno outlives fclose for the caller's message.
    if (!ferror(file.get()))
        return 0;
    const int error = errno;
    file.reset();
    errno = error;
    return -1;
}

// Takes the value of one PPD line into the record when the line starts with
// one of the two keys and its value is usable; otherwise the record stays
// as it was.
void GetStatusuiValue(UIAutoShutdownWnd*, UIPrinterInfo* printerInfo, const char* buff)
{
    if (!printerInfo || !buff)
        return;
    for (const PpdKey& key : kPpdKeys) {
        if (strncmp(buff, key.text, strlen(key.text)) != 0)
            continue;
        char value[PRINTER_TEXT_SIZE] = {};
        if (!ExtractValue(buff, value) || IsMinusOne(value))
            return;
        char(&field)[PRINTER_TEXT_SIZE] = printerInfo->*key.field;
        memset(field, 0, sizeof field);
        memcpy(field, value, strlen(value));
        return;
    }
}

// Appends the record to the model, which then owns it. 0 when added; -1
// when an argument is missing or every slot is taken, and the caller keeps
// the record.
int AddUIPrinterInfo2UIAutoShutdownWnd(UIAutoShutdownWnd* wnd, UIPrinterInfo* printerInfo)
{
    if (!wnd || !printerInfo || wnd->printers_num >= PRINTERS_MAX)
        return -1;
    wnd->printersInfo[wnd->printers_num++] = printerInfo;
    return 0;
}

void DestroyUIPrinterInfo(UIPrinterInfo* printerInfo)
{
    free(printerInfo);
}
