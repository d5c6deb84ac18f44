// The auto shutdown settings dialog and the printer operations it runs.
#pragma once

#include "daemonwait.h"

struct UIAutoShutdownWnd;

typedef struct UIASSetDlg {
    UIDialog dialog;
    UIWaitDlg wait;  // shown while an opening or OK waits on the daemon
} UIASSetDlg;

extern const char* const AutoShutdownTimeTbl[];

UIASSetDlg* CreateASSetDlg(UIDialog* parent);
void ShowASSetDlg(UIAutoShutdownWnd* wnd);
// The part of ShowASSetDlg before the dialog appears (checks, connection,
// reads, filling); TRUE when the dialog may be shown.
gboolean PrepareASSetDlg(UIAutoShutdownWnd* wnd);
void UpdateASSetDlgWidgets(UIAutoShutdownWnd* wnd, int active);
int ASSetDlgOK(UIAutoShutdownWnd* wnd);
void HideASSetDlg(UIAutoShutdownWnd* wnd);
UIWaitDlg* ASSetWaitDlg(UIAutoShutdownWnd* wnd);

// Printer operations on the window model's daemon connection.
char* SetLocaleString(UIAutoShutdownWnd* wnd);
int GetFirmVer(UIAutoShutdownWnd* wnd, char* firmVer);
int GetAutoShutdownTime(UIAutoShutdownWnd* wnd, unsigned short* timer);
int SetAutoShutdownTime(UIAutoShutdownWnd* wnd, unsigned short timer);
