#include "startcheck.h"

#include <cstdio>
#include <cstring>

#include "assetdlg.h"
#include "interface.h"
#include "msgdlg.h"
#include "ppddata.h"
#include "support.h"
#include "vxsktmodule.h"
#include "widgets.h"

UIAutoShutdownWnd* g_autoshutdown_window = nullptr;

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
