#include "daemonwait.h"

#include <utility>

#include <gdk/gdkkeysyms.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support.h"
#include "widgets.h"

namespace {

// How long a wait may last before the wait window appears: a window
// flashing up for each short wait would only distract.
constexpr guint kWaitWindowDelayMs = 200;

// A daemon that answers within this is waited for without a turn of the
// main loop: handing its answer back through the loop costs more than the
// answer itself, and the windows do not miss so short a pause.
constexpr std::chrono::milliseconds kQuickAnswer{2};

// What the task carries to the worker: the job, shared, and its work.
struct TaskData {
    std::shared_ptr<DaemonJob> job;
    std::function<void(DaemonJob&)> work;
};

void DeleteTaskData(gpointer data)
{
    delete static_cast<TaskData*>(data);
}

// Both threads take this lock when a task passes to a worker through GLib,
// so that what the GUI thread wrote before is seen by the worker after also
// by a race detector, which cannot see into GLib's own hand-over. (The way
// back goes through the job's own lock.) One for all tasks: the worker
// must reach it before it may look at anything the task carries.
void HandOver()
{
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
}

}  // namespace

// ------------------------------------------------------------------ the job

DaemonJob::DaemonJob(VxsktModule* connection)
    : cancellable_(g_cancellable_new()), connection_(connection)
{
    cancel_handler_ = g_cancellable_connect(cancellable_, G_CALLBACK(OnCancelled), this, nullptr);
    if (connection_) {
        std::lock_guard<std::mutex> lock(mutex_);
        WatchLocked(connection_);
    }
}

DaemonJob::~DaemonJob()
{
    g_cancellable_disconnect(cancellable_, cancel_handler_);
    g_object_unref(cancellable_);
    UnwatchLocked();
    vxsktDestroy(connection_);
}

void DaemonJob::Start(const std::shared_ptr<DaemonJob>& job, std::function<void(DaemonJob&)> work)
{
    // The task returns on the main context of the thread that makes it:
    // the GUI thread's. It is not given the cancellable: the job acts on
    // that itself, and the task returns once the worker is done in any case.
    // The callback holds a share of its own: the task (and with it what it
    // carries) may be finalised on the worker meanwhile.
    GTask* task = g_task_new(nullptr, nullptr, OnReturned, new std::shared_ptr<DaemonJob>(job));
    g_task_set_task_data(task, new TaskData{job, std::move(work)}, DeleteTaskData);
    HandOver();
    g_task_run_in_thread(task, RunOnWorker);
    g_object_unref(task);
}

// On the worker: no toolkit here.
void DaemonJob::RunOnWorker(GTask* task, gpointer, gpointer data, GCancellable*)
{
    HandOver();
    auto* carried = static_cast<TaskData*>(data);
    carried->work(*carried->job);
    carried->job->Finish();
    g_task_return_boolean(task, TRUE);
}

// On the GUI thread, from its main loop, once the work has finished and
// maybe long after its results were read.
void DaemonJob::OnReturned(GObject*, GAsyncResult*, gpointer data)
{
    const std::unique_ptr<std::shared_ptr<DaemonJob>> share(
        static_cast<std::shared_ptr<DaemonJob>*>(data));
    // Taken after the worker's last hold of the job (Finish), so that the
    // job, if freed with this share, is freed after all the worker did.
    std::lock_guard<std::mutex> lock((*share)->mutex_);
}

// On the thread that cancels (the GUI thread); no toolkit here either.
void DaemonJob::OnCancelled(GCancellable*, gpointer self)
{
    auto* job = static_cast<DaemonJob*>(self);
    std::lock_guard<std::mutex> lock(job->mutex_);
    job->cancelled_ = true;
    // An exchange in progress ends at once on a shut-down socket, and the
    // worker starts nothing new once cancelled, so its end is waited for.
    // A connection still being opened has nothing to shut down yet: that
    // worker is left to end on its own, bounded as every opening is, and
    // Open drops what it opens.
    if (job->watch_fd_ >= 0) {
        shutdown(job->watch_fd_, SHUT_RDWR);
        job->exchange_cut_ = true;
    }
}

bool DaemonJob::Settled()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_ || (cancelled_ && !exchange_cut_);
}

bool DaemonJob::FinishedWithin(std::chrono::microseconds bound)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return finished_cv_.wait_for(lock, bound, [this] { return finished_; });
}

// The worker's last hold of the job: the hand-over of the work's results.
void DaemonJob::Finish()
{
    // Told under the lock: once it is let go, the worker touches the job
    // no more.
    std::lock_guard<std::mutex> lock(mutex_);
    UnwatchLocked();
    finished_ = true;
    finished_cv_.notify_all();
}

void DaemonJob::WatchLocked(VxsktModule* connection)
{
    UnwatchLocked();
    watch_fd_ = fcntl(vxsktGetSocketFD(connection), F_DUPFD_CLOEXEC, 0);
}

void DaemonJob::UnwatchLocked()
{
    if (watch_fd_ >= 0)
        close(watch_fd_);
    watch_fd_ = -1;
}

VxsktModule* DaemonJob::Open(const std::string& printer, const std::string& locale, int port)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        UnwatchLocked();
        if (cancelled_)
            return nullptr;
    }
    // vxsktNew cuts its printer argument at "@" in place.
    std::string queue = printer;
    std::string language = locale;
    VxsktModule* fresh = vxsktNew(queue.data(), language.data(), nullptr, port);
    std::lock_guard<std::mutex> lock(mutex_);
    if (fresh && !cancelled_)
        WatchLocked(fresh);
    // A connection that could not be shut down from outside could not be
    // given up: it is not used.
    if (watch_fd_ < 0) {
        vxsktDestroy(fresh);
        return nullptr;
    }
    return fresh;
}

bool DaemonJob::BeginWrite()
{
    std::lock_guard<std::mutex> lock(mutex_);
    write_begun_ = !cancelled_;
    return write_begun_;
}

bool DaemonJob::WriteBegun()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return write_begun_;
}

VxsktModule* DaemonJob::TakeConnection()
{
    std::lock_guard<std::mutex> lock(mutex_);
    VxsktModule* taken = connection_;
    connection_ = nullptr;
    return taken;
}

// ------------------------------------------------------------------ the wait

namespace {

// "Connecting to <printer>...", with a name that is not UTF-8 shown as
// the toolkit can draw it.
void SetWaitText(GtkWidget* window, const char* printer)
{
    gchar* name = g_utf8_make_valid(printer, -1);
    gchar* text = g_strdup_printf(_("Connecting to %s..."), name);
    SetTextToLabel(window, "WaitDlg_label", text);
    atk_object_set_description(gtk_widget_get_accessible(window), text);
    g_free(text);
    g_free(name);
}

// Shows the wait window once the wait has lasted a moment, over `over`,
// naming `printer`; filled only then, as most waits end before. The timer
// owns what it needs.
class ShowLater {
public:
    ShowLater(GtkWidget* window, GtkWidget* over, const char* printer)
        : source_(g_timeout_source_new(kWaitWindowDelayMs))
    {
        g_source_set_callback(source_, Show, new Shown{window, over, printer}, Forget);
        g_source_attach(source_, nullptr);
    }
    ~ShowLater()
    {
        g_source_destroy(source_);
        g_source_unref(source_);
    }
    ShowLater(const ShowLater&) = delete;
    ShowLater& operator=(const ShowLater&) = delete;

private:
    struct Shown {
        GtkWidget* window;
        GtkWidget* over;
        std::string printer;
    };
    static gboolean Show(gpointer data)
    {
        const auto* shown = static_cast<const Shown*>(data);
        SetWaitText(shown->window, shown->printer.c_str());
        gtk_window_set_transient_for(GTK_WINDOW(shown->window),
                                     shown->over ? GTK_WINDOW(shown->over) : nullptr);
        gtk_widget_show(shown->window);
        return FALSE;
    }
    static void Forget(gpointer data) { delete static_cast<Shown*>(data); }

    GSource* source_;
};

// Holds every other window's input for as long as it lives: the wait
// window takes the grab before it is even shown, so that a second click
// on the settings button in the first moment goes nowhere.
class InputHeld {
public:
    explicit InputHeld(GtkWidget* window) : window_(window)
    {
        // The toolkit hands the grab widget every event it redirects, and
        // asserts that it is realized: made, not yet shown.
        gtk_widget_realize(window_);
        gtk_grab_add(window_);
    }
    ~InputHeld()
    {
        gtk_widget_hide(window_);
        // A modal window drops its grab when hidden; this one may never
        // have been shown.
        if (gtk_widget_has_grab(window_))
            gtk_grab_remove(window_);
    }
    InputHeld(const InputHeld&) = delete;
    InputHeld& operator=(const InputHeld&) = delete;

private:
    GtkWidget* window_;
};

// The program's main window: the root of the record chain.
GtkWidget* MainWindowOf(const UIWaitDlg* dlg)
{
    const UIDialog* root = &dlg->dialog;
    while (root->parent)
        root = root->parent;
    return root->window;
}

// While it lives, a close request of the main window gives the wait of
// `dlg` up instead of being dropped, as the toolkit drops every event for
// a window outside the grab.
class CloseRequestsGiveUp {
public:
    explicit CloseRequestsGiveUp(UIWaitDlg* dlg) { gdk_event_handler_set(Handle, dlg, nullptr); }
    ~CloseRequestsGiveUp() { gdk_event_handler_set(ToToolkit, nullptr, nullptr); }
    CloseRequestsGiveUp(const CloseRequestsGiveUp&) = delete;
    CloseRequestsGiveUp& operator=(const CloseRequestsGiveUp&) = delete;

private:
    // What the toolkit itself hands every event to.
    static void ToToolkit(GdkEvent* event, gpointer) { gtk_main_do_event(event); }
    static void Handle(GdkEvent* event, gpointer data)
    {
        auto* dlg = static_cast<UIWaitDlg*>(data);
        GtkWidget* main_window = MainWindowOf(dlg);
        if (event->type == GDK_DELETE && main_window && event->any.window == main_window->window) {
            dlg->close_requested = TRUE;
            CancelWaitDlg(dlg);
            return;
        }
        ToToolkit(event, nullptr);
    }
};

}  // namespace

gboolean WaitForDaemon(UIWaitDlg* dlg, GtkWidget* over, const char* printer,
                       const std::shared_ptr<DaemonJob>& job, std::function<void(DaemonJob&)> work)
{
    DaemonJob::Start(job, std::move(work));
    dlg->close_requested = FALSE;
    if (job->FinishedWithin(kQuickAnswer))
        return TRUE;
    dlg->current = G_CANCELLABLE(g_object_ref(job->cancellable()));
    {
        InputHeld held(dlg->dialog.window);
        CloseRequestsGiveUp closes(dlg);
        ShowLater later(dlg->dialog.window, over, printer);
        while (!job->Settled())
            gtk_main_iteration();
    }
    g_clear_object(&dlg->current);
    // Work that ends after the user gave up, even at once, does not count.
    return !job->Cancelled();
}

void CancelWaitDlg(UIWaitDlg* dlg)
{
    if (dlg && dlg->current)
        g_cancellable_cancel(dlg->current);
}

gboolean WaitDlgKeyPress(UIWaitDlg* dlg, guint keyval)
{
    if (keyval == GDK_Escape) {
        CancelWaitDlg(dlg);
        return TRUE;
    }
    return dlg && dlg->dialog.window && !GTK_WIDGET_VISIBLE(dlg->dialog.window);
}
