// Waiting on the printer daemon without freezing the windows: the daemon
// work runs on a thread of its own while the GUI thread keeps its main
// loop going, shows a wait window after a moment, and lets the user give up.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <gtk/gtk.h>

#include "dialog.h"
#include "vxsktmodule.h"

// What the GUI thread and the worker share during one wait: the connection
// the work runs on, and whether the user gave up. While the worker runs the
// connection is the worker's; afterwards the GUI thread may take it back.
// A connection nobody took is closed with the link, by whichever side lets
// go of it last.
class DaemonLink {
public:
    // `connection` (may be null) is handed to the work.
    explicit DaemonLink(VxsktModule* connection = nullptr);
    ~DaemonLink();
    DaemonLink(const DaemonLink&) = delete;
    DaemonLink& operator=(const DaemonLink&) = delete;

    // Worker side. A fresh connection to `printer` ("queue" or
    // "queue@host"), or null: none could be opened, or the user has given
    // up. Giving up shuts it down from then on; the connection this
    // replaces is no longer watched.
    VxsktModule* Open(const std::string& printer, const std::string& locale, int port);
    // The connection the work runs on; the work may replace it.
    VxsktModule*& connection() { return connection_; }

    // GUI side, once the work has finished.
    VxsktModule* TakeConnection();

private:
    friend class DaemonWait;
    // Under the lock: from now on, giving up shuts `connection` down.
    void WatchLocked(VxsktModule* connection);
    void UnwatchLocked();

    std::mutex mutex_;
    std::condition_variable settled_;  // the work finished
    bool given_up_ = false;            // guarded by mutex_
    bool finished_ = false;            // guarded by mutex_
    std::atomic<bool> done_{false};    // finished_, to look at without the lock
    bool looping_ = false;             // the GUI thread runs its main loop; guarded
    // A duplicate of the socket of the connection in use, so that giving up
    // can shut the connection down without racing its close: the socket
    // lives until this descriptor is closed, under the lock. -1 while the
    // worker is opening a connection (nothing to shut down yet).
    int watch_fd_ = -1;  // guarded by mutex_
    VxsktModule* connection_ = nullptr;
};

// The wait window's record.
typedef struct UIWaitDlg {
    UIDialog dialog;
    class DaemonWait* current;  // the wait in progress, null between waits
} UIWaitDlg;

// Runs `work` on a worker thread and returns when it has finished (TRUE)
// or when the user gave up (FALSE: the work's exchanges end at once, its
// connection is closed, its results are never looked at). Meanwhile the
// windows keep drawing and answering the window manager, no window but
// the wait window takes input, and after a moment the wait window says
// that `printer` is being reached, over `over`.
gboolean WaitForDaemon(UIWaitDlg* dlg, GtkWidget* over, const char* printer,
                       const std::shared_ptr<DaemonLink>& link,
                       std::function<void(DaemonLink&)> work);

// Gives up the wait in progress, if any (the wait window's Cancel, close
// button and Escape).
void CancelWaitDlg(UIWaitDlg* dlg);
// A key pressed while the wait window holds the input: Escape gives up;
// before the window is on screen every other key is dropped, as the keys
// were meant for a window that is waiting. TRUE when the key was handled.
gboolean WaitDlgKeyPress(UIWaitDlg* dlg, guint keyval);
