// The real program while the daemon takes its time: its windows keep
// answering the window manager's pings, a wait window offers to give up,
// and giving up leaves nothing behind. Also the read-back after a write.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "desktop.h"
#include "tcp_peer.h"
#include "wire.h"

namespace {

using namespace harness;

const char* const kWaitTitle = "Please Wait";

ZeldSim::Options Printer(const std::string& config_line, std::vector<std::string> faults = {})
{
    ZeldSim::Options o;
    o.config_lines = {config_line};
    o.faults = std::move(faults);
    return o;
}

// Pings `windows` in turn, as a window manager does, until `done` holds or
// `timeout` passes; every ping must be answered within a second. Returns
// whether `done` came to hold.
bool AnswersPingsUntil(Desktop& d, const std::vector<unsigned long>& windows,
                       const std::function<bool()>& done, Millis timeout)
{
    int pings = 0;
    const bool held = WaitFor(
        [&] {
            for (unsigned long window : windows) {
                std::string took;
                const int status =
                    Run({BuildPath("tests/quellon-xping"), std::to_string(window), "1000"}, 10000ms,
                        &took, d.x().env());
                ++pings;
                EXPECT_EQ(status, 0)
                    << "window " << window << " answered a ping after " << took << " ms";
            }
            return done();
        },
        timeout, 50ms);
    EXPECT_GT(pings, 1) << "too few pings to tell";
    return held;
}

TEST(DaemonWait, SlowDaemonLeavesTheWindowsAnsweringAndShowsTheWaitWindow)
{
    Desktop d({{"lp1"}}, Printer("printer lp1 1.1 4 delay 2500"));
    ASSERT_TRUE(d.Start());
    ASSERT_TRUE(d.SelectAndOpen(0));
    bool waiting_seen = false;
    std::optional<unsigned long> dlg;
    EXPECT_TRUE(AnswersPingsUntil(
        d, {d.main_window()},
        [&] {
            waiting_seen = waiting_seen || d.x().HasVisibleWindow(kWaitTitle);
            return d.x().HasVisibleWindow("Auto Shutdown Settings");
        },
        30000ms));
    EXPECT_TRUE(waiting_seen) << "two slow answers and no word of it";
    dlg = d.WaitSettings();
    ASSERT_TRUE(dlg);

    // OK: pick 6, then the write and its read-back, both slow.
    ASSERT_TRUE(d.KeysTo(*dlg, "Tab space Down Down Return Tab space"));
    EXPECT_TRUE(AnswersPingsUntil(
        d, {d.main_window(), *dlg}, [&] { return !d.x().IsViewable(*dlg); }, 30000ms));
    EXPECT_EQ(d.sim().StoredTimer("lp1"), std::optional<uint16_t>(6));
    // The opening's, and OK's after its write.
    EXPECT_EQ(d.RequestsFor(kReadTimerItem).size(), 2u) << "the write is read back";
    EXPECT_EQ(d.CloseMain(), std::optional<int>(0)) << d.Stderr();
}

TEST(DaemonWait, HostThatNeverAcceptsLeavesTheWindowAnsweringUntilTheWarning)
{
    const NeverAccepts host;
    ASSERT_NE(host.port(), 0);
    Desktop d({{"lp1"}}, Printer("printer lp1 1.1 4"));
    ASSERT_TRUE(d.Start({{"ZELD_PORT", std::to_string(host.port())}}));
    ASSERT_TRUE(d.SelectAndOpen(0));
    EXPECT_TRUE(AnswersPingsUntil(
        d, {d.main_window()}, [&] { return d.x().HasVisibleWindow("Warning"); }, 60000ms));
    const auto warning = d.WaitWarning();
    ASSERT_TRUE(warning) << "the connection's bounds end the wait with the warning";
    ASSERT_TRUE(d.KeysTo(*warning, "space"));
    EXPECT_TRUE(d.x().WaitHidden(*warning));
    EXPECT_EQ(d.CloseMain(), std::optional<int>(0)) << d.Stderr();
}

TEST(DaemonWait, EscapeEndsTheWaitClosesTheConnectionAndNothingFollows)
{
    Desktop d({{"lp1"}}, Printer("printer lp1 1.1 4", {"lp1 106520 delay 4000 count 1"}));
    ASSERT_TRUE(d.Start());
    ASSERT_TRUE(d.SelectAndOpen(0));
    const auto waiting = d.x().WaitWindow(kWaitTitle);
    ASSERT_TRUE(waiting);
    ASSERT_TRUE(d.KeysTo(*waiting, "Escape"));
    EXPECT_TRUE(d.x().WaitHidden(*waiting));
    EXPECT_TRUE(d.sim().WaitForLog("close conn=1 reason=peer-closed"))
        << "giving up closes the connection";
    // The firmware answer comes 4 s after the request; nothing may come of it.
    EXPECT_FALSE(d.WaitSettings(6000ms)) << "a dialog after the user gave up";
    EXPECT_FALSE(d.x().HasVisibleWindow("Warning"));
    EXPECT_EQ(d.RequestsFor(kReadTimerItem).size(), 0u);

    // The main window is usable again. OK given up after its write went
    // out: the user is told, and the dialog closes.
    ASSERT_TRUE(d.OpenAgain());
    const auto dlg = d.WaitSettings();
    ASSERT_TRUE(dlg);
    d.sim().SetFault("lp1 102415 delay 4000 count 1");
    ASSERT_TRUE(d.KeysTo(*dlg, "space Tab space"));  // off, 4 hours kept; OK
    const auto waiting_ok = d.x().WaitWindow(kWaitTitle);
    ASSERT_TRUE(waiting_ok);
    ASSERT_TRUE(d.KeysTo(*waiting_ok, "Escape"));
    const auto sent = d.WaitWarning();
    ASSERT_TRUE(sent) << "a write given up after it went out is told of";
    ASSERT_TRUE(d.KeysTo(*sent, "space"));
    EXPECT_TRUE(d.x().WaitHidden(*dlg));
    EXPECT_EQ(d.RequestsFor(kWriteTimerItem).size(), 1u);
    EXPECT_EQ(d.CloseMain(), std::optional<int>(0)) << d.Stderr();
}

TEST(DaemonWait, CloseRequestOfTheMainWindowGivesTheWaitUpAndEndsTheProgram)
{
    Desktop d({{"lp1"}}, Printer("printer lp1 1.1 4", {"lp1 106520 delay 4000 count 1"}));
    ASSERT_TRUE(d.Start());
    ASSERT_TRUE(d.SelectAndOpen(0));
    ASSERT_TRUE(d.x().WaitWindow(kWaitTitle));
    EXPECT_EQ(d.CloseMain(), std::optional<int>(0)) << d.Stderr();
}

TEST(DaemonWait, PrinterKeepingAnotherValueWarnsAndTheDialogShowsWhatItKeeps)
{
    Desktop d({{"lp1"}}, Printer("printer lp1 1.1 4", {"lp1 102415 store 0x8004 count 1"}));
    ASSERT_TRUE(d.Start());
    ASSERT_TRUE(d.SelectAndOpen(0));
    const auto dlg = d.WaitSettings();
    ASSERT_TRUE(dlg);
    ASSERT_TRUE(d.KeysTo(*dlg, "Tab space Down Down Return Tab space"));  // 6, OK
    const auto warning = d.WaitWarning();
    ASSERT_TRUE(warning) << "the printer kept off-4 for the 6 sent";
    ASSERT_TRUE(d.KeysTo(*warning, "space"));
    EXPECT_TRUE(d.x().WaitHidden(*warning));
    ASSERT_TRUE(d.x().IsViewable(*dlg)) << "the dialog stays";
    // OK again (the focus is still on it): had the dialog kept showing 6,
    // the printer would now hold 6.
    ASSERT_TRUE(d.KeysTo(*dlg, "space"));
    EXPECT_TRUE(d.x().WaitHidden(*dlg));
    EXPECT_EQ(d.sim().StoredTimer("lp1"), std::optional<uint16_t>(0x8004));
    EXPECT_EQ(d.CloseMain(), std::optional<int>(0)) << d.Stderr();
}

}  // namespace
