// Start-up and teardown of the window model (one per process).
#pragma once

#include "dialog.h"
#include "model.h"

struct vxskt_module_s;
struct UIMsgDlg;
struct UIASSetDlg;

// The window model holds at most this many printer records.
enum { PRINTERS_MAX = 64 };

typedef struct UIAutoShutdownWnd {
    UIDialog dialog;
    struct UIMsgDlg* msg_dlg;
    struct UIASSetDlg* asset_dlg;
    char* tocode;
    char* fromcode;
    int printers_num;
    struct vxskt_module_s* pVxskt;
    UIPrinterInfo* printersInfo[PRINTERS_MAX];
    char selectedPrinterName[PRINTER_TEXT_SIZE];
    char selectedModelName[PRINTER_TEXT_SIZE];
} UIAutoShutdownWnd;

// The one window model of the process, null before start-up and after the
// end; every signal handler works on it.
extern UIAutoShutdownWnd* g_autoshutdown_window;

UIAutoShutdownWnd* CreateAutoShutdownWnd(void);
void DisposeAutoShutdownWnd(void);

// The steps of CreateAutoShutdownWnd that can fail. Production code uses
// the real ones; tests replace one to make it fail.
typedef struct StartupSteps {
    UIDialog* (*create_dialog)(int size, UIDialog* parent);
    int (*get_printers_info)(UIAutoShutdownWnd* wnd);
    GtkWidget* (*create_main_window)(void);
    int (*set_tree_view)(UIAutoShutdownWnd* wnd);
} StartupSteps;
extern StartupSteps g_startup_steps;
