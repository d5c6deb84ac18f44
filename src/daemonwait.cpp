#include "daemonwait.h"

#include <system_error>
#include <thread>

#include <gdk/gdkkeysyms.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support.h"
#include "widgets.h"

namespace {

// How long a wait may last before the wait window appears: most exchanges
// end well within it, and a window flashing up for each would only distract.
constexpr guint kWaitWindowDelayMs = 200;

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

bool DaemonLink::Connect(const std::string& printer, const std::string& locale, int port)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        UnwatchLocked();
        if (given_up_)
            return false;
    }
    vxsktDestroy(connection_);
    connection_ = nullptr;
    // vxsktNew cuts its printer argument at "@" in place.
    std::string queue = printer;
    std::string language = locale;
    VxsktModule* fresh = vxsktNew(queue.data(), language.data(), nullptr, port);
    std::lock_guard<std::mutex> lock(mutex_);
    if (fresh && !given_up_)
        WatchLocked(fresh);
    // A connection that cannot be shut down from outside could not be
    // given up; it is not used.
    if (watch_fd_ < 0) {
        vxsktDestroy(fresh);
        return false;
    }
    connection_ = fresh;
    return true;
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
        auto run = [link = link_, work = std::move(work)] {
            work(*link);
            {
                std::lock_guard<std::mutex> lock(link->mutex_);
                link->finished_ = true;
                link->UnwatchLocked();
            }
            g_main_context_wakeup(nullptr);
        };
        try {
            worker_ = std::thread(run);
        } catch (const std::system_error&) {
            // No thread to be had: wait the way it was done before threads.
            run();
        }
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
            must_join_ = true;
        }
    }

    // Ends the worker's part: TRUE when the work finished before the user
    // gave up (a worker that ends after that, even at once, does not count).
    gboolean End()
    {
        bool given_up = false;
        {
            std::lock_guard<std::mutex> lock(link_->mutex_);
            given_up = link_->given_up_;
        }
        if (worker_.joinable()) {
            if (!given_up || must_join_)
                worker_.join();
            else
                worker_.detach();
        }
        return !given_up;
    }

private:
    std::shared_ptr<DaemonLink> link_;
    std::thread worker_;
    bool must_join_ = false;
};

namespace {

// Shows the wait window once the wait has lasted a moment.
class ShowLater {
public:
    explicit ShowLater(GtkWidget* window)
        : window_(window), source_(g_timeout_add(kWaitWindowDelayMs, Show, this))
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
    GtkWidget* window = dlg->dialog.window;
    SetWaitText(window, printer);
    gtk_window_set_transient_for(GTK_WINDOW(window), over ? GTK_WINDOW(over) : nullptr);

    DaemonWait wait(link);
    dlg->current = &wait;
    {
        InputHeld held(window);
        ShowLater later(window);
        wait.Start(std::move(work));
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
