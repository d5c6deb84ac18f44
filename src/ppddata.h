// Printer discovery: the CUPS destinations and two keys of each PPD file.
#pragma once

#include "startcheck.h"

int GetPrintersInfo(UIAutoShutdownWnd* wnd);
UIPrinterInfo* GetUIPrinterInfo(UIAutoShutdownWnd* wnd, const char* printer_name);
void DestroyPrintersInfo(UIAutoShutdownWnd* wnd);

UIPrinterInfo* CreateUIPrinterInfo(const char* name);
int GetPPDData(UIAutoShutdownWnd* wnd, const char* ppd_file, UIPrinterInfo* printerInfo);
void GetStatusuiValue(UIAutoShutdownWnd* wnd, UIPrinterInfo* printerInfo, const char* buff);
int AddUIPrinterInfo2UIAutoShutdownWnd(UIAutoShutdownWnd* wnd, UIPrinterInfo* printerInfo);
void DestroyUIPrinterInfo(UIPrinterInfo* printerInfo);
