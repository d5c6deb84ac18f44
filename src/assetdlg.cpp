#include "assetdlg.h"

// --------------------------------------------------------- printer operations

// ------------------------------------------------------------ settings dialog

// Placeholder until the settings dialog lands.
UIASSetDlg* CreateASSetDlg(UIDialog*)
{
    return nullptr;
}

void ShowASSetDlg(UIAutoShutdownWnd*) {}
