// The warning dialog and its fixed table of five messages.
#pragma once

#include "startcheck.h"

typedef struct MsgTable {
    int type;
    const char* message;
    const char* title;
    int btn_type;
} MsgTable;

extern const MsgTable msg_table[6];

typedef struct UIMsgDlg {
    UIDialog dialog;
    int type;
} UIMsgDlg;

UIMsgDlg* CreateMsgDlg(UIDialog* parent);
void ShowMsgDlg(UIAutoShutdownWnd* wnd, int type);
void UpdateMsgDlgWidgets(UIAutoShutdownWnd* wnd, int type);
void HideMsgDlg(UIAutoShutdownWnd* wnd);
void MsgDlgOK(UIAutoShutdownWnd* wnd);
void MsgDlgCancel(UIAutoShutdownWnd* wnd);
