// A private X server for tests that drive windows: its own Xvfb (and, when
// asked, a small window manager), plus xdotool helpers that act as a user.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "process.h"

namespace harness {

class XServer {
public:
    // Starts Xvfb on a free display and waits for it (and for the window
    // manager, if any) to be ready. Throws when that takes too long.
    explicit XServer(bool window_manager = false, Millis deadline = 20000ms);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // ":N", for DISPLAY.
    const std::string& display() const { return display_; }
    // What a child needs to open its windows here.
    EnvChanges env() const;
    bool has_window_manager() const { return wm_ != nullptr; }

    // Runs xdotool with `args` on this display; exit status, output in `out`.
    int Xdotool(const std::vector<std::string>& args, std::string* out = nullptr,
                Millis timeout = 20000ms) const;

    // The first visible window whose title is exactly `title`, once one
    // appears within `timeout`.
    std::optional<unsigned long> WaitWindow(const std::string& title,
                                            Millis timeout = 20000ms) const;
    // Whether window `id` exists and is mapped (viewable).
    bool IsViewable(unsigned long id) const;
    // Waits until window `id` is no longer viewable.
    bool WaitHidden(unsigned long id, Millis timeout = 20000ms) const;
    // Whether any visible window has exactly this title right now.
    bool HasVisibleWindow(const std::string& title) const;

    // Gives window `id` the keyboard focus (activates it under a window
    // manager) and waits until it has it.
    bool Focus(unsigned long id) const;
    // Types the key sequence (xdotool key syntax: "Down", "Tab", "space",
    // "alt+F4") into the focused window, as real key events.
    bool Key(const std::string& keys) const;
    // Clicks mouse button 1 at (x, y) inside window `id`.
    bool Click(unsigned long id, int x, int y) const;
    // Asks the window to close as a window manager's close button does:
    // through the manager when one runs, else by WM_DELETE_WINDOW directly.
    bool CloseWindow(unsigned long id) const;
    // Writes a PNG of window `id` to `path`.
    bool Screenshot(unsigned long id, const std::string& path) const;

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<Process> xvfb_;
    std::unique_ptr<Process> wm_;
    std::string display_;
};

}  // namespace harness
