#include "interface.h"

#include "callbacks.h"
#include "support.h"

// -------------------------------------------------------------- accessibility

// Ties a label to the widget it names for screen readers: the labelled-by
// and label-for relations (a label without a mnemonic keeps its text and
// takes no key), and the label's text as the widget's accessible name, since
// a table or a read-only entry has nothing of its own to be read by. The
// padding some labels carry for layout is no part of the name.
static void label_for(GtkWidget* label, GtkWidget* widget)
{
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), widget);
    gchar* name = g_strstrip(g_strdup(gtk_label_get_text(GTK_LABEL(label))));
    atk_object_set_name(gtk_widget_get_accessible(widget), name);
    g_free(name);
}

// ---------------------------------------------------------------- main window

// The main window: the printer list, the settings button and Exit. Built,
// connected and registered; shown later by start-up.
GtkWidget* create_ShutdownMain_Dialog(void)
{
    GtkWidget* ShutdownMain_Dialog = gtk_dialog_new();
    gtk_widget_set_size_request(ShutdownMain_Dialog, 522, 374);
    gtk_window_set_title(GTK_WINDOW(ShutdownMain_Dialog), _("Quellon"));
    gtk_window_set_position(GTK_WINDOW(ShutdownMain_Dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(ShutdownMain_Dialog), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(ShutdownMain_Dialog), GDK_WINDOW_TYPE_HINT_DIALOG);

    GtkWidget* vbox42 = GTK_DIALOG(ShutdownMain_Dialog)->vbox;
    gtk_widget_show(vbox42);

    GtkWidget* vbox43 = gtk_vbox_new(FALSE, 0);
    gtk_widget_show(vbox43);
    gtk_box_pack_start(GTK_BOX(vbox42), vbox43, TRUE, TRUE, 0);

    GtkWidget* vbox44 = gtk_vbox_new(TRUE, 0);
    gtk_widget_show(vbox44);
    gtk_box_pack_start(GTK_BOX(vbox43), vbox44, TRUE, TRUE, 0);

    GtkWidget* label161 =
        gtk_label_new(_("Select a printer, and then click [Auto Shutdown Settings]."));
    gtk_widget_show(label161);
    gtk_box_pack_start(GTK_BOX(vbox44), label161, FALSE, FALSE, 0);
    gtk_misc_set_alignment(GTK_MISC(label161), 0.0, 0.5);

    GtkWidget* label162 = gtk_label_new(_("Printer List:"));
    gtk_widget_show(label162);
    gtk_box_pack_start(GTK_BOX(vbox44), label162, FALSE, FALSE, 0);
    gtk_misc_set_alignment(GTK_MISC(label162), 0.0, 0.5);

    GtkWidget* ShutdownMainDlg_scrolledwindow = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_widget_show(ShutdownMainDlg_scrolledwindow);
    gtk_box_pack_start(GTK_BOX(vbox43), ShutdownMainDlg_scrolledwindow, TRUE, TRUE, 0);
    gtk_widget_set_size_request(ShutdownMainDlg_scrolledwindow, 78, 78);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(ShutdownMainDlg_scrolledwindow),
                                   GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);

    GtkWidget* ShutdownMainDlg_treeview = gtk_tree_view_new();
    gtk_widget_show(ShutdownMainDlg_treeview);
    gtk_container_add(GTK_CONTAINER(ShutdownMainDlg_scrolledwindow), ShutdownMainDlg_treeview);
    gtk_widget_set_size_request(ShutdownMainDlg_treeview, 105, 24);
    gtk_container_set_border_width(GTK_CONTAINER(ShutdownMainDlg_treeview), 1);
    gtk_tree_view_set_reorderable(GTK_TREE_VIEW(ShutdownMainDlg_treeview), TRUE);
    gtk_tree_view_set_enable_search(GTK_TREE_VIEW(ShutdownMainDlg_treeview), FALSE);
    gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(ShutdownMainDlg_treeview), TRUE);
    label_for(label162, ShutdownMainDlg_treeview);
    // The list inside always takes the focus, so the scrolled window itself
    // is never a stop on the Tab path; saying so keeps it from being
    // announced as a nameless focusable pane.
    gtk_widget_set_can_focus(ShutdownMainDlg_scrolledwindow, FALSE);

    GtkWidget* hbox63 = gtk_hbox_new(FALSE, 0);
    gtk_widget_show(hbox63);
    gtk_box_pack_end(GTK_BOX(vbox43), hbox63, TRUE, FALSE, 0);

    GtkWidget* ShutdownMainDlg_Set_button =
        gtk_button_new_with_mnemonic(_("Auto Shutdown Settings..."));
    gtk_widget_show(ShutdownMainDlg_Set_button);
    gtk_box_pack_end(GTK_BOX(hbox63), ShutdownMainDlg_Set_button, FALSE, FALSE, 0);
    gtk_widget_set_size_request(ShutdownMainDlg_Set_button, 245, -1);

    GtkWidget* hbuttonbox7 = GTK_DIALOG(ShutdownMain_Dialog)->action_area;
    gtk_widget_show(hbuttonbox7);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(hbuttonbox7), GTK_BUTTONBOX_END);

    GtkWidget* ShutdownMainDlg_Exit_button = gtk_button_new_with_mnemonic(_("Exit"));
    gtk_widget_show(ShutdownMainDlg_Exit_button);
    gtk_dialog_add_action_widget(GTK_DIALOG(ShutdownMain_Dialog), ShutdownMainDlg_Exit_button, 0);
    gtk_widget_set_can_default(ShutdownMainDlg_Exit_button, TRUE);

    g_signal_connect(ShutdownMain_Dialog, "delete_event",
                     G_CALLBACK(on_ShutdownMain_Dialog_delete_event), nullptr);
    g_signal_connect(ShutdownMain_Dialog, "destroy", G_CALLBACK(on_ShutdownMain_Dialog_destroy),
                     nullptr);
    g_signal_connect(ShutdownMainDlg_treeview, "cursor_changed",
                     G_CALLBACK(on_treeview1_cursor_changed), nullptr);
    g_signal_connect(ShutdownMainDlg_Set_button, "clicked",
                     G_CALLBACK(on_ShutdownMainDlg_Set_button_clicked), nullptr);
    g_signal_connect(ShutdownMainDlg_Exit_button, "clicked",
                     G_CALLBACK(on_ShutdownMainDlg_Exit_button_clicked), nullptr);

    hookup_object_no_ref(ShutdownMain_Dialog, ShutdownMain_Dialog, "ShutdownMain_Dialog");
    hookup_object_no_ref(ShutdownMain_Dialog, vbox42, "vbox42");
    hookup_object(ShutdownMain_Dialog, vbox43, "vbox43");
    hookup_object(ShutdownMain_Dialog, vbox44, "vbox44");
    hookup_object(ShutdownMain_Dialog, label161, "label161");
    hookup_object(ShutdownMain_Dialog, label162, "label162");
    hookup_object(ShutdownMain_Dialog, ShutdownMainDlg_scrolledwindow,
                  "ShutdownMainDlg_scrolledwindow");
    hookup_object(ShutdownMain_Dialog, ShutdownMainDlg_treeview, "ShutdownMainDlg_treeview");
    hookup_object(ShutdownMain_Dialog, hbox63, "hbox63");
    hookup_object(ShutdownMain_Dialog, ShutdownMainDlg_Set_button, "ShutdownMainDlg_Set_button");
    hookup_object_no_ref(ShutdownMain_Dialog, hbuttonbox7, "hbuttonbox7");
    hookup_object(ShutdownMain_Dialog, ShutdownMainDlg_Exit_button, "ShutdownMainDlg_Exit_button");

    return ShutdownMain_Dialog;
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

// The dialog's own action area, buttons at its end, holding a button box
// of its own laid out by `layout`. Returns that inner box; the action area
// goes to `*area`.
static GtkWidget* new_button_row(GtkWidget* dialog, GtkButtonBoxStyle layout, GtkWidget** area)
{
    *area = GTK_DIALOG(dialog)->action_area;
    gtk_widget_show(*area);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(*area), GTK_BUTTONBOX_END);

    GtkWidget* row = gtk_hbutton_box_new();
    gtk_widget_show(row);
    gtk_container_add(GTK_CONTAINER(*area), row);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(row), layout);
    return row;
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

// The left-aligned line of text that a message or a wait fills in.
static GtkWidget* new_text_label(GtkWidget* frame)
{
    GtkWidget* label = gtk_label_new("");
    gtk_widget_show(label);
    gtk_container_add(GTK_CONTAINER(frame), label);
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0.5);
    return label;
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

    GtkWidget* MsgDlg_label = new_text_label(frame55);

    GtkWidget* hbuttonbox10 = nullptr;
    GtkWidget* hbuttonbox11 = new_button_row(Msg_dialog, GTK_BUTTONBOX_SPREAD, &hbuttonbox10);

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

// A label of the period row: centred, 3 pixels of air on each side.
static GtkWidget* new_period_label(GtkWidget* box, const gchar* text)
{
    GtkWidget* label = gtk_label_new(text);
    gtk_widget_show(label);
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 0);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    gtk_misc_set_padding(GTK_MISC(label), 3, 0);
    return label;
}

// The settings window: the on/off check box, the period row (label, the
// classic combo with a read-only entry, "hr.") and OK/Cancel.
GtkWidget* create_ShutdownS_dialog(void)
{
    GtkWidget* ShutdownS_dialog = new_modal_dialog();
    gtk_window_set_title(GTK_WINDOW(ShutdownS_dialog), _("Auto Shutdown Settings"));

    GtkWidget* vbox45 = GTK_DIALOG(ShutdownS_dialog)->vbox;
    gtk_widget_show(vbox45);

    GtkWidget* frame54 = new_plain_frame(vbox45, 5);

    GtkWidget* vbox46 = gtk_vbox_new(FALSE, 0);
    gtk_widget_show(vbox46);
    gtk_container_add(GTK_CONTAINER(frame54), vbox46);

    GtkWidget* ShutdownSDlg_checkbutton =
        gtk_check_button_new_with_mnemonic(_("Auto Shutdown after Fixed Period"));
    gtk_widget_show(ShutdownSDlg_checkbutton);
    gtk_box_pack_start(GTK_BOX(vbox46), ShutdownSDlg_checkbutton, FALSE, FALSE, 0);

    GtkWidget* hbox64 = gtk_hbox_new(FALSE, 0);
    gtk_widget_show(hbox64);
    gtk_box_pack_start(GTK_BOX(vbox46), hbox64, TRUE, TRUE, 0);

    GtkWidget* label163 = new_period_label(hbox64, _("Auto Shutdown After:   "));

    GtkWidget* ShutdownSDlg_Time_combo = gtk_combo_new();
    // Lets a lookup that starts in the drop-down list climb to this window.
    g_object_set_data(G_OBJECT(GTK_COMBO(ShutdownSDlg_Time_combo)->popwin), "GladeParentKey",
                      ShutdownSDlg_Time_combo);
    gtk_widget_show(ShutdownSDlg_Time_combo);
    gtk_box_pack_start(GTK_BOX(hbox64), ShutdownSDlg_Time_combo, TRUE, TRUE, 0);
    GList* items = g_list_append(nullptr, const_cast<gchar*>(""));
    gtk_combo_set_popdown_strings(GTK_COMBO(ShutdownSDlg_Time_combo), items);
    g_list_free(items);

    GtkWidget* ShutdownSDlg_Time_combo_entry = GTK_COMBO(ShutdownSDlg_Time_combo)->entry;
    gtk_widget_show(ShutdownSDlg_Time_combo_entry);
    gtk_editable_set_editable(GTK_EDITABLE(ShutdownSDlg_Time_combo_entry), FALSE);

    GtkWidget* label165 = new_period_label(hbox64, _("hr."));
    label_for(label163, ShutdownSDlg_Time_combo_entry);
    atk_object_set_name(
        gtk_widget_get_accessible(ShutdownSDlg_Time_combo),
        atk_object_get_name(gtk_widget_get_accessible(ShutdownSDlg_Time_combo_entry)));

    GtkWidget* hbuttonbox8 = nullptr;
    GtkWidget* hbuttonbox9 = new_button_row(ShutdownS_dialog, GTK_BUTTONBOX_END, &hbuttonbox8);

    GtkWidget* ShutdownSDlg_OK_button = new_dialog_button(hbuttonbox9, _("OK"));
    GtkWidget* ShutdownSDlg_Cancel_button = new_dialog_button(hbuttonbox9, _("Cancel "));

    g_signal_connect(ShutdownS_dialog, "delete_event", G_CALLBACK(on_ShutdownS_dialog_delete_event),
                     nullptr);
    g_signal_connect(ShutdownSDlg_checkbutton, "toggled",
                     G_CALLBACK(on_ShutdownSDlg_checkbutton_toggled), nullptr);
    g_signal_connect(ShutdownSDlg_OK_button, "clicked",
                     G_CALLBACK(on_ShutdownSDlg_OK_button_clicked), nullptr);
    g_signal_connect(ShutdownSDlg_Cancel_button, "clicked",
                     G_CALLBACK(on_ShutdownSDlg_Cancel_button_clicked), nullptr);

    hookup_object_no_ref(ShutdownS_dialog, ShutdownS_dialog, "ShutdownS_dialog");
    hookup_object_no_ref(ShutdownS_dialog, vbox45, "vbox45");
    hookup_object(ShutdownS_dialog, frame54, "frame54");
    hookup_object(ShutdownS_dialog, vbox46, "vbox46");
    hookup_object(ShutdownS_dialog, ShutdownSDlg_checkbutton, "ShutdownSDlg_checkbutton");
    hookup_object(ShutdownS_dialog, hbox64, "hbox64");
    hookup_object(ShutdownS_dialog, label163, "label163");
    hookup_object(ShutdownS_dialog, ShutdownSDlg_Time_combo, "ShutdownSDlg_Time_combo");
    hookup_object(ShutdownS_dialog, ShutdownSDlg_Time_combo_entry, "ShutdownSDlg_Time_combo_entry");
    hookup_object(ShutdownS_dialog, label165, "label165");
    hookup_object_no_ref(ShutdownS_dialog, hbuttonbox8, "hbuttonbox8");
    hookup_object(ShutdownS_dialog, hbuttonbox9, "hbuttonbox9");
    hookup_object(ShutdownS_dialog, ShutdownSDlg_OK_button, "ShutdownSDlg_OK_button");
    hookup_object(ShutdownS_dialog, ShutdownSDlg_Cancel_button, "ShutdownSDlg_Cancel_button");
    return ShutdownS_dialog;
}

// ---------------------------------------------------------------- wait window

// The window shown while the daemon takes its time: one line saying which
// printer is being reached, and Cancel. Its text is set for each wait.
GtkWidget* create_Wait_dialog(void)
{
    GtkWidget* Wait_dialog = new_modal_dialog();
    gtk_window_set_title(GTK_WINDOW(Wait_dialog), _("Please Wait"));
    gtk_window_set_position(GTK_WINDOW(Wait_dialog), GTK_WIN_POS_CENTER_ON_PARENT);

    GtkWidget* vbox48 = GTK_DIALOG(Wait_dialog)->vbox;
    gtk_widget_show(vbox48);

    GtkWidget* frame56 = new_plain_frame(vbox48, 15);

    GtkWidget* WaitDlg_label = new_text_label(frame56);

    GtkWidget* hbuttonbox12 = nullptr;
    GtkWidget* hbuttonbox13 = new_button_row(Wait_dialog, GTK_BUTTONBOX_SPREAD, &hbuttonbox12);

    GtkWidget* WaitDlg_Cancel_button = new_dialog_button(hbuttonbox13, _("Cancel "));

    g_signal_connect(Wait_dialog, "delete_event", G_CALLBACK(on_Wait_dialog_delete_event), nullptr);
    g_signal_connect(Wait_dialog, "key_press_event", G_CALLBACK(on_Wait_dialog_key_press_event),
                     nullptr);
    g_signal_connect(WaitDlg_Cancel_button, "clicked", G_CALLBACK(on_WaitDlg_Cancel_button_clicked),
                     nullptr);

    hookup_object_no_ref(Wait_dialog, Wait_dialog, "Wait_dialog");
    hookup_object_no_ref(Wait_dialog, vbox48, "vbox48");
    hookup_object(Wait_dialog, frame56, "frame56");
    hookup_object(Wait_dialog, WaitDlg_label, "WaitDlg_label");
    hookup_object_no_ref(Wait_dialog, hbuttonbox12, "hbuttonbox12");
    hookup_object(Wait_dialog, hbuttonbox13, "hbuttonbox13");
    hookup_object(Wait_dialog, WaitDlg_Cancel_button, "WaitDlg_Cancel_button");
    return Wait_dialog;
}
