#include <clocale>
#include <cstdio>
#include <cstring>

#include "dialog.h"
#include "startcheck.h"
#include "support.h"
#include "widgets.h"

namespace {

enum class InfoRequest { kNone, kHelp, kVersion };

// The first --help or --version before "--" wins, wherever it stands, so
// that "quellon --display :1 --help" still only prints the help.
InfoRequest FindInfoRequest(int argc, char** argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0)
            return InfoRequest::kHelp;
        if (std::strcmp(argv[i], "--version") == 0)
            return InfoRequest::kVersion;
    }
    return InfoRequest::kNone;
}

void PrintHelp()
{
    std::printf("%s\n%s\n\n", _("Usage: quellon [OPTION...]"),
                _("Sets the auto shutdown timer of Brelko laser printers."));
    std::printf("  --help      %s\n", _("show this help and exit"));
    std::printf("  --version   %s\n\n", _("show the version and exit"));
    std::printf("%s\n", _("The standard options of GTK+ are accepted too."));
}

}  // namespace

// Starts the program: catalogues, the toolkit, the window model; then runs
// the outer main loop until the main window's exit path ends it.
int main(int argc, char** argv)
{
    bindtextdomain(GETTEXT_PACKAGE, QUELLON_LOCALEDIR);
    bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
    textdomain(GETTEXT_PACKAGE);

    gtk_set_locale();
    // Answered before the toolkit starts, so they work without a display.
    switch (FindInfoRequest(argc, argv)) {
    case InfoRequest::kHelp:
        PrintHelp();
        return 0;
    case InfoRequest::kVersion:
        std::printf("quellon %s\n", QUELLON_VERSION);
        return 0;
    case InfoRequest::kNone:
        break;
    }
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
