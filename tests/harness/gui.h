// What the window tests share: the toolkit on a private X server, main
// loop pumping with deadlines, and capture of log lines and stderr.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "xserver.h"

namespace harness {

// This process's own X server (started on first use, with or without a
// window manager as the first caller asks) with the toolkit initialised on
// it.
XServer& Gui(bool window_manager = false);

// Runs main loop iterations until `condition` holds or `timeout` passes.
bool PumpUntil(const std::function<bool()>& condition, Millis timeout = Millis(10000));
// Runs the pending main loop iterations.
void Pump();

// Runs `body` inside a main loop started by the caller's `ShowDialog`-like
// code: schedules `body` as an idle callback and a deadline that quits
// every loop (and records a failure) should the test hang.
class LoopGuard {
public:
    explicit LoopGuard(Millis timeout = Millis(20000));
    ~LoopGuard();
    bool fired() const { return fired_; }

private:
    static gboolean OnTimeout(gpointer self);
    guint source_ = 0;
    bool fired_ = false;
};

// Records every GLib log line (domain, message) while alive.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const std::vector<std::string>& messages() const { return messages_; }
    bool Contains(const std::string& text) const;

private:
    static void Handler(const gchar* domain, GLogLevelFlags level, const gchar* message,
                        gpointer self);
    GLogFunc previous_;
    gpointer previous_data_;
    std::vector<std::string> messages_;
};

// What `body` writes to standard error.
std::string CaptureStderr(const std::function<void()>& body);

// The X window id of a realised top-level.
unsigned long Xid(GtkWidget* window);

// Whether `object` has been finalised, watched by a weak reference.
class Finalised {
public:
    explicit Finalised(gpointer object);
    ~Finalised();
    bool operator()() const { return gone_; }

private:
    static void Notify(gpointer self, GObject*);
    GObject* object_;
    bool gone_ = false;
};

}  // namespace harness
