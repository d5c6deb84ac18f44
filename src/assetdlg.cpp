#include "assetdlg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interface.h"
#include "msgdlg.h"
#include "ppddata.h"
#include "printerops.h"
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

// Bit 15 of the timer: auto shutdown off; the hours stay in the low bits.
constexpr unsigned short kTimerOff = 0x8000;
constexpr unsigned short kTimerHours = 0x7FFF;
// What OK sends when the entry holds nothing at all.
constexpr long kDefaultHours = 4;
// The periods the list offers; "on" is never sent with any other.
constexpr long kMinHours = 1;
constexpr long kMaxHours = 8;

// Replaces the window model's connection by a new one to the selected
// printer's daemon; false when none could be opened.
bool Reconnect(UIAutoShutdownWnd* wnd)
{
    if (wnd->pVxskt) {
        vxsktDestroy(wnd->pVxskt);
        wnd->pVxskt = nullptr;
    }
    char* locale = SetLocaleString(wnd);
    if (!locale)
        return false;
    // vxsktNew cuts its argument at "@"; the model keeps the whole name for
    // the lookups of later openings and of OK.
    char printer[PRINTER_TEXT_SIZE];
    std::memcpy(printer, wnd->selectedPrinterName, sizeof printer);
    printer[sizeof printer - 1] = '\0';
    wnd->pVxskt = vxsktNew(printer, locale, nullptr, DAEMON_PORT);
    mem_free(locale);
    return wnd->pVxskt != nullptr;
}

// Reads the timer and reports the warning that stops the opening, or
// MSG_NONE when the dialog may be shown.
int ReadPrinterState(UIAutoShutdownWnd* wnd, unsigned short* timer)
{
    if (!Reconnect(wnd))
        return MSG_SOCKET_ERROR;
    char firmVer[FIRM_VER_SIZE] = {};
    if (GetFirmVer(wnd, firmVer) < 0)
        return MSG_PRINTER_INFO_FAILED;
    // A model without a minimum cannot be vouched for: the firmware warning
    // is the nearest truth.
    if (!FirmwareSupported(wnd->selectedModelName, firmVer))
        return MSG_FIRMWARE_UNSUPPORTED;
    if (GetAutoShutdownTime(wnd, timer) < 0)
        return MSG_PRINTER_INFO_FAILED;
    return MSG_NONE;
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
    const bool active = !(use_astimer & kTimerOff);
    std::snprintf(cur, sizeof cur, "%u", static_cast<unsigned>(use_astimer & kTimerHours));
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

const char* const AutoShutdownTimeTbl[9] = {"1", "2", "3", "4", "5", "6", "7", "8", nullptr};

// Makes the settings dialog record and its hidden window.
UIASSetDlg* CreateASSetDlg(UIDialog* parent)
{
    auto* dlg = reinterpret_cast<UIASSetDlg*>(CreateDialog(sizeof(UIASSetDlg), parent));
    if (!dlg)
        return nullptr;
    dlg->dialog.window = create_ShutdownS_dialog();
    if (!dlg->dialog.window) {
        DisposeDialog(&dlg->dialog);
        return nullptr;
    }
    return dlg;
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
    unsigned short timer = 0;
    const int warning = ReadPrinterState(wnd, &timer);
    if (warning != MSG_NONE) {
        ShowMsgDlg(wnd, warning);
        return FALSE;
    }
    InitASSetDlgWidgets(wnd, timer);
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
    GtkWidget* window = SettingsWindow(wnd);
    if (window)
        SetWidgetSensitive(window, "hbox64", active);
}

// Writes the timer the widgets give. 1: the dialog may close; 0: the write
// failed and the user was told.
int ASSetDlgOK(UIAutoShutdownWnd* wnd)
{
    GtkWidget* window = SettingsWindow(wnd);
    if (!window)
        return 1;
    const gboolean use_astime = GetToggleButtonActive(window, "ShutdownSDlg_checkbutton");
    const gchar* ptime = GetCurrComboText(window, "ShutdownSDlg_Time_combo_entry");
    // strtol rather than atoi: the same digits, without undefined overflow.
    const long hours = ptime ? std::strtol(ptime, nullptr, 10) : kDefaultHours;
    // The entry may still show a period the printer reported outside the
    // list; switching on with it would ask for what the user never chose.
    if (use_astime && (hours < kMinHours || hours > kMaxHours)) {
        ShowMsgDlg(wnd, MSG_SETTING_FAILED);
        return 0;
    }
    unsigned short time = static_cast<unsigned short>(hours & 0xFFFF);
    if (!use_astime)
        time |= kTimerOff;
    if (!GetUIPrinterInfo(wnd, wnd->selectedPrinterName))
        return 1;
    if (SetAutoShutdownTime(wnd, time) < 0) {
        ShowMsgDlg(wnd, MSG_SETTING_FAILED);
        return 0;
    }
    return 1;
}

// Closes the dialog and ends the nested loop of its ShowASSetDlg.
void HideASSetDlg(UIAutoShutdownWnd* wnd)
{
    if (wnd && wnd->asset_dlg)
        HideDialog(&wnd->asset_dlg->dialog);
}
