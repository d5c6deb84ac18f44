#include "msgdlg.h"

#include <cstdio>

#include "interface.h"
#include "startcheck.h"
#include "support.h"
#include "widgets.h"

namespace {

// The only button set in use: OK alone.
constexpr int kButtonsOK = 1;

// Looks `type` up in the table; null when it has no row.
const MsgTable* FindMessage(int type)
{
    for (const MsgTable* row = msg_table; row->type != MSG_NONE; ++row) {
        if (row->type == type)
            return row;
    }
    return nullptr;
}

UIMsgDlg* MsgDialogOf(UIAutoShutdownWnd* wnd)
{
    return wnd ? wnd->msg_dlg : nullptr;
}

}  // namespace

// The texts are their own catalogue keys, so they stay literal and whole.
const MsgTable msg_table[] = {
    {MSG_SOCKET_ERROR,
     N_("A socket communication error occurred.\n"
        "Start the zeld daemon and try the operation again."),
     N_("Warning"), kButtonsOK},
    {MSG_PRINTER_INFO_FAILED,
     N_("Could not acquire the printer information.\n"
        "This may be due to one or more of the following reasons:\n"
        "\n"
        "-The printer is not turned on\n"
        "-The cable is not properly connected\n"
        "-The printer is busy\n"
        "\n"
        "Check the printer status and try again."),
     N_("Warning"), kButtonsOK},
    {MSG_SETTING_FAILED,
     N_("Could not perform auto shutdown settings.\n"
        "This may be due to one or more of the following reasons:\n"
        "\n"
        "-The printer is not turned on\n"
        "-The cable is not properly connected\n"
        "-The printer is busy\n"
        "\n"
        "Check the printer status and try again."),
     N_("Warning"), kButtonsOK},
    {MSG_FIRMWARE_UNSUPPORTED, N_("The firmware version of the selected printer is not supported."),
     N_("Warning"), kButtonsOK},
    {MSG_DRIVER_UNSUPPORTED,
     N_("The driver version of the selected printer is not supported.\n"
        "Use driver version 2.56 or later."),
     N_("Warning"), kButtonsOK},
    {MSG_SETTING_SENT,
     N_("The new auto shutdown setting was sent to the printer,\n"
        "but its answer was not awaited: the printer may have applied it.\n"
        "Open the settings again to see what the printer holds."),
     N_("Warning"), kButtonsOK},
    {MSG_NONE, nullptr, nullptr, -1},
};

// Makes the warning dialog record and its hidden window.
UIMsgDlg* CreateMsgDlg(UIDialog* parent)
{
    auto* dlg = reinterpret_cast<UIMsgDlg*>(CreateDialog(sizeof(UIMsgDlg), parent));
    if (!dlg)
        return nullptr;
    dlg->type = -1;
    dlg->dialog.window = create_Msg_dialog();
    if (!dlg->dialog.window) {
        DisposeDialog(&dlg->dialog);
        return nullptr;
    }
    return dlg;
}

// Puts the title, text and buttons of `type` into the window; an unknown
// type leaves everything as it was.
void UpdateMsgDlgWidgets(UIAutoShutdownWnd* wnd, int type)
{
    UIMsgDlg* dlg = MsgDialogOf(wnd);
    const MsgTable* row = FindMessage(type);
    if (!dlg || !row)
        return;
    GtkWidget* window = dlg->dialog.window;
    SetDialogTitle(window, _(row->title));
    SetTextToLabel(window, "MsgDlg_label", _(row->message));
    // A screen reader announces a dialog by its title and description.
    atk_object_set_description(gtk_widget_get_accessible(window), _(row->message));
    if (row->btn_type == kButtonsOK)
        HideWidget(window, "MsgDlg_Cancel_button");
    dlg->type = type;
}

// Shows warning `type` over the main window and returns once it is dismissed.
void ShowMsgDlg(UIAutoShutdownWnd* wnd, int type)
{
    UIMsgDlg* dlg = MsgDialogOf(wnd);
    if (!dlg) {
        // No window to show it in: the terminal is the closest place left.
        if (const MsgTable* row = FindMessage(type))
            std::fprintf(stderr, "%s: %s\n", _(row->title), _(row->message));
        return;
    }
    SigDisable();
    UpdateMsgDlgWidgets(wnd, type);
    SigEnable();
    if (dlg->dialog.parent && dlg->dialog.parent->window)
        gtk_window_set_transient_for(GTK_WINDOW(dlg->dialog.window),
                                     GTK_WINDOW(dlg->dialog.parent->window));
    ShowDialog(&dlg->dialog);
}

// Hides the warning and ends the nested loop of its ShowMsgDlg.
void HideMsgDlg(UIAutoShutdownWnd* wnd)
{
    UIMsgDlg* dlg = MsgDialogOf(wnd);
    if (dlg)
        HideDialog(&dlg->dialog);
}

void MsgDlgOK(UIAutoShutdownWnd* wnd)
{
    HideMsgDlg(wnd);
}

void MsgDlgCancel(UIAutoShutdownWnd* wnd)
{
    HideMsgDlg(wnd);
}
