#include "startcheck.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "assetdlg.h"
#include "interface.h"
#include "msgdlg.h"
#include "ppddata.h"
#include "support.h"
#include "vxsktmodule.h"
#include "widgets.h"

// The supported models and the lowest firmware each one needs for its
// auto shutdown setting.
constexpr FirmVer firmVersions[6] = {
    {"Brelko M210", "01.00"},
    {"Brelko M220", "01.01"},
    {"Brelko M230", "01.00"},
    {"Brelko M240C/M248C", "01.03"},
    {"Brelko M250C", "01.00"},
    {nullptr, nullptr},
};
static_assert(firmVersions[std::size(firmVersions) - 1].modelName == nullptr,
              "the model table ends with a null row");

StartupSteps g_startup_steps = {
    CreateDialog,
    GetPrintersInfo,
    create_ShutdownMain_Dialog,
    SetTreeViewWidget,
};

namespace {

// Says on standard error why the program cannot start.
void ReportStartupFailure(const char* what)
{
    std::fprintf(stderr, "quellon: %s\n", what);
}

// Releases a window model whose start-up stopped half way.
void DisposePartialWnd(UIAutoShutdownWnd* wnd)
{
    DestroyPrintersInfo(wnd);
    if (wnd->dialog.window)
        gtk_widget_destroy(wnd->dialog.window);
    DisposeDialog(&wnd->dialog);
}

}  // namespace

// Builds the window model: the printers, the main window with its list,
// and the two dialogs (hidden). Null when start-up cannot go on; the reason
// has then been written to standard error.
UIAutoShutdownWnd* CreateAutoShutdownWnd(void)
{
    auto* wnd = reinterpret_cast<UIAutoShutdownWnd*>(
        g_startup_steps.create_dialog(sizeof(UIAutoShutdownWnd), nullptr));
    if (!wnd) {
        ReportStartupFailure(_("cannot allocate the window model"));
        return nullptr;
    }
    std::memset(static_cast<void*>(wnd), 0, sizeof(*wnd));
    wnd->dialog.size = sizeof(*wnd);

    // Discovery says itself which queue it could not read.
    if (g_startup_steps.get_printers_info(wnd) < 0) {
        DisposePartialWnd(wnd);
        return nullptr;
    }
    wnd->dialog.window = g_startup_steps.create_main_window();
    if (!wnd->dialog.window) {
        ReportStartupFailure(_("cannot create the main window"));
        DisposePartialWnd(wnd);
        return nullptr;
    }
    if (!g_startup_steps.set_tree_view(wnd)) {
        ReportStartupFailure(_("cannot create the printer list"));
        DisposePartialWnd(wnd);
        return nullptr;
    }
    SetWidgetSensitive(wnd->dialog.window, "ShutdownMainDlg_Set_button", FALSE);
    wnd->asset_dlg = CreateASSetDlg(&wnd->dialog);
    wnd->msg_dlg = CreateMsgDlg(&wnd->dialog);
    return wnd;
}

// Releases everything the window model owns, but not the model itself, and
// ends the outer main loop.
void DisposeAutoShutdownWnd(void)
{
    UIAutoShutdownWnd* wnd = g_autoshutdown_window;
    if (!wnd)
        return;
    mem_free(wnd->tocode);
    wnd->tocode = nullptr;
    mem_free(wnd->fromcode);
    wnd->fromcode = nullptr;
    DestroyPrintersInfo(wnd);
    if (wnd->pVxskt) {
        vxsktDestroy(wnd->pVxskt);
        wnd->pVxskt = nullptr;
    }
    DisposeDialog(reinterpret_cast<UIDialog*>(wnd->msg_dlg));
    wnd->msg_dlg = nullptr;
    DisposeDialog(reinterpret_cast<UIDialog*>(wnd->asset_dlg));
    wnd->asset_dlg = nullptr;
    if (gtk_main_level() > 0)
        gtk_main_quit();
}

// The model name of table row `i`; null for the end row and beyond.
const char* GetASModelName(int i)
{
    if (i < 0 || i >= static_cast<int>(std::size(firmVersions)))
        return nullptr;
    return firmVersions[i].modelName;
}

// The minimum firmware version of table row `i`; null for the end row and
// beyond.
const char* GetASFirmVersion(int i)
{
    if (i < 0 || i >= static_cast<int>(std::size(firmVersions)))
        return nullptr;
    return firmVersions[i].minFirmVersion;
}

// The minimum firmware version of `modelName`, or null for a model that is
// not supported.
const char* GetMinFirmVersion(const char* modelName)
{
    if (!modelName)
        return nullptr;
    for (int i = 0; const char* name = GetASModelName(i); ++i) {
        if (std::strcmp(name, modelName) == 0)
            return GetASFirmVersion(i);
    }
    return nullptr;
}

// Frees a heap block; null is ignored.
void mem_free(void* pointer)
{
    std::free(pointer);
}
