#include "ppddata.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include <cups/cups.h>

#include "i18n.h"

namespace {

// CUPS may not have its list ready right after the scheduler starts; it is
// asked this many times, with a pause between two attempts.
constexpr int kDestsAttempts = 21;

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

// A failed discovery stops start-up before any window appears: this line on
// standard error is all the user learns about why.
void ReportUnreadablePpd(const char* queue, int error)
{
    ReportLine(_("cannot read the PPD file of queue \"%s\": %s"), queue, strerror(error));
}

int ReportNoMemory()
{
    ReportLine("%s", _("out of memory while reading the printer list"));
    return -1;
}

// A queue that has a PPD but is not listed: one line, so that a printer
// missing from the window can be accounted for.
void ReportLeftOut(const char* queue, const char* reason)
{
    ReportLine(_("queue \"%s\" left out: %s"), queue, reason);
}

void ReportFetchFailure(const DiscoveredPrinter& printer)
{
    char reason[PRINTER_TEXT_SIZE];
    snprintf(reason, sizeof reason, _("cannot fetch its PPD file: %s"), printer.detail.c_str());
    ReportLeftOut(printer.name.c_str(), reason);
}

// Says why a destination with a PPD cannot take a slot, if it cannot.
bool LeftOutForRoom(const UIAutoShutdownWnd* wnd, const DiscoveredPrinter& printer)
{
    char reason[PRINTER_TEXT_SIZE];
    if (wnd->printers_num >= PRINTERS_MAX)
        snprintf(reason, sizeof reason, _("the list holds at most %d printers"), PRINTERS_MAX);
    // Cut short to fit its field, the name would address another queue.
    else if (printer.name.size() >= PRINTER_TEXT_SIZE)
        snprintf(reason, sizeof reason, _("its name is longer than %d bytes"),
                 PRINTER_TEXT_SIZE - 1);
    else
        return false;
    ReportLeftOut(printer.name.c_str(), reason);
    return true;
}

// Takes one destination into the model. -1 when start-up cannot go on
// (after its line); 0 otherwise, also for a queue left out.
int Keep(UIAutoShutdownWnd* wnd, const DiscoveredPrinter& printer)
{
    if (printer.state == PpdState::kNoPpd)
        return 0;
    if (printer.state == PpdState::kFetchFailed) {
        ReportFetchFailure(printer);
        return 0;
    }
    if (LeftOutForRoom(wnd, printer))
        return 0;
    if (printer.state == PpdState::kUnreadable) {
        ReportUnreadablePpd(printer.name.c_str(), printer.error_number);
        return -1;
    }
    UIPrinterInfo* record = CreateUIPrinterInfo(printer.name.c_str());
    if (!record)
        return ReportNoMemory();
    // Both values were read into fields of this size.
    snprintf(record->modelName, sizeof record->modelName, "%s", printer.model.c_str());
    snprintf(record->driverVersion, sizeof record->driverVersion, "%s", printer.driver.c_str());
    if (AddUIPrinterInfo2UIAutoShutdownWnd(wnd, record) != 0)
        DestroyUIPrinterInfo(record);
    return 0;
}

}  // namespace

// Fills the window model with one record per CUPS destination that has a
// PPD, in the scheduler's order. A queue left out (its PPD could not be
// fetched, the list is full, its name does not fit a record) and a missing
// list are each said in one line on standard error. 0 when done, also with
// no list; -1 without a model, or when memory ran out or a PPD could not be
// read (after its line).
int GetPrintersInfo(UIAutoShutdownWnd* wnd)
{
    if (!wnd)
        return -1;
    PrinterList list;
    try {
        list = DiscoverPrinters(kDestsAttempts);
    } catch (const std::bad_alloc&) {
        return ReportNoMemory();
    }
    if (!list.listed) {
        ReportLine(_("no printer list from the CUPS scheduler at %s"), cupsServer());
        return 0;
    }
    for (const DiscoveredPrinter& printer : list.printers) {
        if (Keep(wnd, printer) != 0)
            return -1;
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

int GetPPDData(UIAutoShutdownWnd*, const char* ppd_file, UIPrinterInfo* printerInfo)
{
    return ReadPpdFile(ppd_file, printerInfo);
}

void GetStatusuiValue(UIAutoShutdownWnd*, UIPrinterInfo* printerInfo, const char* buff)
{
    ReadPpdLine(printerInfo, buff);
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
