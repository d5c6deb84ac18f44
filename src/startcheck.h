// Start-up and teardown of the window model (one per process).
#pragma once

#include "dialog.h"
#include "model.h"

UIAutoShutdownWnd* CreateAutoShutdownWnd(void);
void DisposeAutoShutdownWnd(void);

// The steps of CreateAutoShutdownWnd that can fail. Production code uses
// the real ones; tests replace one to make it fail.
typedef struct StartupSteps {
    UIDialog* (*create_dialog)(int size, UIDialog* parent);
    int (*get_printers_info)(UIAutoShutdownWnd* wnd);
    GtkWidget* (*create_main_window)(void);
    int (*set_tree_view)(UIAutoShutdownWnd* wnd);
} StartupSteps;
extern StartupSteps g_startup_steps;
