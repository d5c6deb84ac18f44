#include "interface.h"

#include "callbacks.h"
#include "support.h"

// ---------------------------------------------------------------- main window

GtkWidget* create_ShutdownMain_Dialog(void)
{
    return nullptr;
}

// ------------------------------------------------------------- message dialog

GtkWidget* create_Msg_dialog(void)
{
    return nullptr;
}

// ------------------------------------------------------------ settings dialog

GtkWidget* create_ShutdownS_dialog(void)
{
    return nullptr;
}
