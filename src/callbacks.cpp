#include "callbacks.h"

#include "msgdlg.h"
#include "widgets.h"

// ---------------------------------------------------------------- main window

// ------------------------------------------------------------- message dialog

void on_MsgDlg_OK_button_clicked(GtkButton*, gpointer)
{
    MsgDlgOK(g_autoshutdown_window);
}

void on_MsgDlg_Cancel_button_clicked(GtkButton*, gpointer)
{
    MsgDlgCancel(g_autoshutdown_window);
}

// Hidden, never destroyed: the next message reuses the window.
gboolean on_Msg_dialog_delete_event(GtkWidget*, GdkEvent*, gpointer)
{
    HideMsgDlg(g_autoshutdown_window);
    return TRUE;
}

// ------------------------------------------------------------ settings dialog
