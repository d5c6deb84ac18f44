// The real program on a desktop of its own (Xvfb with openbox, a private
// cupsd, the daemon simulator), worked as a user would: keyboard and mouse
// through xdotool, windows as the X server shows them, frames as the
// simulator received them.
#include <algorithm>
#include <chrono>
#include <ostream>

#include <unistd.h>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include "desktop.h"
#include "japanese.h"
#include "wire.h"

namespace {

using namespace harness;

ZeldSim::Options OnePrinter(uint16_t timer, int major = 1, int minor = 1,
                            std::vector<std::string> faults = {})
{
    ZeldSim::Options o;
    o.printers = {{"lp1", major, minor, timer}};
    o.faults = std::move(faults);
    return o;
}

// Opens the settings for the only printer and waits for the dialog.
std::optional<unsigned long> OpenSettings(Desktop& d)
{
    if (!d.SelectAndOpen(0))
        return std::nullopt;
    return d.WaitSettings();
}

// Keys into the settings dialog `dlg`, then waits until it has closed.
void KeysAndClose(Desktop& d, unsigned long dlg, const std::string& keys)
{
    ASSERT_TRUE(d.KeysTo(dlg, keys));
    EXPECT_TRUE(d.x().WaitHidden(dlg)) << "the settings dialog stayed after: " << keys;
}

// Dismisses the warning `warning` with its OK button (it opens focused on
// OK) and waits until it is gone.
void DismissWarning(Desktop& d, unsigned long warning)
{
    ASSERT_TRUE(d.KeysTo(warning, "space"));
    EXPECT_TRUE(d.x().WaitHidden(warning));
}

void ExpectCleanExit(Desktop& d)
{
    EXPECT_EQ(d.CloseMain(), std::optional<int>(0)) << d.Stderr();
}

TEST(EndToEnd, ReadChangeWriteSendsExactFramesAndTheDaemonKeepsTheNewTimer)
{
    Desktop d({{"lp1"}}, OnePrinter(4));
    ASSERT_TRUE(d.Start());
    const auto dlg = OpenSettings(d);
    ASSERT_TRUE(dlg);
    // Focus starts on the check box: to the entry, open the list, two rows
    // down from 4, pick, on to OK and press it.
    KeysAndClose(d, *dlg, "Tab space Down Down Return Tab space");
    // OK writes, then reads the timer back.
    ASSERT_TRUE(d.sim().WaitForLog("item=106523", 10000ms, 1));
    const auto requests = d.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].raw, Hex(QueryFrame("lp1", kFirmwareItem)));
    EXPECT_EQ(requests[1].raw, Hex(QueryFrame("lp1", kReadTimerItem)));
    EXPECT_EQ(requests[2].item, kWriteTimerItem);
    EXPECT_EQ(requests[2].value, 6);
    EXPECT_EQ(requests[3].raw, Hex(QueryFrame("lp1", kReadTimerItem))) << "the write is read back";
    // The write's data part: 8, item 102415, the value widened to 32 bits.
    const std::string& raw = requests[2].raw;
    EXPECT_EQ(raw.substr(raw.size() - 24), "080000000f900100"
                                           "06000000");
    EXPECT_EQ(d.sim().StoredTimer("lp1"), std::optional<uint16_t>(6));

    // Reopened, the dialog shows what the printer now holds: OK (where the
    // focus was left) sends it back unchanged.
    ASSERT_TRUE(d.OpenAgain());
    const auto again = d.WaitSettings();
    ASSERT_TRUE(again);
    KeysAndClose(d, *again, "space");
    ASSERT_TRUE(d.sim().WaitForLog("item=102415", 10000ms, 1));
    const auto writes = d.RequestsFor(kWriteTimerItem);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].value, 6);
    EXPECT_NE(writes[1].conn, writes[0].conn) << "each opening uses a fresh connection";
    ExpectCleanExit(d);
}

struct ValueCase {
    const char* name;
    uint16_t timer;
    const char* keys;  // from the check box, which has the focus
    long sent;
};

void PrintTo(const ValueCase& c, std::ostream* os)
{
    *os << c.name;
}

class ValueTable : public ::testing::TestWithParam<ValueCase> {};

// Tab skips the period entry while its row is insensitive, so these key
// sequences also prove the row's sensitivity: a wrong one opens the list
// instead of pressing OK, and nothing is written.
TEST_P(ValueTable, WidgetsShowTheTimerAndOkSendsWhatTheyShow)
{
    const ValueCase& c = GetParam();
    Desktop d({{"lp1"}}, OnePrinter(c.timer));
    ASSERT_TRUE(d.Start());
    const auto dlg = OpenSettings(d);
    ASSERT_TRUE(dlg);
    KeysAndClose(d, *dlg, c.keys);
    ASSERT_TRUE(d.sim().WaitForLog("item=102415"));
    const auto writes = d.RequestsFor(kWriteTimerItem);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value, c.sent);
    EXPECT_EQ(d.sim().StoredTimer("lp1"), std::optional<uint16_t>(c.sent));
    ExpectCleanExit(d);
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, ValueTable,
    ::testing::Values(ValueCase{"OnFourStaysFour", 4, "Tab Tab space", 4},
                      ValueCase{"OffFiveCheckedSendsFive", 0x8005, "space Tab Tab space", 5},
                      ValueCase{"OffFiveLeftClearSendsItBack", 0x8005, "Tab space", 0x8005},
                      ValueCase{"UncheckingAtSevenSendsOffSeven", 7, "space Tab space", 0x8007},
                      ValueCase{"ZeroShownUncheckedSendsOffZero", 0, "space Tab space", 0x8000}),
    [](const auto& info) { return std::string(info.param.name); });

// Opens the settings, expects a warning instead of the dialog, and
// dismisses it. Returns false when no warning came.
bool ExpectWarningInsteadOfSettings(Desktop& d)
{
    if (!d.SelectAndOpen(0))
        return false;
    const auto warning = d.WaitWarning();
    if (!warning)
        return false;
    EXPECT_FALSE(d.x().HasVisibleWindow("Auto Shutdown Settings"));
    DismissWarning(d, *warning);
    return true;
}

TEST(EndToEnd, OldDriverWarnsWithoutConnecting)
{
    Desktop d({{"lp1", "Brelko M220", "2.55"}}, OnePrinter(4));
    ASSERT_TRUE(d.Start());
    ASSERT_TRUE(ExpectWarningInsteadOfSettings(d));
    EXPECT_EQ(d.sim().CountLog("open conn="), 0u) << "a refused driver must not connect";
    ExpectCleanExit(d);
}

TEST(EndToEnd, DriverTenIsNewerThanTwoFiftySix)
{
    Desktop d({{"lp1", "Brelko M220", "10.00"}}, OnePrinter(4));
    ASSERT_TRUE(d.Start());
    const auto dlg = OpenSettings(d);
    ASSERT_TRUE(dlg);
    KeysAndClose(d, *dlg, "Escape");
    ExpectCleanExit(d);
}

TEST(EndToEnd, FirmwareBelowTheModelsMinimumWarnsAfterTheFirmwareQueryOnly)
{
    Desktop d({{"lp1", "Brelko M220"}}, OnePrinter(4, 1, 0));  // M220 needs 01.01
    ASSERT_TRUE(d.Start());
    ASSERT_TRUE(ExpectWarningInsteadOfSettings(d));
    EXPECT_EQ(d.RequestsFor(kFirmwareItem).size(), 1u);
    EXPECT_TRUE(d.RequestsFor(kReadTimerItem).empty());
    EXPECT_EQ(d.sim().CountLog("close conn="), 0u) << "the connection stays open";
    ExpectCleanExit(d);
}

TEST(EndToEnd, NoDaemonWarns)
{
    Desktop d({{"lp1"}}, OnePrinter(4));
    const ClosedPort closed;
    ASSERT_NE(closed.port(), 0);
    ASSERT_TRUE(d.Start({{"ZELD_PORT", std::to_string(closed.port())}}));
    ASSERT_TRUE(ExpectWarningInsteadOfSettings(d));
    ExpectCleanExit(d);
}

struct ReadFault {
    const char* name;
    const char* rule;
    size_t timer_queries;
};

void PrintTo(const ReadFault& f, std::ostream* os)
{
    *os << f.name;
}

class FailingRead : public ::testing::TestWithParam<ReadFault> {};

TEST_P(FailingRead, WarnsAndShowsNoDialog)
{
    const ReadFault& f = GetParam();
    Desktop d({{"lp1"}}, OnePrinter(4, 1, 1, {f.rule}));
    ASSERT_TRUE(d.Start());
    ASSERT_TRUE(ExpectWarningInsteadOfSettings(d));
    EXPECT_EQ(d.RequestsFor(kReadTimerItem).size(), f.timer_queries);
    EXPECT_TRUE(d.RequestsFor(kWriteTimerItem).empty());
    ExpectCleanExit(d);
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, FailingRead,
                         ::testing::Values(ReadFault{"FirmwareRefused", "lp1 106520 refuse 1", 0},
                                           ReadFault{"FirmwareCutShort", "lp1 106520 payload 1", 0},
                                           ReadFault{"TimerRefused", "lp1 106523 refuse 3", 1},
                                           ReadFault{"TimerConnectionClosed",
                                                     "lp1 106523 close-before", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EndToEnd, RefusedWriteWarnsKeepsTheDialogAndCancelThenClosesIt)
{
    Desktop d({{"lp1"}}, OnePrinter(0x8005, 1, 1, {"lp1 102415 refuse 1"}));
    ASSERT_TRUE(d.Start());
    const auto dlg = OpenSettings(d);
    ASSERT_TRUE(dlg);
    ASSERT_TRUE(d.KeysTo(*dlg, "space Tab Tab space"));  // switch on at 5, OK
    const auto warning = d.WaitWarning();
    ASSERT_TRUE(warning);
    DismissWarning(d, *warning);
    EXPECT_TRUE(d.x().IsViewable(*dlg)) << "a failed write keeps the settings dialog";
    // The focus is still on OK; the next button is Cancel.
    KeysAndClose(d, *dlg, "Tab space");
    const auto writes = d.RequestsFor(kWriteTimerItem);
    ASSERT_EQ(writes.size(), 1u) << "Cancel writes nothing";
    EXPECT_EQ(writes[0].value, 5);
    EXPECT_NE(d.sim().StoredTimer("lp1"), std::optional<uint16_t>(5));
    ExpectCleanExit(d);
}

TEST(EndToEnd, ReopeningClosesTheFirstConnectionBeforeTheSecondExchange)
{
    Desktop d({{"lp1"}}, OnePrinter(4));
    ASSERT_TRUE(d.Start());
    const auto dlg = OpenSettings(d);
    ASSERT_TRUE(dlg);
    KeysAndClose(d, *dlg, "Escape");
    EXPECT_EQ(d.ConnectionsTo(d.sim().port()), 1) << "the connection outlives the dialog";

    // Hold the second opening in its firmware query and look at the wire.
    d.sim().SetFault("lp1 106520 delay 2000 count 1");
    ASSERT_TRUE(d.OpenAgain());
    ASSERT_TRUE(d.sim().WaitForLog("item=106520", 10000ms, 1));
    EXPECT_EQ(d.ConnectionsTo(d.sim().port()), 1)
        << "the first connection must be closed before the second is used";
    EXPECT_TRUE(d.sim().WaitForLog("close conn=1 reason=peer-closed"));

    const auto again = d.WaitSettings();
    ASSERT_TRUE(again);
    KeysAndClose(d, *again, "Escape");
    const auto timers = d.RequestsFor(kReadTimerItem);
    ASSERT_EQ(timers.size(), 2u);
    EXPECT_EQ(timers[0].conn, 1);
    EXPECT_EQ(timers[1].conn, 2);
    ExpectCleanExit(d);
}

// CUPS takes "@" in a queue name, so the list can hold "name@host" as a
// user would meet it.
TEST(EndToEnd, QueueNamedAtHostConnectsThereAndSendsTheBareName)
{
    Desktop d({{"lp1@127.0.0.1"}}, OnePrinter(0x8003));
    ASSERT_TRUE(d.Start());
    const auto dlg = OpenSettings(d);
    ASSERT_TRUE(dlg);
    KeysAndClose(d, *dlg, "space Tab Tab space");
    ASSERT_TRUE(d.sim().WaitForLog("item=106523", 10000ms, 1));
    const auto requests = d.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (const Request& r : requests)
        EXPECT_EQ(r.printer, "lp1");
    EXPECT_EQ(requests[0].raw, Hex(QueryFrame("lp1", kFirmwareItem)));
    EXPECT_EQ(requests[2].value, 3);
    EXPECT_TRUE(d.sim().WaitForLog("peer=127.0.0.1:"));
    ExpectCleanExit(d);
}

TEST(EndToEnd, CloseRequestsHideTheDialogsWhichOpenAgain)
{
    Desktop d({{"lp1"}}, OnePrinter(4));
    ASSERT_TRUE(d.Start());
    auto dlg = OpenSettings(d);
    ASSERT_TRUE(dlg);
    ASSERT_TRUE(d.x().CloseWindow(*dlg));
    ASSERT_TRUE(d.x().WaitHidden(*dlg)) << "the close button acts as Cancel";
    ASSERT_TRUE(d.OpenAgain());
    const auto again = d.WaitSettings();
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *dlg) << "the same window is shown again";
    ASSERT_TRUE(d.x().CloseWindow(*again));
    ASSERT_TRUE(d.x().WaitHidden(*again));
    EXPECT_TRUE(d.RequestsFor(kWriteTimerItem).empty());

    // The warning too: hidden by the close request, shown again next time.
    d.sim().SetFault("lp1 106520 refuse 1");
    ASSERT_TRUE(d.OpenAgain());
    const auto warning = d.WaitWarning();
    ASSERT_TRUE(warning);
    ASSERT_TRUE(d.x().CloseWindow(*warning));
    ASSERT_TRUE(d.x().WaitHidden(*warning));
    ASSERT_TRUE(d.OpenAgain());
    const auto warning_again = d.WaitWarning();
    ASSERT_TRUE(warning_again);
    EXPECT_EQ(*warning_again, *warning);
    ASSERT_TRUE(d.KeysTo(*warning_again, "Escape"));
    ASSERT_TRUE(d.x().WaitHidden(*warning_again));
    ExpectCleanExit(d);
}

TEST(EndToEnd, SilentDaemonWarnsWithinTheBoundAndTheWindowStaysUsable)
{
    Desktop d({{"lp1"}}, OnePrinter(4, 1, 1, {"lp1 106520 silent count 1"}));
    ASSERT_TRUE(d.Start());
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(d.SelectAndOpen(0));
    // A connection waits 5 s for an answer; far more would mean the wait
    // was not bounded at all.
    const auto warning = d.WaitWarning(30000ms);
    ASSERT_TRUE(warning);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    DismissWarning(d, *warning);

    ASSERT_TRUE(d.OpenAgain());
    const auto dlg = d.WaitSettings();
    ASSERT_TRUE(dlg) << "the main window works again after the time-out";
    KeysAndClose(d, *dlg, "Escape");
    ExpectCleanExit(d);
}

TEST(EndToEnd, JapaneseSessionUsesTheInstalledCatalogue)
{
    TempDir dir;
    const auto locpath = JapaneseLocalePath(dir.path());
    ASSERT_TRUE(locpath) << "no ja_JP.UTF-8 locale could be made";
    EnvChanges env{{"LANG", kJapaneseLocale}};
    if (!locpath->empty())
        env["LOCPATH"] = *locpath;

    Desktop d({{"lp1"}}, OnePrinter(4, 1, 1, {"lp1 102415 refuse 1"}));
    const std::string catalogue = std::string(QUELLON_LOCALEDIR) + "/ja/LC_MESSAGES/quellon.mo";
    if (access(catalogue.c_str(), F_OK) != 0) {
        // Nothing installed: the program runs in English.
        ASSERT_TRUE(d.Start(env));
        EXPECT_EQ(d.CloseMain(), std::optional<int>(0)) << d.Stderr();
    }

    const Staging staging = StageInstall(dir.path());
    if (!staging.prefix.empty()) {
        for (const char* installed : {"/bin/quellon", "/share/applications/quellon.desktop",
                                      "/share/locale/ja/LC_MESSAGES/quellon.mo"})
            EXPECT_EQ(access((staging.prefix + installed).c_str(), F_OK), 0) << installed;
    }
    if (!staging.skip.empty())
        GTEST_SKIP() << staging.skip;
    ASSERT_TRUE(d.Start(env, "Quellon 自動電源オフ設定ツール", staging.wrapper)) << d.Stderr();
    ASSERT_TRUE(d.SelectAndOpen(0));
    const auto dlg = d.x().WaitWindow("自動電源オフ設定");
    ASSERT_TRUE(dlg);
    ASSERT_TRUE(d.KeysTo(*dlg, "Tab Tab space"));
    const auto warning = d.x().WaitWindow("警告");
    ASSERT_TRUE(warning) << "the refused write's warning, in Japanese";
    DismissWarning(d, *warning);
    KeysAndClose(d, *dlg, "Escape");
    // A Japanese session asks the daemon for Japanese texts.
    EXPECT_EQ(d.sim().CountLog("locale=\"ja_JP.UTF-8\""), 3u);
    ExpectCleanExit(d);
}

// ------------------------------------------------------------ the main window

// Where the settings button's label is drawn inside the (fixed-size) main
// window, and how dark its text gets when the button is sensitive.
struct Region {
    int x, y, width, height;
};
constexpr Region kSetButtonLabel{290, 278, 215, 18};
constexpr int kSensitiveTextMaxLuma = 80;
constexpr int kInsensitiveTextMinLuma = 100;

// The darkest pixel of the settings button's label, as seen on screen.
int SetButtonTextLuma(Desktop& d)
{
    const TempDir shots;
    const std::string png = shots / "main.png";
    if (!d.x().Screenshot(d.main_window(), png))
        return -1;
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(png.c_str(), &error);
    if (!pixbuf) {
        g_clear_error(&error);
        return -1;
    }
    int darkest = 255;
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const Region r = kSetButtonLabel;
    for (int y = r.y; y < r.y + r.height && y < gdk_pixbuf_get_height(pixbuf); ++y) {
        for (int x = r.x; x < r.x + r.width && x < gdk_pixbuf_get_width(pixbuf); ++x) {
            const guchar* p = pixels + y * stride + x * channels;
            darkest = std::min(darkest, (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000);
        }
    }
    g_object_unref(pixbuf);
    return darkest;
}

bool SetButtonSensitive(Desktop& d)
{
    return SetButtonTextLuma(d) <= kSensitiveTextMaxLuma;
}

bool SetButtonInsensitive(Desktop& d)
{
    return SetButtonTextLuma(d) >= kInsensitiveTextMinLuma;
}

// Supported, case-different, unsupported and a model twice: the way a user
// works it, Down selects the first row, and Tab, Tab, space presses Exit.
TEST(EndToEnd, KeyboardSelectsARowEnablesTheButtonAndExits)
{
    Desktop d({{"Alpha", "Brelko M210"},
               {"Beta-lower", "brelko m220"},
               {"Delta", "Other Laser 9"},
               {"Gamma", "Brelko M240C/M248C"},
               {"Gamma-2", "Brelko M240C/M248C"}});
    ASSERT_TRUE(d.Start()) << d.Stderr();
    EXPECT_TRUE(WaitFor([&] { return SetButtonInsensitive(d); }, 10000ms))
        << "the settings button is sensitive before any row is selected";

    ASSERT_TRUE(d.KeysTo(d.main_window(), "Down"));
    EXPECT_TRUE(WaitFor([&] { return SetButtonSensitive(d); }, 10000ms))
        << "selecting a row did not make the settings button sensitive";

    ASSERT_TRUE(d.KeysTo(d.main_window(), "Tab Tab space"));
    EXPECT_EQ(d.WaitExit(), 0);
    EXPECT_EQ(d.Stderr(), "");
}

// Without a supported printer the button stays off; Exit still ends it.
TEST(EndToEnd, EmptyListKeepsTheButtonInsensitiveAndExitStillWorks)
{
    Desktop d(std::vector<Queue>{{"Delta", "Other Laser 9"}, {"Lower", "BRELKO M210"}});
    ASSERT_TRUE(d.Start()) << d.Stderr();
    ASSERT_TRUE(d.KeysTo(d.main_window(), "Down"));
    EXPECT_TRUE(SetButtonInsensitive(d));
    // The insensitive button is skipped: Tab goes straight to Exit.
    ASSERT_TRUE(d.KeysTo(d.main_window(), "Tab space"));
    EXPECT_EQ(d.WaitExit(), 0);
}

TEST(EndToEnd, CloseRequestEndsWithStatusZero)
{
    Desktop d(std::vector<Queue>{{"Alpha", "Brelko M210"}});
    ASSERT_TRUE(d.Start()) << d.Stderr();
    EXPECT_EQ(d.CloseMain(), 0);
}

TEST(EndToEnd, EscapeClosesLikeTheWindowManager)
{
    Desktop d(std::vector<Queue>{{"Alpha", "Brelko M210"}});
    ASSERT_TRUE(d.Start()) << d.Stderr();
    ASSERT_TRUE(d.KeysTo(d.main_window(), "Escape"));
    EXPECT_EQ(d.WaitExit(), 0);
}

// libcups hands a local queue's PPD over as a link to the server's own file
// when it can read that file; a server folder given relative to the working
// folder makes the link point nowhere, so the program cannot read the PPD.
TEST(EndToEnd, UnreadablePpdEndsWith255AndOneLineWithoutAWindow)
{
    Desktop d(std::vector<Queue>{{"Alpha", "Brelko M210"}, {"Broken", "Brelko M220"}});
    TempDir work;
    ASSERT_EQ(harness::Run({"mkdir", "-p", work / "serverroot/ppd"}, 10000ms), 0);
    WriteFile(work / "serverroot/ppd/Broken.ppd", MakePpd("Brelko M220"));
    d.Launch({{"CUPS_SERVERROOT", "serverroot"}},
             {"sh", "-c", "cd \"$1\" && shift && exec \"$@\"", "sh", work.path()});

    bool window_seen = false;
    const bool ended = WaitFor(
        [&] {
            window_seen = window_seen || d.x().HasVisibleWindow("Quellon");
            return !d.program().running();
        },
        30000ms);
    ASSERT_TRUE(ended);
    EXPECT_EQ(d.WaitExit(), 255);
    EXPECT_FALSE(window_seen || d.x().HasVisibleWindow("Quellon"));
    const std::string err = d.Stderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("quellon: ", 0), 0u) << err;
    EXPECT_NE(err.find("\"Broken\""), std::string::npos) << err;
}

struct NoDisplayCase {
    std::optional<std::string> display;
    std::string line;
};

void PrintTo(const NoDisplayCase& c, std::ostream* os)
{
    *os << "DISPLAY=" << c.display.value_or("(unset)");
}

class RealProgramWithoutDisplay : public testing::TestWithParam<NoDisplayCase> {};

TEST_P(RealProgramWithoutDisplay, EndsWith255AndSaysSo)
{
    TempDir home;
    std::string output;
    const int status =
        harness::Run({BuildPath("src/quellon")}, 30000ms, &output,
                     Combine({EnglishEnv(),
                              QuietLeakCheck(),
                              {{"DISPLAY", GetParam().display}, {"HOME", home.path()}}}));
    EXPECT_EQ(status, 255);
    EXPECT_EQ(output, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Displays, RealProgramWithoutDisplay,
    testing::Values(NoDisplayCase{std::nullopt, "quellon: cannot open display\n"},
                    NoDisplayCase{":9999", "quellon: cannot open display :9999\n"}));

}  // namespace
