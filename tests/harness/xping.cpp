// quellon-xping WINDOW TIMEOUT_MS: pings a client window the way a window
// manager does to tell whether a program still responds (_NET_WM_PING, sent
// to the client's own window), and waits for the answer, which the client
// sends to the root window. Prints the milliseconds the answer took; exit
// status 0 when it came within TIMEOUT_MS, 1 when it did not, 2 for bad
// arguments or no display.
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <X11/Xlib.h>

namespace {

using Clock = std::chrono::steady_clock;

bool g_failed = false;

int NoteError(Display*, XErrorEvent*)
{
    g_failed = true;
    return 0;
}

// Whether `event` answers our ping of `window` carrying `stamp`.
bool IsAnswer(const XEvent& event, Atom protocols, Atom ping, Window window, long stamp)
{
    return event.type == ClientMessage && event.xclient.message_type == protocols &&
           static_cast<Atom>(event.xclient.data.l[0]) == ping && event.xclient.data.l[1] == stamp &&
           static_cast<Window>(event.xclient.data.l[2]) == window;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const Window window = std::strtoul(argv[1], nullptr, 0);
    const auto timeout = std::chrono::milliseconds(std::strtol(argv[2], nullptr, 10));
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 2;
    XSetErrorHandler(NoteError);
    const Window root = DefaultRootWindow(display);
    // The answer goes to the root window for its substructure listeners.
    XSelectInput(display, root, SubstructureNotifyMask);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    // Any number the client echoes will do; one of our own tells our answer
    // from the window manager's.
    const long stamp = 0x5175;

    XEvent event;
    std::memset(&event, 0, sizeof(event));
    event.xclient.type = ClientMessage;
    event.xclient.format = 32;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.data.l[0] = static_cast<long>(ping);
    event.xclient.data.l[1] = stamp;
    event.xclient.data.l[2] = static_cast<long>(window);
    const auto sent = Clock::now();
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);

    const auto deadline = sent + timeout;
    bool answered = false;
    while (!answered && !g_failed) {
        while (!answered && XPending(display) > 0) {
            XEvent in;
            XNextEvent(display, &in);
            answered = IsAnswer(in, protocols, ping, window, stamp);
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (answered || left.count() <= 0)
            break;
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left.count()));
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
    std::printf("%lld\n", static_cast<long long>(took.count()));
    XCloseDisplay(display);
    return answered ? 0 : 1;
}
