// Printer discovery as the window model keeps it: at most PRINTERS_MAX
// records, filled once at start-up from the core's printer list.
#pragma once

#include "discovery.h"
#include "startcheck.h"

int GetPrintersInfo(UIAutoShutdownWnd* wnd);
UIPrinterInfo* GetUIPrinterInfo(UIAutoShutdownWnd* wnd, const char* printer_name);
void DestroyPrintersInfo(UIAutoShutdownWnd* wnd);

int GetPPDData(UIAutoShutdownWnd* wnd, const char* ppd_file, UIPrinterInfo* printerInfo);
void GetStatusuiValue(UIAutoShutdownWnd* wnd, UIPrinterInfo* printerInfo, const char* buff);
int AddUIPrinterInfo2UIAutoShutdownWnd(UIAutoShutdownWnd* wnd, UIPrinterInfo* printerInfo);
