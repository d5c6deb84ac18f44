#include "daemonwait.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

#include <gdk/gdkkeysyms.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support.h"
#include "widgets.h"

namespace {

// A wait this short is not worth the main loop: nobody sees the windows
// pause for it, and a window manager's ping waits far longer. Most
// exchanges end within it, so the fast path costs one hand-over to the
// worker and back.
constexpr auto kQuietWait = std::chrono::milliseconds(50);
// How long a wait may last before the wait window appears: a window
// flashing up for each short wait would only distract.
constexpr guint kWaitWindowDelayMs = 200;
// The first part of the quiet wait looks for the work's end without going
// to sleep: a loopback exchange ends within it, and waking a sleeping
// thread costs more than the exchange itself on a busy machine.
constexpr auto kSpin = std::chrono::milliseconds(2);

// The threads daemon work runs on, kept between waits: starting a thread
// for each opening would cost the fast path about as much as an exchange.
// A thread whose work was given up while it was still connecting stays busy
// for a while; the next wait then starts another. Never destroyed, since a
// thread may still be finishing given-up work when the program ends.
class WorkerPool {
public:
    // Runs `work` and then `done` on a pooled thread; the thread is ready
    // for the next job before `done` runs. False when no thread could be
    // started.
    static bool Run(std::function<void()> work, std::function<void()> done)
    {
        static WorkerPool* pool = new WorkerPool;
        return pool->Submit(Job{std::move(work), std::move(done)});
    }

private:
    struct Job {
        std::function<void()> work;
        std::function<void()> done;
    };
    struct Worker {
        std::mutex mutex;
        std::condition_variable wake;
        Job job;  // guarded by mutex; empty while idle
    };
    // One idle thread serves the one wait there can be at a time.
    static constexpr size_t kMaxIdle = 1;

    bool Submit(Job job)
    {
        Worker* worker = TakeIdle();
        if (!worker) {
            worker = new Worker;
            try {
                std::thread(&WorkerPool::Serve, this, worker).detach();
            } catch (const std::system_error&) {
                delete worker;
                return false;
            }
        }
        {
            std::lock_guard<std::mutex> lock(worker->mutex);
            worker->job = std::move(job);
        }
        worker->wake.notify_one();
        return true;
    }

    Worker* TakeIdle()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (idle_.empty())
            return nullptr;
        Worker* worker = idle_.back();
        idle_.pop_back();
        return worker;
    }

    void Serve(Worker* worker)
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(worker->mutex);
                worker->wake.wait(lock, [worker] { return static_cast<bool>(worker->job.work); });
                job = std::move(worker->job);
                worker->job = Job{};
            }
            job.work();
            const bool kept = GoIdle(worker);
            job.done();
            if (!kept) {
                delete worker;
                return;
            }
        }
    }

    bool GoIdle(Worker* worker)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (idle_.size() >= kMaxIdle)
            return false;
        idle_.push_back(worker);
        return true;
    }

    std::mutex mutex_;
    std::vector<Worker*> idle_;  // guarded by mutex_
};

}  // namespace

// ------------------------------------------------------------------ the link

DaemonLink::DaemonLink(VxsktModule* connection) : connection_(connection)
{
    if (connection_) {
        std::lock_guard<std::mutex> lock(mutex_);
        WatchLocked(connection_);
    }
}

DaemonLink::~DaemonLink()
{
    UnwatchLocked();
    vxsktDestroy(connection_);
}

void DaemonLink::WatchLocked(VxsktModule* connection)
{
    UnwatchLocked();
    watch_fd_ = fcntl(vxsktGetSocketFD(connection), F_DUPFD_CLOEXEC, 0);
}

void DaemonLink::UnwatchLocked()
{
    if (watch_fd_ >= 0)
        close(watch_fd_);
    watch_fd_ = -1;
}

VxsktModule* DaemonLink::Open(const std::string& printer, const std::string& locale, int port)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        UnwatchLocked();
        if (given_up_)
            return nullptr;
    }
    // vxsktNew cuts its printer argument at "@" in place.
    std::string queue = printer;
    std::string language = locale;
    VxsktModule* fresh = vxsktNew(queue.data(), language.data(), nullptr, port);
    std::lock_guard<std::mutex> lock(mutex_);
    if (fresh && !given_up_)
        WatchLocked(fresh);
    // A connection that could not be shut down from outside could not be
    // given up: it is not used.
    if (watch_fd_ < 0) {
        vxsktDestroy(fresh);
        return nullptr;
    }
    return fresh;
}

VxsktModule* DaemonLink::TakeConnection()
{
    VxsktModule* taken = connection_;
    connection_ = nullptr;
    return taken;
}

// ------------------------------------------------------------------ the wait

// One wait, seen from the GUI thread.
class DaemonWait {
public:
    explicit DaemonWait(std::shared_ptr<DaemonLink> link) : link_(std::move(link)) {}

    void Start(std::function<void(DaemonLink&)> work)
    {
        std::shared_ptr<DaemonLink> link = link_;
        auto run = [link, work = std::move(work)] { work(*link); };
        auto done = [link] {
            bool looping = false;
            {
                std::lock_guard<std::mutex> lock(link->mutex_);
                link->finished_ = true;
                link->UnwatchLocked();
                looping = link->looping_;
            }
            link->done_.store(true, std::memory_order_release);
            link->settled_.notify_all();
            if (looping)
                g_main_context_wakeup(nullptr);
        };
        if (!WorkerPool::Run(run, done)) {
            // No thread to be had: wait the way it was done before threads.
            run();
            done();
        }
    }

    // Whether the work finishes within `span`, waiting without the main
    // loop. When it does not, the main loop is to run from here on, and the
    // worker wakes it when it finishes.
    bool FinishesWithin(std::chrono::milliseconds span)
    {
        const auto spin_end = std::chrono::steady_clock::now() + kSpin;
        while (!link_->done_.load(std::memory_order_acquire) &&
               std::chrono::steady_clock::now() < spin_end)
            sched_yield();
        std::unique_lock<std::mutex> lock(link_->mutex_);
        if (link_->settled_.wait_for(lock, span, [this] { return link_->finished_; }))
            return true;
        link_->looping_ = true;
        return false;
    }

    bool Settled()
    {
        std::lock_guard<std::mutex> lock(link_->mutex_);
        return link_->finished_ || link_->given_up_;
    }

    void GiveUp()
    {
        std::lock_guard<std::mutex> lock(link_->mutex_);
        if (link_->finished_ || link_->given_up_)
            return;
        link_->given_up_ = true;
        // An exchange in progress ends at once on a shut-down socket, and
        // the worker starts nothing new once it has given up, so it is
        // waited for. A connection still being opened has nothing to shut
        // down yet: that worker is left to end on its own, bounded as every
        // opening is, and closes what it opened.
        if (link_->watch_fd_ >= 0) {
            shutdown(link_->watch_fd_, SHUT_RDWR);
            must_finish_ = true;
        }
    }

    // TRUE when the work finished before the user gave up (work that ends
    // after that, even at once, does not count).
    gboolean End()
    {
        std::unique_lock<std::mutex> lock(link_->mutex_);
        if (must_finish_)
            link_->settled_.wait(lock, [this] { return link_->finished_; });
        return !link_->given_up_;
    }

private:
    std::shared_ptr<DaemonLink> link_;
    bool must_finish_ = false;
};

namespace {

// Shows the wait window once the wait has lasted a moment.
class ShowLater {
public:
    ShowLater(GtkWidget* window, guint delay_ms)
        : window_(window), source_(g_timeout_add(delay_ms, Show, this))
    {
    }
    ~ShowLater()
    {
        if (source_)
            g_source_remove(source_);
    }
    ShowLater(const ShowLater&) = delete;
    ShowLater& operator=(const ShowLater&) = delete;

private:
    static gboolean Show(gpointer self)
    {
        auto* later = static_cast<ShowLater*>(self);
        later->source_ = 0;
        gtk_widget_show(later->window_);
        return FALSE;
    }

    GtkWidget* window_;
    guint source_;
};

// Holds every other window's input for as long as it lives: the wait
// window takes the grab before it is even shown, so that a second click
// on the settings button in the first moment goes nowhere.
class InputHeld {
public:
    explicit InputHeld(GtkWidget* window) : window_(window) { gtk_grab_add(window_); }
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

}  // namespace

gboolean WaitForDaemon(UIWaitDlg* dlg, GtkWidget* over, const char* printer,
                       const std::shared_ptr<DaemonLink>& link,
                       std::function<void(DaemonLink&)> work)
{
    DaemonWait wait(link);
    wait.Start(std::move(work));
    if (wait.FinishesWithin(kQuietWait))
        return wait.End();

    GtkWidget* window = dlg->dialog.window;
    SetWaitText(window, printer);
    gtk_window_set_transient_for(GTK_WINDOW(window), over ? GTK_WINDOW(over) : nullptr);
    dlg->current = &wait;
    {
        InputHeld held(window);
        ShowLater later(window, kWaitWindowDelayMs - static_cast<guint>(kQuietWait.count()));
        while (!wait.Settled())
            gtk_main_iteration();
    }
    dlg->current = nullptr;
    return wait.End();
}

void CancelWaitDlg(UIWaitDlg* dlg)
{
    if (dlg && dlg->current)
        dlg->current->GiveUp();
}

gboolean WaitDlgKeyPress(UIWaitDlg* dlg, guint keyval)
{
    if (keyval == GDK_Escape) {
        CancelWaitDlg(dlg);
        return TRUE;
    }
    return dlg && dlg->dialog.window && !GTK_WIDGET_VISIBLE(dlg->dialog.window);
}
