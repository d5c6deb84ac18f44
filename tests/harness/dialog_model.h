// The window model as start-up builds it (main window, both dialogs), with
// printer records made by hand, for in-process tests of the dialogs on a
// real X server against the daemon simulator.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "cupsd.h"
#include "startcheck.h"

namespace harness {

class DialogModel {
public:
    // Builds the model with `printers` and selects the first one; sets
    // g_autoshutdown_window.
    explicit DialogModel(const std::vector<Queue>& printers);
    // Disposes it the way the program ends: DisposeAutoShutdownWnd inside
    // an outer loop, then the record.
    ~DialogModel();
    DialogModel(const DialogModel&) = delete;
    DialogModel& operator=(const DialogModel&) = delete;

    UIAutoShutdownWnd* wnd() const { return wnd_; }
    GtkWidget* settings() const;
    GtkWidget* message() const;
    GtkWidget* Widget(GtkWidget* window, const char* name) const;

    void Select(const std::string& printer, const std::string& model);

private:
    UIAutoShutdownWnd* wnd_ = nullptr;
};

// Runs `action` from the main loop as soon as `window` is on screen (once);
// the source id lets a caller drop it when the window never came.
guint WhenShown(GtkWidget* window, std::function<void()> action);

// Clicks the named button of `window`.
void Click(GtkWidget* window, const char* button);

// Calls `show`, which runs a nested loop until its dialog closes, and runs
// `act` inside that loop once `window` is on screen. A deadline ends every
// loop (and fails the test) should nothing close it. Returns whether
// `window` was shown.
bool ShowAndAct(GtkWidget* window, const std::function<void()>& show,
                const std::function<void()>& act);

}  // namespace harness
