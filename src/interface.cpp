#include "interface.h"

#include "callbacks.h"
#include "support.h"

// ---------------------------------------------------------------- main window

GtkWidget* create_ShutdownMain_Dialog(void)
{
    return nullptr;
}

// ------------------------------------------------------------- message dialog

// The frame of both dialogs: modal, fixed size, placed at the pointer, not
// shown yet.
static GtkWidget* new_modal_dialog(void)
{
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_MOUSE);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(dialog), GDK_WINDOW_TYPE_HINT_DIALOG);
    return dialog;
}

// A push button that may become the default, added to `box` and shown.
static GtkWidget* new_dialog_button(GtkWidget* box, const gchar* label)
{
    GtkWidget* button = gtk_button_new_with_mnemonic(label);
    gtk_widget_show(button);
    gtk_container_add(GTK_CONTAINER(box), button);
    GTK_WIDGET_SET_FLAGS(button, GTK_CAN_DEFAULT);
    return button;
}

// A frame without label and shadow, packed to fill `box`.
static GtkWidget* new_plain_frame(GtkWidget* box, guint border)
{
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_widget_show(frame);
    gtk_box_pack_start(GTK_BOX(box), frame, TRUE, TRUE, 0);
    gtk_container_set_border_width(GTK_CONTAINER(frame), border);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_NONE);
    return frame;
}

// The warning window: one label and the OK and Cancel buttons. Each message
// sets the title and the text.
GtkWidget* create_Msg_dialog(void)
{
    GtkWidget* Msg_dialog = new_modal_dialog();
    gtk_window_set_default_size(GTK_WINDOW(Msg_dialog), 200, 130);

    GtkWidget* vbox47 = GTK_DIALOG(Msg_dialog)->vbox;
    gtk_widget_show(vbox47);

    GtkWidget* frame55 = new_plain_frame(vbox47, 15);

    GtkWidget* MsgDlg_label = gtk_label_new("");
    gtk_widget_show(MsgDlg_label);
    gtk_container_add(GTK_CONTAINER(frame55), MsgDlg_label);
    gtk_misc_set_alignment(GTK_MISC(MsgDlg_label), 0, 0.5);

    GtkWidget* hbuttonbox10 = GTK_DIALOG(Msg_dialog)->action_area;
    gtk_widget_show(hbuttonbox10);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(hbuttonbox10), GTK_BUTTONBOX_END);

    GtkWidget* hbuttonbox11 = gtk_hbutton_box_new();
    gtk_widget_show(hbuttonbox11);
    gtk_container_add(GTK_CONTAINER(hbuttonbox10), hbuttonbox11);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(hbuttonbox11), GTK_BUTTONBOX_SPREAD);

    GtkWidget* MsgDlg_OK_button = new_dialog_button(hbuttonbox11, _("OK"));
    GtkWidget* MsgDlg_Cancel_button = new_dialog_button(hbuttonbox11, _("Cancel "));

    g_signal_connect(Msg_dialog, "delete_event", G_CALLBACK(on_Msg_dialog_delete_event), nullptr);
    g_signal_connect(MsgDlg_OK_button, "clicked", G_CALLBACK(on_MsgDlg_OK_button_clicked), nullptr);
    g_signal_connect(MsgDlg_Cancel_button, "clicked", G_CALLBACK(on_MsgDlg_Cancel_button_clicked),
                     nullptr);

    hookup_object_no_ref(Msg_dialog, Msg_dialog, "Msg_dialog");
    hookup_object_no_ref(Msg_dialog, vbox47, "vbox47");
    hookup_object(Msg_dialog, frame55, "frame55");
    hookup_object(Msg_dialog, MsgDlg_label, "MsgDlg_label");
    hookup_object_no_ref(Msg_dialog, hbuttonbox10, "hbuttonbox10");
    hookup_object(Msg_dialog, hbuttonbox11, "hbuttonbox11");
    hookup_object(Msg_dialog, MsgDlg_OK_button, "MsgDlg_OK_button");
    hookup_object(Msg_dialog, MsgDlg_Cancel_button, "MsgDlg_Cancel_button");
    return Msg_dialog;
}

// ------------------------------------------------------------ settings dialog

GtkWidget* create_ShutdownS_dialog(void)
{
    return nullptr;
}
