// The signal-suppression counter, by-name widget helpers and the printer
// list filler.
#pragma once

#include <gtk/gtk.h>

struct UIAutoShutdownWnd;

void SigInit(void);
gboolean SigDisable(void);
gboolean SigEnable(void);

GtkWidget* getWidget(GtkWidget* window, const gchar* name);
void SetDialogTitle(GtkWidget* window, const gchar* title);
void SetWidgetSensitive(GtkWidget* window, const gchar* widgetname, gboolean value);
void SetActiveCheckButton(GtkWidget* window, const gchar* button_name, gboolean on);
void SetTextToLabel(GtkWidget* window, const gchar* label_name, const gchar* text);
gboolean GetToggleButtonActive(GtkWidget* window, const gchar* button_name);
void ShowWidget(GtkWidget* window, const gchar* widget_name);
void HideWidget(GtkWidget* window, const gchar* widget_name);
void ComboSignalConnect(GtkWidget* window, const gchar* combo_name, GtkSignalFunc sig_func);
void SetGListToCombo(GtkWidget* window, GList* glist, const gchar* combo_name,
                     const gchar* curr_name);
const gchar* GetCurrComboText(GtkWidget* window, const gchar* combo_entry_name);

// Columns of the printer list's model: the queue name as shown, the model,
// and the queue's own bytes, which need not be valid UTF-8 and are what the
// daemon is sent.
enum { PRINTER_LIST_SHOWN_NAME, PRINTER_LIST_MODEL, PRINTER_LIST_QUEUE, PRINTER_LIST_COLUMNS };

int SetTreeViewWidget(struct UIAutoShutdownWnd* wnd);
