// Printer discovery: the CUPS destinations and two keys of each one's PPD
// file, as a list the caller owns. Nothing here knows a window; callers
// decide what to say about a queue and which ones to keep.
#pragma once

#include <string>
#include <vector>

#include "model.h"

// What became of one destination's PPD file.
enum class PpdState {
    kRead,         // read to its end; model and driver as found, maybe empty
    kNoPpd,        // the queue has none: a raw queue, or one gone meanwhile
    kFetchFailed,  // libcups could not fetch it; `detail` holds its text
    kUnreadable,   // the local copy could not be read; `error_number` says why
};

// One print queue as both programs know it before asking its printer
// anything: the window fills its records from it, the command line works
// from it directly.
struct DiscoveredPrinter {
    std::string name;    // as CUPS spells it
    std::string model;   // "*VXPrinterName:", empty without a usable line
    std::string driver;  // "*FileVersion:", likewise
    PpdState state = PpdState::kNoPpd;
    std::string detail;    // kFetchFailed, kUnreadable: why, in libcups's or the system's words
    int error_number = 0;  // kUnreadable
};

struct PrinterList {
    bool listed = false;                      // CUPS gave a list at all
    std::vector<DiscoveredPrinter> printers;  // every destination, in its order
};

// Asks CUPS for its destinations at most `dests_attempts` times, pausing
// between two attempts (the window waits for a scheduler that is still
// starting, a script must not), then reads each destination's PPD file.
// Every temporary copy is deleted before it returns. Memory running out
// throws std::bad_alloc.
PrinterList DiscoverPrinters(int dests_attempts);

// A zeroed record named `name`; null when there is no name, it does not fit
// a record, or memory ran out.
UIPrinterInfo* CreateUIPrinterInfo(const char* name);
void DestroyUIPrinterInfo(UIPrinterInfo* printerInfo);
// Reads the model name and driver version of a PPD file into the record.
// 0 when the file was read to its end, whether or not it held the keys; -1
// when an argument is missing or the file could not be opened or read, with
// errno saying why.
int ReadPpdFile(const char* ppd_file, UIPrinterInfo* printerInfo);
// Takes the value of one PPD line into the record when the line starts with
// one of the two keys and its value is usable; otherwise the record stays
// as it was.
void ReadPpdLine(UIPrinterInfo* printerInfo, const char* line);
