// The printer operations against the daemon simulator, the way the
// settings dialog runs them: what reaches the daemon, what a written timer
// does across a daemon restart, and what each of the daemon's failures
// makes of each operation.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "assetdlg.h"
#include "data_process.h"
#include "printerops.h"
#include "startcheck.h"
#include "vxsktmodule.h"
#include "zeld_sim.h"

namespace {

using harness::ZeldSim;
using Clock = std::chrono::steady_clock;

constexpr int kDaemonPort = 59787;  // the dialog's; ZELD_PORT points at the simulator

ZeldSim::Options Lp1()
{
    ZeldSim::Options options;
    options.printers = {{"lp1", 1, 5, 0x8004}};
    return options;
}

// A window model holding a connection opened as the dialog opens it.
class Window {
public:
    Window(const ZeldSim& sim, const char* printer = "lp1")
    {
        std::memset(&wnd_, 0, sizeof wnd_);
        setenv("ZELD_PORT", std::to_string(sim.port()).c_str(), 1);
        std::strncpy(wnd_.selectedPrinterName, printer, sizeof wnd_.selectedPrinterName - 1);
        char* locale = SetLocaleString(&wnd_);
        wnd_.pVxskt = vxsktNew(wnd_.selectedPrinterName, locale, nullptr, kDaemonPort);
        mem_free(locale);
        g_autoshutdown_window = &wnd_;
    }
    ~Window()
    {
        g_autoshutdown_window = nullptr;
        if (wnd_.pVxskt != nullptr) {
            vxsktDestroy(wnd_.pVxskt);
        }
        mem_free(wnd_.tocode);
        mem_free(wnd_.fromcode);
    }
    UIAutoShutdownWnd* get() { return &wnd_; }
    bool connected() const { return wnd_.pVxskt != nullptr; }

private:
    UIAutoShutdownWnd wnd_;
};

class SimOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("LC_CTYPE");
        setenv("LANG", "C", 1);
    }
};

TEST_F(SimOps, DialogSequenceReachesTheDaemonByteForByte)
{
    ZeldSim sim(Lp1());
    Window window(sim);
    ASSERT_TRUE(window.connected());
    char version[FIRM_VER_SIZE] = {};
    unsigned short timer = 0;
    ASSERT_EQ(GetFirmVer(window.get(), version), 0);
    ASSERT_EQ(GetAutoShutdownTime(window.get(), &timer), 0);
    ASSERT_EQ(SetAutoShutdownTime(window.get(), 6), 0);
    EXPECT_STREQ(version, "01.05");
    EXPECT_EQ(timer, 0x8004);

    const auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(ZeldSim::Field(requests[0], "raw"), "7a656c30"
                                                  "13000000"
                                                  "1e000000"
                                                  "03000000"
                                                  "6c7031"
                                                  "0b000000"
                                                  "656e5f47422e5554462d38"
                                                  "04000000"
                                                  "18a00100");
    EXPECT_EQ(ZeldSim::Field(requests[1], "data"), "040000001ba00100");
    EXPECT_EQ(ZeldSim::Field(requests[2], "data"), "080000000f90010006000000");
    EXPECT_EQ(sim.CountLog("open conn="), 1u) << "all three on one connection";
}

TEST_F(SimOps, WrittenTimerSurvivesADaemonRestart)
{
    ZeldSim sim(Lp1());
    {
        Window window(sim);
        ASSERT_TRUE(window.connected());
        ASSERT_EQ(SetAutoShutdownTime(window.get(), 0x8003), 0);
    }
    EXPECT_EQ(sim.StoredTimer("lp1"), 0x8003);
    sim.Restart();
    Window window(sim);
    ASSERT_TRUE(window.connected());
    unsigned short timer = 0;
    ASSERT_EQ(GetAutoShutdownTime(window.get(), &timer), 0);
    EXPECT_EQ(timer, 0x8003);
}

TEST_F(SimOps, QueueOnAnotherHostSendsOnlyTheQueueName)
{
    ZeldSim sim(Lp1());
    Window window(sim, "lp1@localhost");
    ASSERT_TRUE(window.connected());
    EXPECT_STREQ(window.get()->selectedPrinterName, "lp1");
    char version[FIRM_VER_SIZE] = {};
    EXPECT_EQ(GetFirmVer(window.get(), version), 0);
    EXPECT_EQ(ZeldSim::Field(sim.Requests().at(0), "printer"), "\"lp1\"");
}

TEST_F(SimOps, JapaneseLocaleIsSent)
{
    ZeldSim sim(Lp1());
    setenv("LANG", "ja_JP.UTF-8", 1);
    Window window(sim);
    char version[FIRM_VER_SIZE] = {};
    EXPECT_EQ(GetFirmVer(window.get(), version), 0);
    EXPECT_EQ(ZeldSim::Field(sim.Requests().at(0), "locale"), "\"ja_JP.UTF-8\"");
}

TEST_F(SimOps, UnknownPrinterIsRefused)
{
    ZeldSim sim(Lp1());
    Window window(sim, "lp9");
    ASSERT_TRUE(window.connected());
    char version[FIRM_VER_SIZE] = {};
    EXPECT_EQ(GetFirmVer(window.get(), version), SEND_REFUSED);
}

// One fault of the daemon, and what each operation makes of it.
struct FaultCase {
    const char* name;
    const char* fault;    // KIND [ARG], applied to every request for lp1
    const char* version;  // null: GetFirmVer fails
    int timer;            // -1: GetAutoShutdownTime fails
    int set_result;       // SetAutoShutdownTime's result, 0 or its sign
};

class SimFaults : public SimOps, public ::testing::WithParamInterface<FaultCase> {};

int Sign(int value)
{
    return value < 0 ? -1 : 0;
}

TEST_P(SimFaults, EachOperationOnAFreshConnection)
{
    const FaultCase& c = GetParam();
    ZeldSim::Options options = Lp1();
    options.faults = {std::string("lp1 * ") + c.fault};
    ZeldSim sim(options);
    const auto start = Clock::now();
    {
        Window window(sim);
        ASSERT_TRUE(window.connected());
        char version[FIRM_VER_SIZE] = {};
        const int result = GetFirmVer(window.get(), version);
        if (c.version != nullptr) {
            EXPECT_EQ(result, 0) << "firmware version";
            EXPECT_STREQ(version, c.version);
        } else {
            EXPECT_LT(result, 0) << "firmware version";
        }
    }
    {
        Window window(sim);
        ASSERT_TRUE(window.connected());
        unsigned short timer = 0xBEEF;
        const int result = GetAutoShutdownTime(window.get(), &timer);
        if (c.timer >= 0) {
            EXPECT_EQ(result, 0) << "timer";
            EXPECT_EQ(timer, c.timer);
        } else {
            EXPECT_LT(result, 0) << "timer";
        }
    }
    {
        Window window(sim);
        ASSERT_TRUE(window.connected());
        EXPECT_EQ(Sign(SetAutoShutdownTime(window.get(), 4)), c.set_result) << "timer write";
    }
    // Three exchanges, each bounded by the 5 s receive time-out.
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 3 * 5.0 + 5.0);
}

const FaultCase kFaults[] = {
    {"none", "delay 0", "01.05", 0x8004, 0},
    {"refused", "refuse 9", nullptr, -1, -1},
    {"closed_before_answer", "close-before", nullptr, -1, -1},
    // A write's answer has no payload, so its header alone is whole.
    {"closed_after_header", "close-after-header", nullptr, -1, 0},
    {"half_payload", "half-payload", nullptr, -1, 0},
    {"negative_length", "length -1", nullptr, -1, 0},
    {"huge_length", "length 2000000000", nullptr, -1, 0},
    {"no_payload", "payload 0", nullptr, -1, 0},
    // A timer reply too short for its four bytes is no timer.
    {"one_byte", "payload 1", nullptr, -1, 0},
    {"two_bytes", "payload 2", "01.05", -1, 0},
    {"three_bytes", "payload 3", "01.05", -1, 0},
    {"delayed", "delay 300", "01.05", 0x8004, 0},
    {"silent", "silent", nullptr, -1, -1},
    {"reset", "reset", nullptr, -1, -1},
};

INSTANTIATE_TEST_SUITE_P(Daemon, SimFaults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
