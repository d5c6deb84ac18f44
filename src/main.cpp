#include <clocale>
#include <cstdio>

#include "dialog.h"
#include "startcheck.h"
#include "support.h"
#include "widgets.h"

UIAutoShutdownWnd* g_autoshutdown_window = nullptr;

// Starts the program: catalogues, the toolkit, the window model; then runs
// the outer main loop until the main window's exit path ends it.
int main(int argc, char** argv)
{
    bindtextdomain(GETTEXT_PACKAGE, QUELLON_LOCALEDIR);
    bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
    textdomain(GETTEXT_PACKAGE);

    gtk_set_locale();
    // Like any other start-up failure: status 255 and one line saying why.
    if (!gtk_init_check(&argc, &argv)) {
        const char* display = gdk_get_display_arg_name();
        if (!display)
            display = g_getenv("DISPLAY");
        std::fprintf(stderr, "quellon: %s%s%s\n", _("cannot open display"), display ? " " : "",
                     display ? display : "");
        return -1;
    }
    add_pixmap_directory(QUELLON_PIXMAPDIR);
    SigInit();

    g_autoshutdown_window = CreateAutoShutdownWnd();
    if (!g_autoshutdown_window)
        return -1;

    gtk_widget_realize(g_autoshutdown_window->dialog.window);
    gtk_widget_show(g_autoshutdown_window->dialog.window);
    gtk_main();

    DisposeDialog(&g_autoshutdown_window->dialog);
    g_autoshutdown_window = nullptr;
    return 0;
}
