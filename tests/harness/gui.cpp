#include "gui.h"

// gtest before the X headers: their macros (None, Bool) break it.
#include <gtest/gtest.h>

#include <gdk/gdkx.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <unistd.h>

namespace harness {

XServer& Gui(bool window_manager)
{
    static std::unique_ptr<XServer> server;
    if (!server) {
        server = std::make_unique<XServer>(window_manager);
        setenv("DISPLAY", server->display().c_str(), 1);
        unsetenv("XAUTHORITY");
        if (!gtk_init_check(nullptr, nullptr))
            throw std::runtime_error("gtk_init_check failed on " + server->display());
    }
    return *server;
}

bool PumpUntil(const std::function<bool()>& condition, Millis timeout)
{
    return WaitFor(
        [&] {
            Pump();
            return condition();
        },
        timeout, Millis(2));
}

void Pump()
{
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
}

LoopGuard::LoopGuard(Millis timeout)
    : source_(g_timeout_add(static_cast<guint>(timeout.count()), OnTimeout, this))
{
}

LoopGuard::~LoopGuard()
{
    if (!fired_)
        g_source_remove(source_);
}

gboolean LoopGuard::OnTimeout(gpointer self)
{
    auto* guard = static_cast<LoopGuard*>(self);
    guard->fired_ = true;
    ADD_FAILURE() << "a main loop did not end in time";
    for (guint level = gtk_main_level(); level > 0; --level)
        gtk_main_quit();
    return FALSE;
}

LogCapture::LogCapture()
{
    previous_ = g_log_set_default_handler(Handler, this);
    previous_data_ = nullptr;
}

LogCapture::~LogCapture()
{
    g_log_set_default_handler(previous_, previous_data_);
}

void LogCapture::Handler(const gchar* domain, GLogLevelFlags, const gchar* message, gpointer self)
{
    std::string line = domain ? std::string(domain) + ": " : std::string();
    static_cast<LogCapture*>(self)->messages_.push_back(line + (message ? message : ""));
}

bool LogCapture::Contains(const std::string& text) const
{
    for (const auto& m : messages_)
        if (m == text)
            return true;
    return false;
}

std::string CaptureStderr(const std::function<void()>& body)
{
    TempDir dir;
    const std::string path = dir / "stderr";
    std::fflush(stderr);
    const int saved = dup(2);
    FILE* file = std::fopen(path.c_str(), "w");
    dup2(fileno(file), 2);
    body();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(file);
    return ReadFile(path);
}

unsigned long Xid(GtkWidget* window)
{
    return GDK_WINDOW_XID(gtk_widget_get_window(window));
}

Finalised::Finalised(gpointer object) : object_(G_OBJECT(object))
{
    g_object_weak_ref(object_, Notify, this);
}

Finalised::~Finalised()
{
    if (!gone_)
        g_object_weak_unref(object_, Notify, this);
}

void Finalised::Notify(gpointer self, GObject*)
{
    static_cast<Finalised*>(self)->gone_ = true;
}

}  // namespace harness
