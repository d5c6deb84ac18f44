#include "widgets.h"

#include <cstring>

#include "startcheck.h"
#include "support.h"

namespace {

// Open suppressed sections; never negative.
int32_t g_curr_signal = 0;

}  // namespace

// ------------------------------------------------------- signal suppression

// Starts the counter with no section open.
void SigInit(void)
{
    g_curr_signal = 0;
}

// Opens a suppressed section; TRUE when it is the only one, i.e. when the
// signal being handled came from the user.
gboolean SigDisable(void)
{
    return g_curr_signal++ == 0 ? TRUE : FALSE;
}

// Closes a suppressed section; an unmatched call leaves the counter at 0.
gboolean SigEnable(void)
{
    if (g_curr_signal > 0) {
        --g_curr_signal;
        return FALSE;
    }
    return TRUE;
}

// ----------------------------------------------------------- by-name helpers

// The widget registered under `name` on the top-level of `window`.
GtkWidget* getWidget(GtkWidget* window, const gchar* name)
{
    return lookup_widget(window, name);
}

// Sets the title of `window` itself.
void SetDialogTitle(GtkWidget* window, const gchar* title)
{
    if (title)
        gtk_window_set_title(GTK_WINDOW(window), title);
}

// Makes a named widget sensitive or insensitive.
void SetWidgetSensitive(GtkWidget* window, const gchar* widgetname, gboolean value)
{
    gtk_widget_set_sensitive(getWidget(window, widgetname), value);
}

// Sets the state of a named toggle button.
void SetActiveCheckButton(GtkWidget* window, const gchar* button_name, gboolean on)
{
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(getWidget(window, button_name)), on);
}

// Sets the text of a named label; the label keeps its own copy.
void SetTextToLabel(GtkWidget* window, const gchar* label_name, const gchar* text)
{
    gtk_label_set_text(GTK_LABEL(getWidget(window, label_name)), text);
}

// The state of a named toggle button; FALSE when it is not registered.
gboolean GetToggleButtonActive(GtkWidget* window, const gchar* button_name)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(getWidget(window, button_name)));
}

// Shows a named widget if it is registered.
void ShowWidget(GtkWidget* window, const gchar* widget_name)
{
    if (GtkWidget* widget = getWidget(window, widget_name))
        gtk_widget_show(widget);
}

// Hides a named widget if it is registered.
void HideWidget(GtkWidget* window, const gchar* widget_name)
{
    if (GtkWidget* widget = getWidget(window, widget_name))
        gtk_widget_hide(widget);
}

namespace {

// The named combo, or null (after the lookup's warning) when the name is
// not a registered combo.
GtkCombo* GetCombo(GtkWidget* window, const gchar* combo_name)
{
    GtkWidget* widget = getWidget(window, combo_name);
    return widget && GTK_IS_COMBO(widget) ? GTK_COMBO(widget) : nullptr;
}

}  // namespace

// Connects `sig_func` to every event of the combo's drop-down window.
void ComboSignalConnect(GtkWidget* window, const gchar* combo_name, GtkSignalFunc sig_func)
{
    GtkCombo* combo = GetCombo(window, combo_name);
    if (!combo)
        return;
    gtk_widget_realize(GTK_WIDGET(combo));
    g_signal_connect(combo->popwin, "event", G_CALLBACK(sig_func), nullptr);
}

// Replaces the combo's drop-down strings by `glist` and puts `curr_name`
// into its entry; with neither given the combo stays as it is.
void SetGListToCombo(GtkWidget* window, GList* glist, const gchar* combo_name,
                     const gchar* curr_name)
{
    if (!glist && !curr_name)
        return;
    GtkCombo* combo = GetCombo(window, combo_name);
    if (!combo)
        return;
    gtk_combo_set_popdown_strings(combo, glist);
    gtk_entry_set_text(GTK_ENTRY(combo->entry), curr_name ? curr_name : "");
}

// The text of a named entry, owned by the entry.
const gchar* GetCurrComboText(GtkWidget* window, const gchar* combo_entry_name)
{
    return gtk_entry_get_text(GTK_ENTRY(getWidget(window, combo_entry_name)));
}

// --------------------------------------------------------------- printer list

namespace {

// A valid UTF-8 rendering of a queue name. CUPS accepts names in any
// encoding, the toolkit shows only UTF-8; a byte that is not part of a
// valid sequence shows as \xNN, so that two such names still look apart.
gchar* ShownName(const char* name)
{
    GString* shown = g_string_new(nullptr);
    const char* end = name + std::strlen(name);
    for (const char* p = name; p < end;) {
        const gchar* valid_end = p;
        g_utf8_validate(p, end - p, &valid_end);
        g_string_append_len(shown, p, valid_end - p);
        if (valid_end == end)
            break;
        g_string_append_printf(shown, "\\x%02X", static_cast<unsigned char>(*valid_end));
        p = valid_end + 1;
    }
    return g_string_free(shown, FALSE);
}

// A list of the supported printers, in discovery order.
GtkListStore* create_model(const UIAutoShutdownWnd* wnd)
{
    GtkListStore* store =
        gtk_list_store_new(PRINTER_LIST_COLUMNS, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
    for (int i = 0; i < wnd->printers_num; ++i) {
        const UIPrinterInfo* info = wnd->printersInfo[i];
        if (!info || !IsSupportedModel(info->modelName))
            continue;
        GtkTreeIter iter;
        gchar* shown = ShownName(info->printerName);
        gtk_list_store_append(store, &iter);
        gtk_list_store_set(store, &iter, PRINTER_LIST_SHOWN_NAME, shown, PRINTER_LIST_MODEL,
                           info->modelName, PRINTER_LIST_QUEUE, info->printerName, -1);
        g_free(shown);
    }
    return store;
}

// The two sortable columns; their titles are not translated.
void add_columns(GtkTreeView* treeview)
{
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
        "Printer Name", renderer, "text", PRINTER_LIST_SHOWN_NAME, nullptr);
    gtk_tree_view_column_set_min_width(column, 260);
    gtk_tree_view_column_set_max_width(column, 260);
    gtk_tree_view_column_set_sort_column_id(column, PRINTER_LIST_SHOWN_NAME);
    gtk_tree_view_append_column(treeview, column);

    renderer = gtk_cell_renderer_text_new();
    column = gtk_tree_view_column_new_with_attributes("Product Name", renderer, "text",
                                                      PRINTER_LIST_MODEL, nullptr);
    gtk_tree_view_column_set_sort_column_id(column, PRINTER_LIST_MODEL);
    gtk_tree_view_append_column(treeview, column);
}

}  // namespace

// Fills the main window's list with the supported printers; 0 when no list
// model could be made.
int SetTreeViewWidget(UIAutoShutdownWnd* wnd)
{
    if (!wnd)
        return 0;
    GtkWidget* treeview = getWidget(wnd->dialog.window, "ShutdownMainDlg_treeview");
    GtkListStore* store = create_model(wnd);
    if (!store || !GTK_IS_TREE_MODEL(store) || !treeview) {
        if (store)
            g_object_unref(store);
        return 0;
    }
    gtk_tree_view_set_model(GTK_TREE_VIEW(treeview), GTK_TREE_MODEL(store));
    g_object_unref(store);
    add_columns(GTK_TREE_VIEW(treeview));
    gtk_widget_show(treeview);
    return 1;
}
