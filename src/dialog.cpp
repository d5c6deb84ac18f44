#include "dialog.h"

#include <cstdlib>

// Makes a window record of `size` bytes whose header names `parent`.
UIDialog* CreateDialog(int size, UIDialog* parent)
{
    if (size < static_cast<int>(sizeof(UIDialog)))
        return nullptr;
    auto* dialog = static_cast<UIDialog*>(std::calloc(1, static_cast<size_t>(size)));
    if (!dialog)
        return nullptr;
    dialog->window = nullptr;
    dialog->parent = parent;
    dialog->size = size;
    return dialog;
}

// Frees a window record; its window is left alone.
void DisposeDialog(UIDialog* dialog)
{
    std::free(dialog);
}

// Shows the record's window over its parent's and runs a nested main loop
// until HideDialog quits it.
void ShowDialog(UIDialog* dialog)
{
    // Without a window nothing could ever end the loop.
    if (!dialog || !dialog->window)
        return;
    if (dialog->parent && dialog->parent->window)
        gtk_window_set_transient_for(GTK_WINDOW(dialog->window),
                                     GTK_WINDOW(dialog->parent->window));
    gtk_widget_show(dialog->window);
    gtk_main();
}

// Hides the record's window and quits the innermost main loop.
void HideDialog(UIDialog* dialog)
{
    if (!dialog)
        return;
    if (dialog->window)
        gtk_widget_hide(gtk_widget_get_toplevel(dialog->window));
    if (gtk_main_level() > 0)
        gtk_main_quit();
}
