// The least a GTK+ 2 program does before its first window is on screen:
// start the toolkit and map an empty dialog titled argv[1]. startup_bench
// measures it next to the real program.
#include <gtk/gtk.h>

int main(int argc, char** argv)
{
    gtk_set_locale();
    gtk_init(&argc, &argv);
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), argc > 1 ? argv[1] : "Empty");
    gtk_widget_set_size_request(dialog, 522, 374);
    gtk_widget_show(dialog);
    gtk_main();
    return 0;
}
