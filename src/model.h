// The records both programs share (a discovered printer, the window model)
// and the table of supported printer models. Nothing here needs the
// toolkit: the command-line program links it on machines without X.
#pragma once

#include "dialog_header.h"

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

// Defined by each program's main module; the command line has no window
// model and keeps it null.
extern UIAutoShutdownWnd* g_autoshutdown_window;

const char* GetASModelName(int i);
const char* GetASFirmVersion(int i);
const char* GetMinFirmVersion(const char* modelName);
// Whether `model` is one of the supported models, compared byte for byte:
// the filter of the printer list.
bool IsSupportedModel(const char* model);

void mem_free(void* pointer);
