#include "ppddata.h"

// Placeholder until discovery lands.
int GetPrintersInfo(UIAutoShutdownWnd*)
{
    return 0;
}

UIPrinterInfo* GetUIPrinterInfo(UIAutoShutdownWnd*, const char*)
{
    return nullptr;
}

void DestroyPrintersInfo(UIAutoShutdownWnd*) {}
