#include "discovery.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <cups/ppd.h>
#include <unistd.h>

#include "discovery_seam.h"
#include "ppdfetch.h"

namespace {

// A pause between two questions for the destination list.
constexpr unsigned kDestsPauseSeconds = 1;

// One read of a PPD line: at most 255 characters and the terminator. A
// longer line arrives in pieces, each handled as a line of its own.
constexpr int kLineSize = PRINTER_TEXT_SIZE;

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
    ~DestList() { g_discovery_calls.free_dests(count_, dests_); }
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

// Asks CUPS for its destinations until it has a list or the attempts are
// used up. Returns the count, 0 when there is no list.
int GetDestsWithRetry(cups_dest_t** dests, int attempts)
{
    for (int attempt = 1;; ++attempt) {
        *dests = nullptr;
        const int count = g_discovery_calls.get_dests(dests);
        if (count > 0 && *dests)
            return count;
        if (*dests)
            g_discovery_calls.free_dests(count, *dests);
        *dests = nullptr;
        if (attempt >= attempts)
            return 0;
        g_discovery_calls.sleep(kDestsPauseSeconds);
    }
}

// One destination: its PPD read and its copy deleted.
DiscoveredPrinter ReadDestination(const char* name, FetchedPpd fetched)
{
    DiscoveredPrinter printer;
    printer.name = name;
    if (fetched.outcome != FetchedPpd::Outcome::kCopy) {
        if (fetched.outcome == FetchedPpd::Outcome::kFailed) {
            printer.state = PpdState::kFetchFailed;
            printer.detail = fetched.error;
        }
        return printer;
    }
    const TempPpdFile ppd = std::move(fetched.copy);
    UIPrinterInfo keys{};
    if (ReadPpdFile(ppd.path(), &keys) != 0) {
        printer.state = PpdState::kUnreadable;
        printer.error_number = errno;
        printer.detail = std::strerror(printer.error_number);
        return printer;
    }
    printer.state = PpdState::kRead;
    printer.model = keys.modelName;
    printer.driver = keys.driverVersion;
    return printer;
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

DiscoveryCalls g_discovery_calls = {
    cupsGetDests, FetchPpd, cupsFreeDests, sleep, fopen, malloc, kMaxPpdConnections,
};

PrinterList DiscoverPrinters(int dests_attempts)
{
    PrinterList list;
    cups_dest_t* raw_dests = nullptr;
    const int count = GetDestsWithRetry(&raw_dests, dests_attempts);
    if (count == 0)
        return list;
    const DestList dests(count, raw_dests);
    list.listed = true;
    list.printers.reserve(static_cast<size_t>(count));
    PpdFetcher fetcher(dests.names(), g_discovery_calls.ppd_connections, g_discovery_calls.get_ppd);
    for (int i = 0; i < dests.count(); ++i)
        list.printers.push_back(ReadDestination(dests.name(i), fetcher.Take(i)));
    return list;
}

UIPrinterInfo* CreateUIPrinterInfo(const char* name)
{
    if (!name || strlen(name) >= PRINTER_TEXT_SIZE)
        return nullptr;
    auto* record =
        static_cast<UIPrinterInfo*>(g_discovery_calls.alloc_record(sizeof(UIPrinterInfo)));
    if (!record)
        return nullptr;
    memset(record, 0, sizeof *record);
    strcpy(record->printerName, name);
    return record;
}

void DestroyUIPrinterInfo(UIPrinterInfo* printerInfo)
{
    free(printerInfo);
}

int ReadPpdFile(const char* ppd_file, UIPrinterInfo* printerInfo)
{
    if (!ppd_file || !printerInfo)
        return -1;
    FilePtr file(g_discovery_calls.open(ppd_file, "r"));
    if (!file)
        return -1;
    char line[kLineSize];
    for (;;) {
        memset(line, 0, sizeof line);
        if (!fgets(line, sizeof line, file.get()))
            break;
        ReadPpdLine(printerInfo, line);
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

void ReadPpdLine(UIPrinterInfo* printerInfo, const char* line)
{
    if (!printerInfo || !line)
        return;
    for (const PpdKey& key : kPpdKeys) {
        if (strncmp(line, key.text, strlen(key.text)) != 0)
            continue;
        char value[PRINTER_TEXT_SIZE] = {};
        if (!ExtractValue(line, value) || IsMinusOne(value))
            return;
        char(&field)[PRINTER_TEXT_SIZE] = printerInfo->*key.field;
        memset(field, 0, sizeof field);
        memcpy(field, value, strlen(value));
        return;
    }
}
