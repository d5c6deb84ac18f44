// Printer discovery: the CUPS destinations and two keys of each PPD file.
#pragma once

#include "model.h"

int GetPrintersInfo(UIAutoShutdownWnd* wnd);
// GetPrintersInfo asking CUPS for its list at most `dests_attempts` times
// (the window waits for a scheduler that is still starting, a script must
// not), telling `found` of each record as soon as it is stored, so that
// work on a printer can start while the other PPD files are still read.
typedef void (*PrinterFound)(const UIPrinterInfo* record, void* context);
int DiscoverPrinters(UIAutoShutdownWnd* wnd, int dests_attempts, PrinterFound found, void* context);
UIPrinterInfo* GetUIPrinterInfo(UIAutoShutdownWnd* wnd, const char* printer_name);
void DestroyPrintersInfo(UIAutoShutdownWnd* wnd);

UIPrinterInfo* CreateUIPrinterInfo(const char* name);
int GetPPDData(UIAutoShutdownWnd* wnd, const char* ppd_file, UIPrinterInfo* printerInfo);
void GetStatusuiValue(UIAutoShutdownWnd* wnd, UIPrinterInfo* printerInfo, const char* buff);
int AddUIPrinterInfo2UIAutoShutdownWnd(UIAutoShutdownWnd* wnd, UIPrinterInfo* printerInfo);
void DestroyUIPrinterInfo(UIPrinterInfo* printerInfo);
