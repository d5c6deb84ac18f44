#include "msgdlg.h"

// Placeholder until the message dialog lands.
UIMsgDlg* CreateMsgDlg(UIDialog*)
{
    return nullptr;
}

void ShowMsgDlg(UIAutoShutdownWnd*, int) {}
