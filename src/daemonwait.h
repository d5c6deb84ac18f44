// Waiting on the printer daemon without freezing the windows: the daemon
// work runs as a task on one of GLib's worker threads while the GUI thread
// keeps its main loop going, shows a wait window after a moment, and lets
// the user give up.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <gio/gio.h>
#include <gtk/gtk.h>

#include "dialog.h"
#include "vxsktmodule.h"

// One piece of daemon work and everything its two threads share. It is
// always owned through std::shared_ptr: the task holds it until the worker
// has finished, the wait until it returns, so whichever lets go last frees
// it, and neither ever points into the other's stack. Cancelling it (its
// GCancellable) shuts down the connection in use, so an exchange in
// progress ends at once; a connection nobody took is closed with the job.
class DaemonJob {
public:
    // `connection` (may be null) is handed to the work.
    explicit DaemonJob(VxsktModule* connection = nullptr);
    ~DaemonJob();
    DaemonJob(const DaemonJob&) = delete;
    DaemonJob& operator=(const DaemonJob&) = delete;

    // Runs `work` on a worker thread. When it has finished, the task
    // returns on the GUI thread's main context.
    static void Start(const std::shared_ptr<DaemonJob>& job, std::function<void(DaemonJob&)> work);

    // ---- worker side: no toolkit here.
    // A fresh connection to `printer` ("queue" or "queue@host"), or null:
    // none could be opened, or the job was cancelled. Cancelling shuts it
    // down from then on; the connection it replaces is no longer watched.
    VxsktModule* Open(const std::string& printer, const std::string& locale, int port);
    // The connection the work runs on; the work may replace it.
    VxsktModule*& connection() { return connection_; }
    // Called just before a write frame goes out; false (send nothing) once
    // the job was cancelled.
    bool BeginWrite();

    // ---- GUI side.
    GCancellable* cancellable() const { return cancellable_; }
    bool Cancelled() const { return g_cancellable_is_cancelled(cancellable_); }
    // The work has finished (its results may be read), or the job was
    // cancelled and no exchange of it is left to end.
    bool Settled();
    // Blocks until the work has finished, for at most `bound`; whether it has.
    bool FinishedWithin(std::chrono::microseconds bound);
    // Whether a write frame went out (or was on its way when the job was
    // cancelled): the printer may have taken it.
    bool WriteBegun();
    // Once finished: the connection, which the job then no longer closes.
    VxsktModule* TakeConnection();

private:
    static void RunOnWorker(GTask* task, gpointer source, gpointer data, GCancellable*);
    static void OnReturned(GObject* source, GAsyncResult* result, gpointer data);
    static void OnCancelled(GCancellable* cancellable, gpointer self);
    void Finish();
    void WatchLocked(VxsktModule* connection);
    void UnwatchLocked();

    GCancellable* cancellable_;
    gulong cancel_handler_ = 0;

    // The worker's connection; the GUI thread's once the work finished.
    VxsktModule* connection_ = nullptr;

    // What the cancel handler (GUI thread) and the worker both touch. The
    // worker also takes this lock once it has finished, so that the GUI
    // thread's next look under it sees all the work's results.
    std::mutex mutex_;
    std::condition_variable finished_cv_;
    bool finished_ = false;      // guarded
    bool cancelled_ = false;     // guarded
    bool exchange_cut_ = false;  // cancelling shut an exchange down; guarded
    bool write_begun_ = false;   // guarded
    // A duplicate of the socket of the connection in use, so that
    // cancelling can shut the connection down without racing its close:
    // the socket lives until this descriptor is closed, under the lock. -1
    // while the worker is opening a connection (nothing to shut down yet)
    // and once it has finished.
    int watch_fd_ = -1;  // guarded
};

// The wait window's record.
typedef struct UIWaitDlg {
    UIDialog dialog;
    // The wait in progress (a reference), null between waits.
    GCancellable* current;
    // The program's main window was asked to close during the last wait,
    // which gave the wait up: the program is to end once it has unwound.
    gboolean close_requested;
} UIWaitDlg;

// Runs `work` on a worker thread and returns when it has finished (TRUE),
// or when the user gave up (FALSE: the work's exchanges end at once, its
// connection is closed, its results are never looked at). Meanwhile the
// windows keep drawing and answering the window manager, no window but the
// wait window takes input, and after a moment the wait window says that
// `printer` is being reached, over `over`. A close request of the main
// window (the root of the record chain of `dlg`) gives the wait up and
// sets `close_requested`.
gboolean WaitForDaemon(UIWaitDlg* dlg, GtkWidget* over, const char* printer,
                       const std::shared_ptr<DaemonJob>& job, std::function<void(DaemonJob&)> work);

// Gives up the wait in progress, if any (the wait window's Cancel, close
// button and Escape).
void CancelWaitDlg(UIWaitDlg* dlg);
// A key pressed while the wait window holds the input: Escape gives up;
// before the window is on screen every other key is dropped, as the keys
// were meant for a window that is waiting. TRUE when the key was handled.
gboolean WaitDlgKeyPress(UIWaitDlg* dlg, guint keyval);
