// The least a GTK+ 2 program does before its first window is on screen:
// start the toolkit and map an empty dialog titled argv[1]. With
// --discovery-floor it first makes the CUPS calls that every discovery
// needs (cupsGetDests, cupsGetPPD for each destination, deleting each copy),
// as the real program does between the two. startup_bench measures it next
// to the real program.
#include <cstring>

#include <gtk/gtk.h>

#include "cups_floor.h"

int main(int argc, char** argv)
{
    gtk_set_locale();
    gtk_init(&argc, &argv);
    if (argc > 2 && std::strcmp(argv[2], "--discovery-floor") == 0)
        DiscoveryFloor();
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), argc > 1 ? argv[1] : "Empty");
    gtk_widget_set_size_request(dialog, 522, 374);
    gtk_widget_show(dialog);
    gtk_main();
    return 0;
}
