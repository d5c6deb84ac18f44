#include "assetdlg.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "daemonwait.h"
#include "data_process.h"
#include "interface.h"
#include "msgdlg.h"
#include "ppddata.h"
#include "vxsktmodule.h"
#include "widgets.h"

// --------------------------------------------------------- printer operations

namespace {

// Every request of the program is command 19 naming one item.
constexpr int kRequestCommand = 19;
constexpr int32_t kItemFirmwareVersion = 106520;
constexpr int32_t kItemReadTimer = 106523;
constexpr int32_t kItemWriteTimer = 102415;
// Bytes of the data part after its length field.
constexpr int32_t kQueryLength = 4;
constexpr int32_t kWriteLength = 8;

constexpr const char* kLocaleJapanese = "ja_JP.UTF-8";
constexpr const char* kLocaleEnglish = "en_GB.UTF-8";
constexpr const char* kCharset = "UTF-8";
constexpr int kFirmVerSize = 10;

// Stages the data part of an item request (the value only for a write)
// and runs the exchange. Returns SendRequest's result; -1 when there is
// no connection or staging was refused (then nothing stays staged).
int RequestItem(VxsktModule* vxskt, int32_t item, const int32_t* value)
{
    if (vxskt == nullptr) {
        return SEND_FAILED;
    }
    const bool staged =
        vxsktSetReqLong(vxskt, value != nullptr ? kWriteLength : kQueryLength) == 0 &&
        vxsktSetReqLong(vxskt, item) == 0 && (value == nullptr || vxsktSetReqLong(vxskt, *value) == 0);
    if (!staged) {
        vxsktResetReqData(vxskt);
        return SEND_FAILED;
    }
    return SendRequest(vxskt, kRequestCommand);
}

// The value that decides the language, by the order the C library itself
// follows, so that the daemon's texts and the window's agree: LC_ALL, then
// LC_CTYPE, then LANG; an empty variable counts as unset. Null when none.
const char* locale_variable(void)
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return nullptr;
}

}  // namespace

// Chooses the locale string sent with every request: Japanese when the
// deciding locale variable begins with "ja", else English.
// The caller frees the result; null when memory ran out.
char* SetLocaleString(UIAutoShutdownWnd* wnd)
{
    const char* value = locale_variable();
    mem_free(wnd->tocode);
    mem_free(wnd->fromcode);
    wnd->tocode = strdup(kCharset);
    wnd->fromcode = strdup(kCharset);
    const bool japanese = value != nullptr && std::strncmp(value, "ja", 2) == 0;
    return strdup(japanese ? kLocaleJapanese : kLocaleEnglish);
}

// Reads the printer's firmware version as "major.minor", two digits each.
int QueryFirmVer(VxsktModule* vxskt, char* firmVer)
{
    signed char major = 0;
    signed char minor = 0;
    const int result = RequestItem(vxskt, kItemFirmwareVersion, nullptr);
    if (result < 0) {
        return result;
    }
    if (vxsktGetResData(vxskt, &major, 1, 0) < 0 || vxsktGetResData(vxskt, &minor, 1, 0) < 0) {
        return -1;
    }
    std::snprintf(firmVer, kFirmVerSize, "%02d.%02d", major, minor);
    return 0;
}

// Reads the auto shutdown timer: bit 15 set means off, the low bits hours.
int QueryAutoShutdownTime(VxsktModule* vxskt, unsigned short* timer)
{
    int32_t value = 0;
    const int result = RequestItem(vxskt, kItemReadTimer, nullptr);
    if (result < 0) {
        return result;
    }
    if (vxsktGetResData(vxskt, &value, 3, 0) < 0) {
        return -1;
    }
    *timer = static_cast<unsigned short>(value & 0xFFFF);
    return 0;
}

// Writes a new auto shutdown timer; 0 when the daemon accepted it.
int WriteAutoShutdownTime(VxsktModule* vxskt, unsigned short timer)
{
    const int32_t value = timer;
    return RequestItem(vxskt, kItemWriteTimer, &value);
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

// Oldest driver whose printers answer the timer items.
constexpr char kMinDriverVersion[] = "2.56";
constexpr int kDaemonPort = 59787;
// Bit 15 of the timer: auto shutdown off; the hours stay in the low bits.
constexpr unsigned short kTimerOff = 0x8000;
constexpr unsigned short kTimerHours = 0x7FFF;
// What OK sends when the entry holds nothing at all.
constexpr long kDefaultHours = 4;
// The periods the list offers; "on" is never sent with any other.
constexpr long kMinHours = 1;
constexpr long kMaxHours = 8;

// Splits the decimal number at the start of `text` into its integer digits
// (leading zeros dropped) and fraction digits (trailing zeros dropped).
// False unless `text` begins with a digit.
bool split_decimal(const char* text, std::string* whole, std::string* fraction)
{
    if (!std::isdigit(static_cast<unsigned char>(*text)))
        return false;
    const char* p = text;
    while (*p == '0')
        ++p;
    while (std::isdigit(static_cast<unsigned char>(*p)))
        whole->push_back(*p++);
    if (*p == '.') {
        for (++p; std::isdigit(static_cast<unsigned char>(*p)); ++p)
            fraction->push_back(*p);
    }
    while (!fraction->empty() && fraction->back() == '0')
        fraction->pop_back();
    return true;
}

// Driver versions are decimal numbers: 10.00 is newer than 2.56, and 2.560
// is the same version.
bool driver_version_supported(const char* version)
{
    std::string whole, fraction, min_whole, min_fraction;
    if (!split_decimal(version, &whole, &fraction))
        return false;
    split_decimal(kMinDriverVersion, &min_whole, &min_fraction);
    if (whole.size() != min_whole.size())
        return whole.size() > min_whole.size();
    if (whole != min_whole)
        return whole > min_whole;
    return fraction >= min_fraction;
}

// An opening's daemon work and what it learnt. Shared with the worker,
// which outlives the opening when the user gives up.
struct Opening {
    std::string printer;  // the whole queue name, "queue" or "queue@host"
    std::string locale;
    std::string model;
    int warning = -1;  // the warning that stops the opening; -1: none
    unsigned short timer = 0;
};

// On the worker: a fresh connection, the firmware (which must meet the
// model's minimum), then the timer.
void ReadPrinterState(DaemonLink& link, Opening& opening)
{
    link.connection() = link.Open(opening.printer, opening.locale, kDaemonPort);
    if (!link.connection()) {
        opening.warning = 0;
        return;
    }
    char firmVer[kFirmVerSize] = {};
    if (QueryFirmVer(link.connection(), firmVer) < 0) {
        opening.warning = 1;
        return;
    }
    // A model without a minimum cannot be vouched for: the firmware warning
    // is the nearest truth.
    const char* minFirmVersion = GetMinFirmVersion(opening.model.c_str());
    if (!minFirmVersion || std::strcmp(firmVer, minFirmVersion) < 0) {
        opening.warning = 3;
        return;
    }
    if (QueryAutoShutdownTime(link.connection(), &opening.timer) < 0)
        opening.warning = 1;
}

enum class Written { kConfirmed, kFailed, kOtherValue };

// OK's daemon work and its outcome, shared like an opening's.
struct Write {
    std::string printer;
    std::string locale;
    unsigned short wanted = 0;
    Written outcome = Written::kFailed;
    unsigned short reported = 0;  // what the printer holds, for kOtherValue
};

// On the worker: the write, then the timer read back, so that a printer
// that accepts a value and keeps another is not taken at its word. OK after
// a given-up wait has no connection left and opens a fresh one.
void WriteAndReadBack(DaemonLink& link, Write& write)
{
    if (!link.connection() && !write.locale.empty())
        link.connection() = link.Open(write.printer, write.locale, kDaemonPort);
    if (!link.connection())
        return;
    if (WriteAutoShutdownTime(link.connection(), write.wanted) < 0 ||
        QueryAutoShutdownTime(link.connection(), &write.reported) < 0)
        return;
    write.outcome = write.reported == write.wanted ? Written::kConfirmed : Written::kOtherValue;
}

// The whole queue name of the selection (the model keeps it for the lookups
// of later openings and of OK; a connection cuts it at "@").
std::string selected_printer(const UIAutoShutdownWnd* wnd)
{
    return std::string(wnd->selectedPrinterName,
                       strnlen(wnd->selectedPrinterName, sizeof wnd->selectedPrinterName));
}

// The locale string for a connection; empty when memory ran out.
std::string choose_locale(UIAutoShutdownWnd* wnd)
{
    char* locale = SetLocaleString(wnd);
    std::string chosen = locale ? locale : "";
    mem_free(locale);
    return chosen;
}

GtkWidget* settings_window(UIAutoShutdownWnd* wnd)
{
    return wnd && wnd->asset_dlg ? wnd->asset_dlg->dialog.window : nullptr;
}

// Whether the period list already offers exactly the table's texts.
// Rebuilding the list's items is most of what an opening costs on the GUI
// side, and the texts never change between openings.
bool period_list_current(GtkWidget* window)
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
    GtkWidget* window = settings_window(wnd);
    char cur[32] = {};
    const bool active = !(use_astimer & kTimerOff);
    std::snprintf(cur, sizeof cur, "%u", static_cast<unsigned>(use_astimer & kTimerHours));
    if (period_list_current(window)) {
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

const char* const AutoShutdownTimeTbl[9] = {"1", "2", "3", "4", "5", "6", "7", "8", nullptr};

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
    if (!settings_window(wnd))
        return FALSE;
    const UIPrinterInfo* printerInfo = GetUIPrinterInfo(wnd, wnd->selectedPrinterName);
    if (!printerInfo)
        return FALSE;
    if (!driver_version_supported(printerInfo->driverVersion)) {
        ShowMsgDlg(wnd, 4);
        return FALSE;
    }
    // The connection of an earlier opening is closed here, before the new
    // one is opened.
    if (wnd->pVxskt) {
        vxsktDestroy(wnd->pVxskt);
        wnd->pVxskt = nullptr;
    }
    auto opening = std::make_shared<Opening>();
    opening->printer = selected_printer(wnd);
    opening->locale = choose_locale(wnd);
    opening->model = wnd->selectedModelName;
    if (opening->locale.empty()) {
        ShowMsgDlg(wnd, 0);
        return FALSE;
    }
    auto link = std::make_shared<DaemonLink>();
    if (!WaitForDaemon(&wnd->asset_dlg->wait, wnd->dialog.window, opening->printer.c_str(), link,
                       [opening](DaemonLink& l) { ReadPrinterState(l, *opening); }))
        return FALSE;
    wnd->pVxskt = link->TakeConnection();
    if (opening->warning >= 0) {
        ShowMsgDlg(wnd, opening->warning);
        return FALSE;
    }
    InitASSetDlgWidgets(wnd, opening->timer);
    return TRUE;
}

// Opens the dialog for the selected printer and returns once it is closed.
void ShowASSetDlg(UIAutoShutdownWnd* wnd)
{
    if (PrepareASSetDlg(wnd))
        ShowDialog(&wnd->asset_dlg->dialog);
}

// Follows the check box: the period row is usable only while it is checked.
void UpdateASSetDlgWidgets(UIAutoShutdownWnd* wnd, int active)
{
    GtkWidget* window = settings_window(wnd);
    if (window)
        SetWidgetSensitive(window, "hbox64", active);
}

// Writes the timer the widgets give and reads it back. 1: the dialog may
// close; 0: it stays, after the user gave up the wait or was told that the
// write failed (then showing the value the printer holds, when it reported
// another one than the one sent).
int ASSetDlgOK(UIAutoShutdownWnd* wnd)
{
    GtkWidget* window = settings_window(wnd);
    if (!window)
        return 1;
    const gboolean use_astime = GetToggleButtonActive(window, "ShutdownSDlg_checkbutton");
    const gchar* ptime = GetCurrComboText(window, "ShutdownSDlg_Time_combo_entry");
    // strtol rather than atoi: the same digits, without undefined overflow.
    const long hours = ptime ? std::strtol(ptime, nullptr, 10) : kDefaultHours;
    // The entry may still show a period the printer reported outside the
    // list; switching on with it would ask for what the user never chose.
    if (use_astime && (hours < kMinHours || hours > kMaxHours)) {
        ShowMsgDlg(wnd, 2);
        return 0;
    }
    unsigned short time = static_cast<unsigned short>(hours & 0xFFFF);
    if (!use_astime)
        time |= kTimerOff;
    if (!GetUIPrinterInfo(wnd, wnd->selectedPrinterName))
        return 1;
    auto write = std::make_shared<Write>();
    write->printer = selected_printer(wnd);
    write->locale = choose_locale(wnd);
    write->wanted = time;
    auto link = std::make_shared<DaemonLink>(wnd->pVxskt);
    wnd->pVxskt = nullptr;
    if (!WaitForDaemon(&wnd->asset_dlg->wait, window, write->printer.c_str(), link,
                       [write](DaemonLink& l) { WriteAndReadBack(l, *write); }))
        return 0;
    wnd->pVxskt = link->TakeConnection();
    if (write->outcome == Written::kConfirmed)
        return 1;
    if (write->outcome == Written::kOtherValue)
        InitASSetDlgWidgets(wnd, write->reported);
    ShowMsgDlg(wnd, 2);
    return 0;
}

// Closes the dialog and ends the nested loop of its ShowASSetDlg.
void HideASSetDlg(UIAutoShutdownWnd* wnd)
{
    if (wnd && wnd->asset_dlg)
        HideDialog(&wnd->asset_dlg->dialog);
}
