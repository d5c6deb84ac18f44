// quellon-xclose WINDOW [--via-manager]: sends a window the close request
// of a window manager's close button. With --via-manager it asks the
// running manager (_NET_CLOSE_WINDOW), which then sends WM_DELETE_WINDOW;
// otherwise it sends WM_DELETE_WINDOW itself. Exit status 0 when sent.
#include <cstdlib>
#include <cstring>

#include <X11/Xlib.h>

namespace {

bool g_failed = false;

int NoteError(Display*, XErrorEvent*)
{
    g_failed = true;
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const Window window = std::strtoul(argv[1], nullptr, 0);
    const bool via_manager = argc > 2 && std::strcmp(argv[2], "--via-manager") == 0;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    XSetErrorHandler(NoteError);

    XEvent event;
    std::memset(&event, 0, sizeof(event));
    event.xclient.type = ClientMessage;
    event.xclient.format = 32;
    event.xclient.window = window;
    Window target = window;
    long mask = NoEventMask;
    if (via_manager) {
        event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
        event.xclient.data.l[0] = CurrentTime;
        event.xclient.data.l[1] = 2;  // source: a pager or a user's tool
        target = DefaultRootWindow(display);
        mask = SubstructureRedirectMask | SubstructureNotifyMask;
    } else {
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
    }
    XSendEvent(display, target, False, mask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return g_failed ? 1 : 0;
}
