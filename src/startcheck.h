// The window model (one per process), the discovered printer records and
// the table of supported printer models.
#pragma once

#include "dialog.h"

struct vxskt_module_s;
struct UIMsgDlg;
struct UIASSetDlg;

enum { PRINTER_TEXT_SIZE = 256, PRINTERS_MAX = 64 };

typedef struct UIPrinterInfo {
    char printerName[PRINTER_TEXT_SIZE];
    char modelName[PRINTER_TEXT_SIZE];
    char driverVersion[PRINTER_TEXT_SIZE];
} UIPrinterInfo;

typedef struct FirmVer {
    const char* modelName;
    const char* minFirmVersion;
} FirmVer;

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

extern const FirmVer firmVersions[6];

// Defined in the program's main module.
extern UIAutoShutdownWnd* g_autoshutdown_window;

UIAutoShutdownWnd* CreateAutoShutdownWnd(void);
void DisposeAutoShutdownWnd(void);

const char* GetASModelName(int i);
const char* GetASFirmVersion(int i);
const char* GetMinFirmVersion(const char* modelName);

void mem_free(void* pointer);

// The steps of CreateAutoShutdownWnd that can fail. Production code uses
// the real ones; tests replace one to make it fail.
typedef struct StartupSteps {
    UIDialog* (*create_dialog)(int size, UIDialog* parent);
    int (*get_printers_info)(UIAutoShutdownWnd* wnd);
    GtkWidget* (*create_main_window)(void);
    int (*set_tree_view)(UIAutoShutdownWnd* wnd);
} StartupSteps;
extern StartupSteps g_startup_steps;
