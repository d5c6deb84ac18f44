// The warning and settings dialogs in-process, on a real X server, against
// the daemon simulator on loopback.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "assetdlg.h"
#include "callbacks.h"
#include "dialog_model.h"
#include "gui.h"
#include "msgdlg.h"
#include "printerops.h"
#include "startcheck.h"
#include "support.h"
#include "tcp_peer.h"
#include "vxsktmodule.h"
#include "widgets.h"
#include "wire.h"
#include "zeld_sim.h"

namespace {

using namespace harness;

constexpr char kPrinterCheck[] =
    "This may be due to one or more of the following reasons:\n\n"
    "-The printer is not turned on\n-The cable is not properly connected\n"
    "-The printer is busy\n\nCheck the printer status and try again.";

// Points this process's connections at `sim`.
class SimFixture : public ::testing::Test {
protected:
    explicit SimFixture(std::vector<harness::SimPrinter> printers = {{"lp1", 1, 1, 4}})
    {
        harness::ZeldSim::Options o;
        o.printers = std::move(printers);
        sim_ = std::make_unique<harness::ZeldSim>(o);
        setenv("ZELD_PORT", std::to_string(sim_->port()).c_str(), 1);
        unsetenv("LC_CTYPE");
        setenv("LANG", "C", 1);
    }

    long LastWrittenValue() const
    {
        long value = -1;
        for (const std::string& line : sim_->Requests()) {
            const size_t at = line.find(" item=102415 value=");
            if (at != std::string::npos)
                value = std::strtol(line.c_str() + at + 19, nullptr, 10);
        }
        return value;
    }

    std::unique_ptr<harness::ZeldSim> sim_;
};

const char* Text(GtkWidget* label)
{
    return gtk_label_get_text(GTK_LABEL(label));
}

TEST(Windows, EveryWidgetOfBothDialogsIsRegisteredOnItsTopLevel)
{
    DialogModel m({});
    const std::vector<const char*> message{
        "Msg_dialog",   "vbox47",       "frame55",          "MsgDlg_label",
        "hbuttonbox10", "hbuttonbox11", "MsgDlg_OK_button", "MsgDlg_Cancel_button"};
    const std::vector<const char*> settings{"ShutdownS_dialog",
                                            "vbox45",
                                            "frame54",
                                            "vbox46",
                                            "ShutdownSDlg_checkbutton",
                                            "hbox64",
                                            "label163",
                                            "ShutdownSDlg_Time_combo",
                                            "ShutdownSDlg_Time_combo_entry",
                                            "label165",
                                            "hbuttonbox8",
                                            "hbuttonbox9",
                                            "ShutdownSDlg_OK_button",
                                            "ShutdownSDlg_Cancel_button"};
    for (const auto& [window, names] :
         {std::pair{m.message(), message}, std::pair{m.settings(), settings}}) {
        EXPECT_FALSE(GTK_WIDGET_VISIBLE(window)) << names[0] << " is built hidden";
        EXPECT_EQ(m.Widget(window, names[0]), window);
        for (const char* name : names) {
            GtkWidget* widget = m.Widget(window, name);
            ASSERT_NE(widget, nullptr) << name;
            EXPECT_EQ(gtk_widget_get_toplevel(widget), window) << name;
        }
    }
    // From inside the period list's popup the lookup climbs to the dialog.
    GtkWidget* combo = m.Widget(m.settings(), "ShutdownSDlg_Time_combo");
    EXPECT_EQ(lookup_widget(GTK_COMBO(combo)->list, "ShutdownSDlg_OK_button"),
              m.Widget(m.settings(), "ShutdownSDlg_OK_button"));
    EXPECT_FALSE(gtk_editable_get_editable(
        GTK_EDITABLE(m.Widget(m.settings(), "ShutdownSDlg_Time_combo_entry"))));
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(m.settings())));
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(m.message())));
}

struct Shown {
    std::string title;
    std::string text;
    bool ok_visible = false;
    bool cancel_visible = false;
    float xalign = -1;
};

// Shows warning `type` and reads the window while it is up; OK closes it.
Shown ShowWarning(DialogModel& m, int type)
{
    Shown seen;
    GtkWidget* win = m.message();
    EXPECT_TRUE(ShowAndAct(
        win, [&] { ShowMsgDlg(m.wnd(), type); },
        [&] {
            seen.title = gtk_window_get_title(GTK_WINDOW(win));
            seen.text = Text(m.Widget(win, "MsgDlg_label"));
            seen.ok_visible = GTK_WIDGET_VISIBLE(m.Widget(win, "MsgDlg_OK_button"));
            seen.cancel_visible = GTK_WIDGET_VISIBLE(m.Widget(win, "MsgDlg_Cancel_button"));
            gtk_misc_get_alignment(GTK_MISC(m.Widget(win, "MsgDlg_label")), &seen.xalign, nullptr);
            Click(win, "MsgDlg_OK_button");
        }));
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(win)) << "OK hides the warning";
    return seen;
}

struct MessageCase {
    int type;
    std::string text;
};

void PrintTo(const MessageCase& c, std::ostream* os)
{
    *os << "type " << c.type;
}

class Messages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(Messages, EachTypeShowsItsTextUnderWarningWithOkAlone)
{
    DialogModel m({});
    const Shown seen = ShowWarning(m, GetParam().type);
    EXPECT_EQ(seen.title, "Warning");
    EXPECT_EQ(seen.text, GetParam().text);
    EXPECT_TRUE(seen.ok_visible);
    EXPECT_FALSE(seen.cancel_visible);
    EXPECT_EQ(seen.xalign, 0.0f) << "lines start at the left";
    EXPECT_EQ(m.wnd()->msg_dlg->type, GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(
    Warning, Messages,
    ::testing::Values(
        MessageCase{0, "A socket communication error occurred.\n"
                       "Start the zeld daemon and try the operation again."},
        MessageCase{1, std::string("Could not acquire the printer information.\n") + kPrinterCheck},
        MessageCase{2, std::string("Could not perform auto shutdown settings.\n") + kPrinterCheck},
        MessageCase{3, "The firmware version of the selected printer is not supported."},
        MessageCase{4, std::string("The driver version of the selected printer is not supported.\n"
                                   "Use driver version ") +
                           MinDriverVersion() + " or later."},
        MessageCase{5, "The new auto shutdown setting was sent to the printer,\n"
                       "but its answer was not awaited: the printer may have applied it.\n"
                       "Open the settings again to see what the printer holds."}));

TEST(Warning, UnknownTypeShowsThePreviousMessageAgain)
{
    DialogModel m({});
    ShowWarning(m, 3);
    const Shown seen = ShowWarning(m, 99);
    EXPECT_EQ(seen.text, "The firmware version of the selected printer is not supported.");
    EXPECT_EQ(m.wnd()->msg_dlg->type, MSG_FIRMWARE_UNSUPPORTED);
}

TEST(Warning, CloseRequestHidesItAndTheNextMessageUsesTheSameWindow)
{
    DialogModel m({});
    GtkWidget* win = m.message();
    ASSERT_TRUE(ShowAndAct(
        win, [&] { ShowMsgDlg(m.wnd(), MSG_SOCKET_ERROR); },
        [&] {
            GdkEvent* event = gdk_event_new(GDK_DELETE);
            event->any.window = GDK_WINDOW(g_object_ref(win->window));
            gtk_main_do_event(event);
            gdk_event_free(event);
        }));
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(win));
    EXPECT_EQ(ShowWarning(m, 4).title, "Warning");
    EXPECT_EQ(m.message(), win);
}

TEST(Warning, WithoutItsWindowTheMessageGoesToStandardError)
{
    DialogModel m({});
    UIMsgDlg* kept = m.wnd()->msg_dlg;
    m.wnd()->msg_dlg = nullptr;
    const std::string err =
        harness::CaptureStderr([&] { ShowMsgDlg(m.wnd(), MSG_FIRMWARE_UNSUPPORTED); });
    EXPECT_NE(err.find("The firmware version of the selected printer is not supported."),
              std::string::npos);
    HideMsgDlg(m.wnd());
    m.wnd()->msg_dlg = kept;
}

struct Filled {
    bool checked = false;
    bool row_sensitive = false;
    std::string entry;
    std::vector<std::string> choices;
};

Filled ReadSettings(DialogModel& m)
{
    GtkWidget* win = m.settings();
    Filled f;
    f.checked = GetToggleButtonActive(win, "ShutdownSDlg_checkbutton");
    f.row_sensitive = GTK_WIDGET_SENSITIVE(m.Widget(win, "hbox64"));
    f.entry = GetCurrComboText(win, "ShutdownSDlg_Time_combo_entry");
    GtkWidget* combo = m.Widget(win, "ShutdownSDlg_Time_combo");
    GList* items = gtk_container_get_children(GTK_CONTAINER(GTK_COMBO(combo)->list));
    for (GList* i = items; i; i = i->next) {
        GtkWidget* label = gtk_bin_get_child(GTK_BIN(i->data));
        f.choices.push_back(Text(label));
    }
    g_list_free(items);
    return f;
}

struct FillCase {
    uint16_t timer;
    bool checked;
    const char* entry;
};

void PrintTo(const FillCase& c, std::ostream* os)
{
    *os << "timer " << c.timer;
}

class Fill : public SimFixture, public ::testing::WithParamInterface<FillCase> {
protected:
    Fill() : SimFixture({{"lp1", 1, 1, GetParam().timer}}) {}
};

TEST_P(Fill, TheTimerReadGivesCheckBoxRowAndEntry)
{
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    const Filled f = ReadSettings(m);
    EXPECT_EQ(f.checked, GetParam().checked);
    EXPECT_EQ(f.row_sensitive, GetParam().checked);
    EXPECT_EQ(f.entry, GetParam().entry);
    EXPECT_EQ(f.choices, (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
}

INSTANTIATE_TEST_SUITE_P(Settings, Fill,
                         ::testing::Values(FillCase{4, true, "4"}, FillCase{0x8005, false, "5"},
                                           FillCase{0, true, "0"}, FillCase{12, true, "12"},
                                           FillCase{0x8000, false, "0"},
                                           FillCase{0xFFFF, false, "32767"}));

class Settings : public SimFixture {};

// Presses OK and expects the settings warning; OK's result (-1 when no
// warning came).
int OkExpectingSettingsWarning(DialogModel& m)
{
    int result = -1;
    EXPECT_TRUE(ShowAndAct(
        m.message(), [&] { result = ASSetDlgOK(m.wnd()); },
        [&] {
            EXPECT_EQ(std::string(Text(m.Widget(m.message(), "MsgDlg_label")))
                          .rfind("Could not perform auto shutdown settings.", 0),
                      0u);
            Click(m.message(), "MsgDlg_OK_button");
        }));
    return result;
}

TEST_F(Settings, CheckBoxMovesThePeriodRowOnlyOutsideSuppressedSections)
{
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));  // timer 4: checked, row sensitive
    GtkWidget* win = m.settings();
    GtkToggleButton* box = GTK_TOGGLE_BUTTON(m.Widget(win, "ShutdownSDlg_checkbutton"));
    GtkWidget* row = m.Widget(win, "hbox64");

    SigDisable();
    gtk_toggle_button_set_active(box, FALSE);
    SigEnable();
    EXPECT_TRUE(GTK_WIDGET_SENSITIVE(row)) << "the program's own change is not followed";

    gtk_toggle_button_set_active(box, TRUE);
    gtk_toggle_button_set_active(box, FALSE);
    EXPECT_FALSE(GTK_WIDGET_SENSITIVE(row)) << "the user's unchecking is";
    gtk_toggle_button_set_active(box, TRUE);
    EXPECT_TRUE(GTK_WIDGET_SENSITIVE(row));
    EXPECT_TRUE(SigDisable()) << "the handler leaves the counter as it found it";
    SigEnable();
}

struct OkCase {
    bool checked;
    const char* entry;
    long sent;
};

void PrintTo(const OkCase& c, std::ostream* os)
{
    *os << (c.checked ? "on, \"" : "off, \"") << c.entry << "\"";
}

class OkValues : public SimFixture, public ::testing::WithParamInterface<OkCase> {};

TEST_P(OkValues, OkSendsCheckBoxAndEntryAsOneTimer)
{
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    GtkWidget* win = m.settings();
    SetActiveCheckButton(win, "ShutdownSDlg_checkbutton", GetParam().checked);
    gtk_entry_set_text(GTK_ENTRY(m.Widget(win, "ShutdownSDlg_Time_combo_entry")), GetParam().entry);
    EXPECT_EQ(ASSetDlgOK(m.wnd()), 1);
    ASSERT_TRUE(sim_->WaitForLog("item=102415"));
    EXPECT_EQ(LastWrittenValue(), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Settings, OkValues,
                         ::testing::Values(OkCase{true, "3", 3}, OkCase{false, "3", 0x8003},
                                           OkCase{true, "1", 1}, OkCase{true, "8", 8},
                                           OkCase{false, "8", 0x8008}, OkCase{false, "0", 0x8000},
                                           OkCase{false, "12", 0x800C}));

// A period the printer reported outside 1 to 8 may stay in the entry; OK
// must not switch on with it, but warn and leave the dialog for a choice.
TEST_F(Settings, OnWithAPeriodOutsideTheListSendsNothingAndStaysOpen)
{
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    GtkWidget* win = m.settings();
    SetActiveCheckButton(win, "ShutdownSDlg_checkbutton", TRUE);
    for (const char* entry : {"0", "9", "12", "", "65537", "-1"}) {
        SCOPED_TRACE(entry);
        gtk_entry_set_text(GTK_ENTRY(m.Widget(win, "ShutdownSDlg_Time_combo_entry")), entry);
        EXPECT_EQ(OkExpectingSettingsWarning(m), 0) << "the dialog closed";
    }
    EXPECT_EQ(sim_->CountLog("item=102415"), 0u) << "a timer was written";
}

TEST_F(Settings, EachOpeningRefillsTheWidgetsFromThePrinter)
{
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    GtkWidget* win = m.settings();
    SetActiveCheckButton(win, "ShutdownSDlg_checkbutton", FALSE);
    gtk_entry_set_text(GTK_ENTRY(m.Widget(win, "ShutdownSDlg_Time_combo_entry")), "7");
    ASSERT_EQ(ASSetDlgOK(m.wnd()), 1);

    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    const Filled f = ReadSettings(m);
    EXPECT_FALSE(f.checked);
    EXPECT_FALSE(f.row_sensitive);
    EXPECT_EQ(f.entry, "7");
    EXPECT_EQ(f.choices, (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
}

TEST_F(Settings, RefusedWriteWarnsAndKeepsTheDialogOpen)
{
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    sim_->SetFault("lp1 102415 refuse 1");
    EXPECT_EQ(OkExpectingSettingsWarning(m), 0);
    sim_->ClearFaults();
    EXPECT_EQ(ASSetDlgOK(m.wnd()), 1) << "OK works again on the same connection";
}

// The daemon takes the write, then drops the connection before the
// read-back: asked once more on a fresh one, the printer holds the value.
TEST_F(Settings, AnAcceptedWriteWhoseConnectionDropsClosesAsSaved)
{
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    sim_->SetFault("lp1 102415 close-after-header count 1");
    gtk_entry_set_text(GTK_ENTRY(m.Widget(m.settings(), "ShutdownSDlg_Time_combo_entry")), "6");
    LoopGuard guard;  // a warning would wait for a click forever
    EXPECT_EQ(ASSetDlgOK(m.wnd()), 1);
    EXPECT_EQ(sim_->CountLog("item=102415"), 1u);
    EXPECT_EQ(sim_->StoredTimer("lp1"), std::optional<uint16_t>(6));
}

// OK after a given-up wait opens a fresh connection; given up while that is
// still being made, nothing went out: nothing is said, the dialog stays.
TEST_F(Settings, OkGivenUpBeforeTheWriteWentOutIsSilent)
{
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    vxsktDestroy(m.wnd()->pVxskt);
    m.wnd()->pVxskt = nullptr;
    const NeverAccepts host;
    setenv("ZELD_PORT", std::to_string(host.port()).c_str(), 1);
    g_timeout_add(
        300,
        +[](gpointer wnd) {
            CancelWaitDlg(ASSetWaitDlg(static_cast<UIAutoShutdownWnd*>(wnd)));
            return FALSE;
        },
        m.wnd());
    LoopGuard guard;  // a message would wait for a click forever
    EXPECT_EQ(ASSetDlgOK(m.wnd()), 0);
    EXPECT_FALSE(guard.fired());
}

// A frame too many after the timer's answer: neither shown as the timer,
// nor taken for the answer to the write the daemon refuses.
TEST_F(Settings, AStrayFrameBeforeARefusedWriteStillWarns)
{
    sim_->SetFaults({"lp1 106523 stray 05800000 count 1", "lp1 102415 refuse 5"});
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    EXPECT_EQ(ReadSettings(m).entry, "4");
    int result = -1;
    ASSERT_TRUE(ShowAndAct(
        m.message(), [&] { result = ASSetDlgOK(m.wnd()); },
        [&] { Click(m.message(), "MsgDlg_OK_button"); }));
    EXPECT_EQ(result, 0) << "closed as if saved";
}

TEST_F(Settings, OkForAPrinterThatIsGoneClosesWithoutSending)
{
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    m.Select("lp9", "Brelko M220");
    EXPECT_EQ(ASSetDlgOK(m.wnd()), 1);
    EXPECT_EQ(sim_->CountLog("item=102415"), 0u);
}

TEST_F(Settings, ShownDialogClosesOnCancelAndOnTheCloseRequest)
{
    DialogModel m({{"lp1"}});
    GtkWidget* win = m.settings();
    ASSERT_TRUE(ShowAndAct(
        win, [&] { ShowASSetDlg(m.wnd()); }, [&] { Click(win, "ShutdownSDlg_Cancel_button"); }));
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(win));
    ASSERT_TRUE(ShowAndAct(
        win, [&] { ShowASSetDlg(m.wnd()); },
        [&] { EXPECT_TRUE(on_ShutdownS_dialog_delete_event(win, nullptr, nullptr)); }));
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(win));
    EXPECT_EQ(sim_->CountLog("item=102415"), 0u);
}

struct DriverCase {
    const char* version;
    bool accepted;
};

void PrintTo(const DriverCase& c, std::ostream* os)
{
    *os << "driver \"" << c.version << "\"";
}

class Drivers : public SimFixture, public ::testing::WithParamInterface<DriverCase> {};

// Driver versions are decimal numbers, not strings: 10.00 is newer than 2.56.
TEST_P(Drivers, DriverVersionIsComparedAsADecimalNumber)
{
    DialogModel m({{"lp1", "Brelko M220", GetParam().version}});
    bool warned = false;
    gboolean prepared = FALSE;
    const guint source = WhenShown(m.message(), [&] {
        warned = true;
        Click(m.message(), "MsgDlg_OK_button");
    });
    {
        harness::LoopGuard guard;
        prepared = PrepareASSetDlg(m.wnd());
    }
    if (!warned)
        g_source_remove(source);
    EXPECT_EQ(prepared, GetParam().accepted);
    EXPECT_EQ(warned, !GetParam().accepted);
    EXPECT_EQ(m.wnd()->pVxskt != nullptr, GetParam().accepted);
    if (!GetParam().accepted) {
        EXPECT_EQ(m.wnd()->msg_dlg->type, MSG_DRIVER_UNSUPPORTED);
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, Drivers,
                         ::testing::Values(DriverCase{"2.56", true}, DriverCase{"2.560", true},
                                           DriverCase{"2.6", true}, DriverCase{"3.00", true},
                                           DriverCase{"10.00", true}, DriverCase{"2.57b", true},
                                           DriverCase{"02.56", true}, DriverCase{"2.5", false},
                                           DriverCase{"2.55", false}, DriverCase{"2.559", false},
                                           DriverCase{"", false}, DriverCase{"v2.56", false},
                                           DriverCase{" 2.56", false}, DriverCase{".56", false},
                                           DriverCase{"2", false}));

struct StepFault {
    const char* name;
    int minor;         // firmware 1.minor; the M220 needs 01.01
    const char* rule;  // a simulator fault, or "" for none
    bool no_daemon;
    int message;
    bool connected;
};

void PrintTo(const StepFault& f, std::ostream* os)
{
    *os << f.name;
}

class FailingStep : public SimFixture, public ::testing::WithParamInterface<StepFault> {
protected:
    FailingStep() : SimFixture({{"lp1", 1, GetParam().minor, 4}}) {}
};

// Each step of an opening that fails shows its own warning, and leaves the
// connection as the table of the dialog says.
TEST_P(FailingStep, ShowsItsWarningAndNoDialog)
{
    const StepFault& f = GetParam();
    if (*f.rule)
        sim_->SetFault(f.rule);
    const harness::ClosedPort closed;
    if (f.no_daemon)
        setenv("ZELD_PORT", std::to_string(closed.port()).c_str(), 1);
    DialogModel m({{"lp1"}});
    ASSERT_TRUE(ShowAndAct(
        m.message(), [&] { ShowASSetDlg(m.wnd()); },
        [&] { Click(m.message(), "MsgDlg_OK_button"); }));
    EXPECT_EQ(m.wnd()->msg_dlg->type, f.message);
    EXPECT_EQ(m.wnd()->pVxskt != nullptr, f.connected);
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(m.settings()));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, FailingStep,
    ::testing::Values(StepFault{"NoDaemon", 1, "", true, 0, false},
                      StepFault{"FirmwareRefused", 1, "lp1 106520 refuse 1", false, 1, true},
                      StepFault{"FirmwareOneByte", 1, "lp1 106520 payload 1", false, 1, true},
                      StepFault{"FirmwareTooOld", 0, "", false, 3, true},
                      StepFault{"TimerRefused", 1, "lp1 106523 refuse 2", false, 1, true},
                      StepFault{"TimerNoPayload", 1, "lp1 106523 payload 0", false, 1, true},
                      StepFault{"TimerTwoBytes", 1, "lp1 106523 bytes 0400", false, 1, true},
                      StepFault{"TimerGetsAFirmwareReply", 1, "lp1 106523 bytes 0102", false, 1,
                                true},
                      StepFault{"TimerConnectionReset", 1, "lp1 106523 reset", false, 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Settings, RefusedDriverKeepsTheEarlierConnection)
{
    DialogModel m(std::vector<Queue>{{"lp1"}, {"lp2", "Brelko M220", "2.55"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    VxsktModule* first = m.wnd()->pVxskt;
    m.Select("lp2", "Brelko M220");
    ASSERT_TRUE(ShowAndAct(
        m.message(), [&] { PrepareASSetDlg(m.wnd()); },
        [&] { Click(m.message(), "MsgDlg_OK_button"); }));
    EXPECT_EQ(m.wnd()->pVxskt, first);
    EXPECT_EQ(sim_->CountLog("open conn="), 1u);
}

TEST_F(Settings, ModelWithoutAMinimumFirmwareGetsTheFirmwareWarning)
{
    DialogModel m(std::vector<Queue>{{"lp1", "Brelko M999"}});
    ASSERT_TRUE(ShowAndAct(
        m.message(), [&] { ShowASSetDlg(m.wnd()); },
        [&] { Click(m.message(), "MsgDlg_OK_button"); }));
    EXPECT_EQ(m.wnd()->msg_dlg->type, MSG_FIRMWARE_UNSUPPORTED);
    EXPECT_EQ(sim_->CountLog("item=106523"), 0u);
}

TEST_F(Settings, UnknownSelectionDoesNothing)
{
    DialogModel m({{"lp1"}});
    m.Select("nobody", "Brelko M220");
    EXPECT_FALSE(PrepareASSetDlg(m.wnd()));
    EXPECT_EQ(m.wnd()->pVxskt, nullptr);
    EXPECT_EQ(sim_->CountLog("open conn="), 0u);
}

TEST_F(Settings, WithoutItsWindowTheDialogRefusesQuietly)
{
    DialogModel m({{"lp1"}});
    UIASSetDlg* kept = m.wnd()->asset_dlg;
    m.wnd()->asset_dlg = nullptr;
    ShowASSetDlg(m.wnd());
    EXPECT_EQ(sim_->CountLog("open conn="), 0u);
    EXPECT_EQ(ASSetDlgOK(m.wnd()), 1);
    HideASSetDlg(m.wnd());
    UpdateASSetDlgWidgets(m.wnd(), TRUE);
    m.wnd()->asset_dlg = kept;
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(m.settings()));
}

TEST_F(Settings, QueueNamedAtHostConnectsThereAndKeepsTheWholeName)
{
    DialogModel m({{"lp1@127.0.0.1"}});
    ASSERT_TRUE(PrepareASSetDlg(m.wnd()));
    EXPECT_STREQ(m.wnd()->selectedPrinterName, "lp1@127.0.0.1");
    EXPECT_EQ(ASSetDlgOK(m.wnd()), 1);
    // Firmware and timer; OK's write and its read-back.
    ASSERT_TRUE(sim_->WaitForLog("item=106523", 10000ms, 1));
    EXPECT_EQ(sim_->CountLog("printer=\"lp1\""), 4u);
}

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

// AddressSanitizer and valgrind hold freed blocks back for a while, and
// ThreadSanitizer's history grows with every access, so only a plain run
// can tell growth from their bookkeeping.
bool MeasuresMemory()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#else
    return !RUNNING_ON_VALGRIND;
#endif
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Opening and closing the dialog many times must not grow the process.
TEST_F(Settings, OpenAndCloseManyTimesKeepsResidentMemoryFlat)
{
    const char* env = std::getenv("QUELLON_DIALOG_ROUNDS");
    const int rounds = env ? std::atoi(env) : 200;
    DialogModel m({{"lp1"}});
    GtkWidget* win = m.settings();
    long after_tenth = 0;
    for (int round = 1; round <= rounds; ++round) {
        ASSERT_TRUE(ShowAndAct(
            win, [&] { ShowASSetDlg(m.wnd()); }, [&] { Click(win, "ShutdownSDlg_Cancel_button"); }))
            << "round " << round;
        harness::Pump();
        if (round == 10)
            after_tenth = ResidentKiB();
    }
    const long last = ResidentKiB();
    std::printf("resident memory: %ld KiB after round 10, %ld KiB after round %d\n", after_tenth,
                last, rounds);
    if (rounds >= 200 && MeasuresMemory()) {
        EXPECT_LE(last, after_tenth + after_tenth / 100);
    }
    EXPECT_EQ(sim_->CountLog("open conn="), static_cast<size_t>(rounds));
}

}  // namespace
