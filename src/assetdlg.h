// The auto shutdown settings dialog and the printer operations it runs.
#pragma once

#include "startcheck.h"

typedef struct UIASSetDlg {
    UIDialog dialog;
} UIASSetDlg;

extern const char* const AutoShutdownTimeTbl[9];

UIASSetDlg* CreateASSetDlg(UIDialog* parent);
void ShowASSetDlg(UIAutoShutdownWnd* wnd);
// The part of ShowASSetDlg before the dialog appears (checks, connection,
// reads, filling); TRUE when the dialog may be shown.
gboolean PrepareASSetDlg(UIAutoShutdownWnd* wnd);
void UpdateASSetDlgWidgets(UIAutoShutdownWnd* wnd, int active);
int ASSetDlgOK(UIAutoShutdownWnd* wnd);
void HideASSetDlg(UIAutoShutdownWnd* wnd);

// Printer operations on the window model's daemon connection.
char* SetLocaleString(UIAutoShutdownWnd* wnd);
int GetFirmVer(UIAutoShutdownWnd* wnd, char* firmVer);
int GetAutoShutdownTime(UIAutoShutdownWnd* wnd, unsigned short* timer);
int SetAutoShutdownTime(UIAutoShutdownWnd* wnd, unsigned short timer);
