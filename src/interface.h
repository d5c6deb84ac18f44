// The window constructors: build, connect, register; no logic.
#pragma once

#include <gtk/gtk.h>

GtkWidget* create_ShutdownMain_Dialog(void);
GtkWidget* create_Msg_dialog(void);
GtkWidget* create_ShutdownS_dialog(void);
GtkWidget* create_Wait_dialog(void);
