// The header that begins every window record, and modal display of a
// window by a nested main loop.
#pragma once

#include <cstdint>

#include <gtk/gtk.h>

typedef struct UIDialog {
    GtkWidget* window;        // the record's top-level, null until built
    struct UIDialog* parent;  // record of the window this one belongs to
    int32_t size;             // size of the whole record
} UIDialog;

UIDialog* CreateDialog(int size, UIDialog* parent);
void DisposeDialog(UIDialog* dialog);
void ShowDialog(UIDialog* dialog);
void HideDialog(UIDialog* dialog);
