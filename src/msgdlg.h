// The warning dialog and its fixed table of five messages.
#pragma once

#include "dialog_header.h"

struct UIAutoShutdownWnd;

// The warnings, by the type ShowMsgDlg takes; MSG_NONE is no warning (and
// ends the message table).
enum {
    MSG_NONE = -1,
    MSG_SOCKET_ERROR = 0,
    MSG_PRINTER_INFO_FAILED = 1,
    MSG_SETTING_FAILED = 2,
    MSG_FIRMWARE_UNSUPPORTED = 3,
    MSG_DRIVER_UNSUPPORTED = 4,
    // The user gave up the wait of OK after the new timer had been sent.
    MSG_SETTING_SENT = 5,
};

typedef struct MsgTable {
    int type;
    const char* message;
    const char* title;
    int btn_type;
} MsgTable;

extern const MsgTable msg_table[];

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
