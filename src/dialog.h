// Modal display of a window record by a nested main loop.
#pragma once

#include <gtk/gtk.h>

#include "dialog_header.h"

UIDialog* CreateDialog(int size, UIDialog* parent);
void DisposeDialog(UIDialog* dialog);
void ShowDialog(UIDialog* dialog);
void HideDialog(UIDialog* dialog);
