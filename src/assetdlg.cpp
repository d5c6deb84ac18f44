#include "assetdlg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "daemonwait.h"
#include "interface.h"
#include "msgdlg.h"
#include "ppddata.h"
#include "printerops.h"
#include "startcheck.h"
#include "vxsktmodule.h"
#include "widgets.h"

// --------------------------------------------------------- printer operations

namespace {

constexpr const char* kCharset = "UTF-8";

}  // namespace

// The locale string for a new connection; renews the model's character-set
// names on the way. The caller frees the result; null when memory ran out.
char* SetLocaleString(UIAutoShutdownWnd* wnd)
{
    mem_free(wnd->tocode);
    mem_free(wnd->fromcode);
    wnd->tocode = strdup(kCharset);
    wnd->fromcode = strdup(kCharset);
    return ChooseLocaleString();
}

int GetFirmVer(UIAutoShutdownWnd* wnd, char* firmVer)
{
    return QueryFirmVer(wnd->pVxskt, firmVer);
}

int GetAutoShutdownTime(UIAutoShutdownWnd* wnd, unsigned short* timer)
{
    return QueryAutoShutdownTime(wnd->pVxskt, timer);
}

int SetAutoShutdownTime(UIAutoShutdownWnd* wnd, unsigned short timer)
{
    return WriteAutoShutdownTime(wnd->pVxskt, timer);
}

// ------------------------------------------------------------ settings dialog

namespace {

// ------------------------------------ on the worker thread: no toolkit here

// An opening's daemon work and what it learnt. Shared with the worker,
// which outlives the opening when the user gives up.
struct Opening {
    std::string printer;  // the whole queue name, "queue" or "queue@host"
    std::string locale;
    std::string model;
    int warning = MSG_NONE;  // the warning that stops the opening
    unsigned short timer = 0;
};

// A fresh connection, the firmware (which must meet the model's minimum),
// then the timer.
void ReadPrinterState(DaemonJob& job, Opening& opening)
{
    job.connection() = job.Open(opening.printer, opening.locale, DAEMON_PORT);
    if (!job.connection()) {
        opening.warning = MSG_SOCKET_ERROR;
        return;
    }
    char firmVer[FIRM_VER_SIZE] = {};
    if (QueryFirmVer(job.connection(), firmVer) < 0) {
        opening.warning = MSG_PRINTER_INFO_FAILED;
        return;
    }
    // A model without a minimum cannot be vouched for: the firmware warning
    // is the nearest truth.
    if (!FirmwareSupported(opening.model.c_str(), firmVer)) {
        opening.warning = MSG_FIRMWARE_UNSUPPORTED;
        return;
    }
    if (QueryAutoShutdownTime(job.connection(), &opening.timer) < 0)
        opening.warning = MSG_PRINTER_INFO_FAILED;
}

// OK's daemon work and what the printer said to it, shared like an
// opening's.
struct Write {
    std::string printer;
    std::string locale;
    unsigned short wanted = 0;
    WriteReport report{WRITE_FAILED, false, 0, false};
};

// What the read-back after a lost reply needs for its fresh connection;
// lives in the worker's frame around the write.
struct Reopen {
    DaemonJob& job;
    const Write& write;
};

VxsktModule* ReopenForWrite(void* ctx)
{
    const auto* reopen = static_cast<const Reopen*>(ctx);
    return reopen->job.Open(reopen->write.printer, reopen->write.locale, DAEMON_PORT);
}

// The write and read-back of quellonctl's verified write, so that a printer
// that accepts a value and keeps another is not taken at its word. Unlike
// quellonctl, OK writes even a value the printer already holds: it sends
// what the user confirmed, as it always has. OK after a given-up wait has
// no connection left and opens a fresh one.
void WriteVerified(DaemonJob& job, Write& write)
{
    if (!job.connection() && !write.locale.empty())
        job.connection() = job.Open(write.printer, write.locale, DAEMON_PORT);
    if (!job.connection() || !job.BeginWrite())
        return;
    Reopen reopen{job, write};
    write.report = WriteAndReadBack(&job.connection(), write.wanted, ReopenForWrite, &reopen);
}

// ------------------------------------------------------ on the GUI thread

// Whether the main window was asked to close during the last wait.
bool CloseRequested(const UIAutoShutdownWnd* wnd)
{
    return wnd && wnd->asset_dlg && wnd->asset_dlg->wait.close_requested;
}

// After the user gave up OK's wait. Before the new timer went out nothing
// happened and nothing is said: the dialog stays for another try. After
// it, the printer may hold it or not, so the user is told, and the dialog
// closes: its next opening reads what the printer holds.
int GaveUpWrite(UIAutoShutdownWnd* wnd, DaemonJob& job)
{
    const bool sent = job.WriteBegun();
    if (sent)
        ShowMsgDlg(wnd, MSG_SETTING_SENT);
    return sent || CloseRequested(wnd) ? 1 : 0;
}

// The whole queue name of the selection (the model keeps it for the lookups
// of later openings and of OK; a connection cuts it at "@").
std::string SelectedPrinter(const UIAutoShutdownWnd* wnd)
{
    return std::string(wnd->selectedPrinterName,
                       strnlen(wnd->selectedPrinterName, sizeof wnd->selectedPrinterName));
}

// The locale string for a connection; empty when memory ran out.
std::string ChooseLocale(UIAutoShutdownWnd* wnd)
{
    char* locale = SetLocaleString(wnd);
    std::string chosen = locale ? locale : "";
    mem_free(locale);
    return chosen;
}

GtkWidget* SettingsWindow(UIAutoShutdownWnd* wnd)
{
    return wnd && wnd->asset_dlg ? wnd->asset_dlg->dialog.window : nullptr;
}

// Whether the period list already offers exactly the table's texts.
// Rebuilding the list's items is most of what an opening costs on the GUI
// side, and the texts never change between openings.
bool PeriodListCurrent(GtkWidget* window)
{
    GtkWidget* combo = getWidget(window, "ShutdownSDlg_Time_combo");
    if (!combo || !GTK_IS_COMBO(combo))
        return false;
    GList* items = gtk_container_get_children(GTK_CONTAINER(GTK_COMBO(combo)->list));
    const char* const* hours = AutoShutdownTimeTbl;
    bool same = true;
    for (GList* item = items; item && same; item = item->next, ++hours) {
        GtkWidget* label = gtk_bin_get_child(GTK_BIN(item->data));
        same = *hours && label && GTK_IS_LABEL(label) &&
               std::strcmp(gtk_label_get_text(GTK_LABEL(label)), *hours) == 0;
    }
    g_list_free(items);
    return same && !*hours;
}

// Puts a timer value into the widgets: the box checked while auto shutdown
// is on, the hours shown in both states.
void InitASSetDlgWidgets(UIAutoShutdownWnd* wnd, unsigned short use_astimer)
{
    SigDisable();
    GtkWidget* window = SettingsWindow(wnd);
    char cur[32] = {};
    const bool active = !(use_astimer & TIMER_OFF);
    std::snprintf(cur, sizeof cur, "%u", static_cast<unsigned>(use_astimer & TIMER_HOURS));
    if (PeriodListCurrent(window)) {
        gtk_entry_set_text(GTK_ENTRY(getWidget(window, "ShutdownSDlg_Time_combo_entry")), cur);
    } else {
        GList* glist = nullptr;
        for (const char* const* hours = AutoShutdownTimeTbl; *hours; ++hours)
            glist = g_list_append(glist, const_cast<char*>(*hours));
        SetGListToCombo(window, glist, "ShutdownSDlg_Time_combo", cur);
        g_list_free(glist);
    }
    SetActiveCheckButton(window, "ShutdownSDlg_checkbutton", active);
    SetWidgetSensitive(window, "hbox64", active);
    SigEnable();
}

}  // namespace

// The periods the list offers; "on" is never sent with any other.
const char* const AutoShutdownTimeTbl[] = {"1", "2", "3", "4", "5", "6", "7", "8", nullptr};
static_assert(std::size(AutoShutdownTimeTbl) == TIMER_MAX_HOURS - TIMER_MIN_HOURS + 2,
              "one row an hour the timer allows, and the end row");

// Makes the settings dialog record and its hidden window.
UIASSetDlg* CreateASSetDlg(UIDialog* parent)
{
    auto* dlg = reinterpret_cast<UIASSetDlg*>(CreateDialog(sizeof(UIASSetDlg), parent));
    if (!dlg)
        return nullptr;
    dlg->dialog.window = create_ShutdownS_dialog();
    dlg->wait.dialog.window = create_Wait_dialog();
    if (!dlg->dialog.window || !dlg->wait.dialog.window) {
        DisposeDialog(&dlg->dialog);
        return nullptr;
    }
    dlg->wait.dialog.parent = &dlg->dialog;
    dlg->wait.dialog.size = sizeof dlg->wait;
    return dlg;
}

// The wait window of the dialog's openings and OK; null without a dialog.
UIWaitDlg* ASSetWaitDlg(UIAutoShutdownWnd* wnd)
{
    return wnd && wnd->asset_dlg ? &wnd->asset_dlg->wait : nullptr;
}

// Everything an opening does before the dialog is shown: checks the
// selected printer, reads its timer over a fresh connection and fills the
// widgets. FALSE when the opening stops (after its warning, if it has one).
gboolean PrepareASSetDlg(UIAutoShutdownWnd* wnd)
{
    // Without its window the dialog has nothing to show; the button stays
    // a no-op rather than reporting a printer fault that did not happen.
    if (!SettingsWindow(wnd))
        return FALSE;
    const UIPrinterInfo* printerInfo = GetUIPrinterInfo(wnd, wnd->selectedPrinterName);
    if (!printerInfo)
        return FALSE;
    if (!DriverVersionSupported(printerInfo->driverVersion)) {
        ShowMsgDlg(wnd, MSG_DRIVER_UNSUPPORTED);
        return FALSE;
    }
    // The connection of an earlier opening is closed here, before the new
    // one is opened.
    if (wnd->pVxskt) {
        vxsktDestroy(wnd->pVxskt);
        wnd->pVxskt = nullptr;
    }
    auto opening = std::make_shared<Opening>();
    opening->printer = SelectedPrinter(wnd);
    opening->locale = ChooseLocale(wnd);
    opening->model = wnd->selectedModelName;
    if (opening->locale.empty()) {
        ShowMsgDlg(wnd, MSG_SOCKET_ERROR);
        return FALSE;
    }
    auto job = std::make_shared<DaemonJob>();
    if (!WaitForDaemon(&wnd->asset_dlg->wait, wnd->dialog.window, opening->printer.c_str(), job,
                       [opening](DaemonJob& j) { ReadPrinterState(j, *opening); }))
        return FALSE;
    wnd->pVxskt = job->TakeConnection();
    if (opening->warning != MSG_NONE) {
        ShowMsgDlg(wnd, opening->warning);
        return FALSE;
    }
    InitASSetDlgWidgets(wnd, opening->timer);
    return TRUE;
}

// Opens the dialog for the selected printer and returns once it is closed.
// A close request of the main window during one of its waits ends the
// program here, once the dialog is out of the way.
void ShowASSetDlg(UIAutoShutdownWnd* wnd)
{
    if (PrepareASSetDlg(wnd))
        ShowDialog(&wnd->asset_dlg->dialog);
    if (CloseRequested(wnd))
        DisposeAutoShutdownWnd();
}

// Follows the check box: the period row is usable only while it is checked.
void UpdateASSetDlgWidgets(UIAutoShutdownWnd* wnd, int active)
{
    GtkWidget* window = SettingsWindow(wnd);
    if (window)
        SetWidgetSensitive(window, "hbox64", active);
}

// Writes the timer the widgets give, verified: written and read back.
// 1: the dialog may close (also once a given-up write has been reported,
// or the main window is to close); 0: it stays, after the user gave up
// the wait before anything was sent or was told that the write failed
// (then showing the value the printer holds, when it reported another).
int ASSetDlgOK(UIAutoShutdownWnd* wnd)
{
    GtkWidget* window = SettingsWindow(wnd);
    if (!window)
        return 1;
    const gboolean use_astime = GetToggleButtonActive(window, "ShutdownSDlg_checkbutton");
    const gchar* ptime = GetCurrComboText(window, "ShutdownSDlg_Time_combo_entry");
    // strtol rather than atoi: the same digits, without undefined overflow.
    // An entry holding nothing at all sends the usual period.
    const long hours = ptime ? std::strtol(ptime, nullptr, 10) : TIMER_DEFAULT_HOURS;
    // The entry may still show a period the printer reported outside the
    // list; switching on with it would ask for what the user never chose.
    if (use_astime && (hours < TIMER_MIN_HOURS || hours > TIMER_MAX_HOURS)) {
        ShowMsgDlg(wnd, MSG_SETTING_FAILED);
        return 0;
    }
    unsigned short time = static_cast<unsigned short>(hours & 0xFFFF);
    if (!use_astime)
        time |= TIMER_OFF;
    if (!GetUIPrinterInfo(wnd, wnd->selectedPrinterName))
        return 1;
    auto write = std::make_shared<Write>();
    write->printer = SelectedPrinter(wnd);
    write->locale = ChooseLocale(wnd);
    write->wanted = time;
    auto job = std::make_shared<DaemonJob>(wnd->pVxskt);
    wnd->pVxskt = nullptr;
    if (!WaitForDaemon(&wnd->asset_dlg->wait, window, write->printer.c_str(), job,
                       [write](DaemonJob& j) { WriteVerified(j, *write); }))
        return GaveUpWrite(wnd, *job);
    wnd->pVxskt = job->TakeConnection();
    const WriteReport& report = write->report;
    if (report.outcome == WRITE_CHANGED || report.outcome == WRITE_UNCHANGED)
        return 1;
    // A printer that took the write (or may have) and reports another value
    // than the one sent: the dialog shows what it holds. A refused write
    // leaves the user's choice for another try.
    if (report.held_known && report.outcome != WRITE_REFUSED)
        InitASSetDlgWidgets(wnd, report.held);
    ShowMsgDlg(wnd, MSG_SETTING_FAILED);
    return 0;
}

// Closes the dialog and ends the nested loop of its ShowASSetDlg.
void HideASSetDlg(UIAutoShutdownWnd* wnd)
{
    if (wnd && wnd->asset_dlg)
        HideDialog(&wnd->asset_dlg->dialog);
}
