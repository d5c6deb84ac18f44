#include "callbacks.h"

#include <cstring>

#include "assetdlg.h"
#include "daemonwait.h"
#include "msgdlg.h"
#include "startcheck.h"
#include "support.h"
#include "widgets.h"

// ---------------------------------------------------------------- main window

// The window manager's close request ends the program like Exit; the
// window itself stays until the process ends.
gboolean on_ShutdownMain_Dialog_delete_event(GtkWidget*, GdkEvent*, gpointer)
{
    DisposeAutoShutdownWnd();
    return TRUE;
}

// The main window is never destroyed by the program.
void on_ShutdownMain_Dialog_destroy(GtkObject*, gpointer) {}

// Opens the settings dialog for the selected printer.
void on_ShutdownMainDlg_Set_button_clicked(GtkButton*, gpointer)
{
    if (g_autoshutdown_window)
        ShowASSetDlg(g_autoshutdown_window);
}

// Ends the program.
void on_ShutdownMainDlg_Exit_button_clicked(GtkButton*, gpointer)
{
    DisposeAutoShutdownWnd();
}

// Remembers the selected row's names and enables the settings button. The
// queue's own bytes, not the name as shown: those reach the daemon.
void on_treeview1_cursor_changed(GtkTreeView* treeview, gpointer)
{
    UIAutoShutdownWnd* wnd = g_autoshutdown_window;
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!wnd ||
        !gtk_tree_selection_get_selected(gtk_tree_view_get_selection(treeview), &model, &iter))
        return;
    gchar* printer = nullptr;
    gchar* product = nullptr;
    gtk_tree_model_get(model, &iter, PRINTER_LIST_QUEUE, &printer, PRINTER_LIST_MODEL, &product,
                       -1);
    // Zero-filled, so that no byte of a longer earlier name survives.
    std::memset(wnd->selectedPrinterName, 0, sizeof(wnd->selectedPrinterName));
    std::memset(wnd->selectedModelName, 0, sizeof(wnd->selectedModelName));
    g_strlcpy(wnd->selectedPrinterName, printer ? printer : "", sizeof(wnd->selectedPrinterName));
    g_strlcpy(wnd->selectedModelName, product ? product : "", sizeof(wnd->selectedModelName));
    SetWidgetSensitive(wnd->dialog.window, "ShutdownMainDlg_Set_button", TRUE);
    g_free(printer);
    g_free(product);
}

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

// Only the user's toggling moves the period row; the dialog's own filling
// runs with the handlers suppressed.
void on_ShutdownSDlg_checkbutton_toggled(GtkToggleButton* togglebutton, gpointer)
{
    if (SigDisable())
        UpdateASSetDlgWidgets(g_autoshutdown_window, gtk_toggle_button_get_active(togglebutton));
    SigEnable();
}

void on_ShutdownSDlg_OK_button_clicked(GtkButton*, gpointer)
{
    if (ASSetDlgOK(g_autoshutdown_window) == 1)
        HideASSetDlg(g_autoshutdown_window);
}

void on_ShutdownSDlg_Cancel_button_clicked(GtkButton*, gpointer)
{
    HideASSetDlg(g_autoshutdown_window);
}

// The close button acts as Cancel; the window is kept for the next opening.
gboolean on_ShutdownS_dialog_delete_event(GtkWidget*, GdkEvent*, gpointer)
{
    HideASSetDlg(g_autoshutdown_window);
    return TRUE;
}

// ---------------------------------------------------------------- wait window

// Every way of closing the wait window gives the wait up; the window stays
// for the next wait.
gboolean on_Wait_dialog_delete_event(GtkWidget*, GdkEvent*, gpointer)
{
    CancelWaitDlg(ASSetWaitDlg(g_autoshutdown_window));
    return TRUE;
}

gboolean on_Wait_dialog_key_press_event(GtkWidget*, GdkEventKey* event, gpointer)
{
    return WaitDlgKeyPress(ASSetWaitDlg(g_autoshutdown_window), event->keyval);
}

void on_WaitDlg_Cancel_button_clicked(GtkButton*, gpointer)
{
    CancelWaitDlg(ASSetWaitDlg(g_autoshutdown_window));
}
