// Every signal handler of the three windows.
#pragma once

#include <gtk/gtk.h>

gboolean on_ShutdownMain_Dialog_delete_event(GtkWidget* widget, GdkEvent* event,
                                             gpointer user_data);
void on_ShutdownMain_Dialog_destroy(GtkObject* object, gpointer user_data);
void on_ShutdownMainDlg_Set_button_clicked(GtkButton* button, gpointer user_data);
void on_ShutdownMainDlg_Exit_button_clicked(GtkButton* button, gpointer user_data);
void on_treeview1_cursor_changed(GtkTreeView* treeview, gpointer user_data);

gboolean on_Msg_dialog_delete_event(GtkWidget* widget, GdkEvent* event, gpointer user_data);
void on_MsgDlg_OK_button_clicked(GtkButton* button, gpointer user_data);
void on_MsgDlg_Cancel_button_clicked(GtkButton* button, gpointer user_data);

gboolean on_ShutdownS_dialog_delete_event(GtkWidget* widget, GdkEvent* event, gpointer user_data);
void on_ShutdownSDlg_checkbutton_toggled(GtkToggleButton* togglebutton, gpointer user_data);
void on_ShutdownSDlg_OK_button_clicked(GtkButton* button, gpointer user_data);
void on_ShutdownSDlg_Cancel_button_clicked(GtkButton* button, gpointer user_data);

gboolean on_Wait_dialog_delete_event(GtkWidget* widget, GdkEvent* event, gpointer user_data);
gboolean on_Wait_dialog_key_press_event(GtkWidget* widget, GdkEventKey* event, gpointer user_data);
void on_WaitDlg_Cancel_button_clicked(GtkButton* button, gpointer user_data);
