// The printer operations and the request exchange, against a scripted
// daemon on loopback: what each operation sends and what it makes of
// every kind of reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include "assetdlg.h"
#include "data_process.h"
#include "printerops.h"
#include "startcheck.h"
#include "tcp_peer.h"
#include "vxsktmodule.h"

namespace {

using namespace harness;
using namespace std::chrono_literals;
using namespace std::string_literals;

// A window model with a connection to the scripted peer, installed as the
// program's global the way start-up does it.
class PrinterOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ZELD_PORT");
        std::memset(&wnd_, 0, sizeof wnd_);
        std::string printer = "lp1", locale = kEnglishLocale;
        wnd_.pVxskt = vxsktNew(printer.data(), locale.data(), nullptr, peer_.port());
        ASSERT_NE(wnd_.pVxskt, nullptr);
        g_autoshutdown_window = &wnd_;
    }
    void TearDown() override
    {
        g_autoshutdown_window = nullptr;
        if (wnd_.pVxskt != nullptr) {
            vxsktDestroy(wnd_.pVxskt);
        }
        mem_free(wnd_.tocode);
        mem_free(wnd_.fromcode);
    }

    UIAutoShutdownWnd wnd_;
    TcpPeer peer_;
};

TEST_F(PrinterOps, FirmwareVersionReplies)
{
    struct Case {
        const char* what;
        std::string reply;
        bool ok;
        const char* text;
    };
    const Case cases[] = {
        {"02 0A", Response(0, "\x02\x0A"), true, "02.10"},
        {"01 05", Response(0, "\x01\x05"), true, "01.05"},
        {"first byte FF", Response(0, "\xFF\x00"s), true, "-1.00"},
        {"both bytes 80", Response(0, "\x80\x80"), true, "-128.-128"},
        {"further bytes ignored", Response(0, "\x01\x02\x03"), true, "01.02"},
        {"one byte", Response(0, "\x01"), false, ""},
        {"no payload", Response(0, ""), false, ""},
        {"refused with a payload", Response(1, "\x01\x05"), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        peer_.Push({c.reply});
        char version[FIRM_VER_SIZE] = "unchanged";
        const int result = GetFirmVer(&wnd_, version);
        if (c.ok) {
            EXPECT_EQ(result, 0);
            EXPECT_STREQ(version, c.text);
        } else {
            EXPECT_LT(result, 0);
        }
    }
    const auto requests = peer_.Requests();
    ASSERT_FALSE(requests.empty());
    for (const std::string& request : requests) {
        EXPECT_EQ(Hex(request), Hex(QueryFrame("lp1", kFirmwareItem)));
    }
}

TEST_F(PrinterOps, TimerReplies)
{
    struct Case {
        const char* what;
        std::string reply;
        bool ok;
        unsigned short timer;
    };
    const Case cases[] = {
        {"on, 4 hours", Response(0, "\x04\0\0\0"s), true, 4},
        {"off, 5 hours remembered", Response(0, "\x05\x80\0\0"s), true, 0x8005},
        {"upper half ignored", Response(0, "\x04\0\x01\0"s), true, 4},
        {"one byte", Response(0, "\x07"), false, 0},
        {"three bytes", Response(0, "\x04\x80\x01"), false, 0},
        {"the firmware's two bytes instead", Response(0, "\x01\x05"), false, 0},
        {"no payload", Response(0, ""), false, 0},
        {"refused with a payload", Response(1, "\x04\0\0\0"s), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        peer_.Push({c.reply});
        unsigned short timer = 0xBEEF;
        const int result = GetAutoShutdownTime(&wnd_, &timer);
        if (c.ok) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(timer, c.timer);
        } else {
            EXPECT_LT(result, 0);
        }
    }
    for (const std::string& request : peer_.Requests()) {
        EXPECT_EQ(Hex(request), Hex(QueryFrame("lp1", kReadTimerItem)));
    }
}

TEST_F(PrinterOps, WritingTheTimer)
{
    peer_.Push({Response(0, "")});
    EXPECT_EQ(SetAutoShutdownTime(&wnd_, 0x8004), 0);
    peer_.Push({Response(0, "\x01\x02\x03")});
    EXPECT_EQ(SetAutoShutdownTime(&wnd_, 8), 0) << "a reply payload is not examined";
    peer_.Push({Response(1, "")});
    EXPECT_EQ(SetAutoShutdownTime(&wnd_, 4), SEND_REFUSED);
    peer_.Push({"", TcpPeer::After::kClose});
    EXPECT_EQ(SetAutoShutdownTime(&wnd_, 4), SEND_FAILED);

    const auto requests = peer_.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(Hex(requests[0]), Hex(RequestFrame(kPrinterCommand, "lp1",
                                                 "\x08\0\0\0"
                                                 "\x0F\x90\x01\0"
                                                 "\x04\x80\0\0"s)));
    EXPECT_EQ(Hex(requests[0].substr(8, 4)), Hex(Le32(34)));
    EXPECT_EQ(Hex(requests[1]), Hex(WriteFrame("lp1", 8)));
}

// The dialog's order of calls, on one connection.
TEST_F(PrinterOps, DialogSequenceOnOneConnection)
{
    peer_.Push({Response(0, "\x01\x05")});
    peer_.Push({Response(0, "\x03\x80\0\0"s)});
    peer_.Push({Response(0, "")});
    char version[FIRM_VER_SIZE] = {};
    unsigned short timer = 0;
    EXPECT_EQ(GetFirmVer(&wnd_, version), 0);
    EXPECT_EQ(GetAutoShutdownTime(&wnd_, &timer), 0);
    EXPECT_EQ(SetAutoShutdownTime(&wnd_, static_cast<unsigned short>(timer & 0x7FFF)), 0);
    EXPECT_STREQ(version, "01.05");
    EXPECT_EQ(timer, 0x8003);
    EXPECT_EQ(peer_.Accepted(), 1);
    const auto requests = peer_.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(Hex(requests[2]), Hex(WriteFrame("lp1", 3)));
}

// A daemon that sends one frame too many: each later answer is still the
// answer to its own request, and a refused write is not taken for saved.
TEST_F(PrinterOps, AStrayFrameIsNeverTakenForTheNextAnswer)
{
    const std::string stray_timer = Response(0, Le32(7));
    peer_.Push({Response(0, "\x01\x05") + stray_timer});
    peer_.Push({Response(0, Le32(4)) + stray_timer});
    peer_.Push({Response(5, "")});
    char version[FIRM_VER_SIZE] = {};
    unsigned short timer = 0;
    ASSERT_EQ(GetFirmVer(&wnd_, version), 0);
    EXPECT_EQ(GetAutoShutdownTime(&wnd_, &timer), 0);
    EXPECT_EQ(timer, 4) << "the stray frame's timer";
    EXPECT_EQ(SetAutoShutdownTime(&wnd_, 6), SEND_REFUSED) << "the left-over reply passed";
}

TEST_F(PrinterOps, NoConnection)
{
    vxsktDestroy(wnd_.pVxskt);
    wnd_.pVxskt = nullptr;
    char version[FIRM_VER_SIZE] = {};
    unsigned short timer = 0;
    EXPECT_EQ(SendRequest(nullptr, 19), SEND_FAILED);
    EXPECT_LT(GetFirmVer(&wnd_, version), 0);
    EXPECT_LT(GetAutoShutdownTime(&wnd_, &timer), 0);
    EXPECT_LT(SetAutoShutdownTime(&wnd_, 4), 0);
    EXPECT_EQ(DataProcess2(nullptr), 1);
}

TEST_F(PrinterOps, SilentDaemonFailsTheOperation)
{
    peer_.Push({"", TcpPeer::After::kHang});
    char version[FIRM_VER_SIZE] = {};
    EXPECT_EQ(GetFirmVer(&wnd_, version), SEND_FAILED);
}

// The step between send and receive must not touch memory past an fd_set
// when the connection's descriptor is above FD_SETSIZE.
TEST_F(PrinterOps, DescriptorAboveFdSetSize)
{
    const int high = FD_SETSIZE + 100;
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur <= static_cast<rlim_t>(high)) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, high + 1);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    const int fd = vxsktGetSocketFD(wnd_.pVxskt);
    if (dup2(fd, high) != high) {
        GTEST_SKIP() << "cannot raise the descriptor limit above " << high;
    }
    close(fd);
    wnd_.pVxskt->socket_fd = high;
    peer_.Push({Response(0, "\x02\x0A")});
    EXPECT_EQ(DataProcess2(wnd_.pVxskt), 1);
    char version[FIRM_VER_SIZE] = {};
    EXPECT_EQ(GetFirmVer(&wnd_, version), 0);
    EXPECT_STREQ(version, "02.10");
}

// The daemon's language follows the variable the C library itself goes by:
// LC_ALL, LC_CTYPE, LANG, the first that is set and not empty.
TEST_F(PrinterOps, LocaleChoice)
{
    struct Case {
        const char* lc_all;  // null: unset
        const char* lc_ctype;
        const char* lang;
        const char* locale;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.eucJP", "ja_JP.UTF-8"},
        {nullptr, "en_US.UTF-8", "ja_JP.UTF-8", "en_GB.UTF-8"},
        {nullptr, "ja", nullptr, "ja_JP.UTF-8"},
        {nullptr, nullptr, nullptr, "en_GB.UTF-8"},
        {nullptr, "", "ja_JP.UTF-8", "ja_JP.UTF-8"},
        {nullptr, "j", "ja_JP.UTF-8", "en_GB.UTF-8"},
        {nullptr, "C", nullptr, "en_GB.UTF-8"},
        {"ja_JP.UTF-8", nullptr, "C", "ja_JP.UTF-8"},
        {"C", nullptr, "ja_JP.UTF-8", "en_GB.UTF-8"},
        {"C", "ja_JP.UTF-8", "ja_JP.UTF-8", "en_GB.UTF-8"},
        {"", "ja_JP.UTF-8", "C", "ja_JP.UTF-8"},
        {"", "", "", "en_GB.UTF-8"},
    };
    wnd_.tocode = strdup("earlier");
    wnd_.fromcode = strdup("earlier");
    const auto set = [](const char* name, const char* value) {
        value ? setenv(name, value, 1) : unsetenv(name);
        return std::string(name) + "=" + (value ? value : "(unset)") + " ";
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(set("LC_ALL", c.lc_all) + set("LC_CTYPE", c.lc_ctype) + set("LANG", c.lang));
        char* locale = SetLocaleString(&wnd_);
        ASSERT_NE(locale, nullptr);
        EXPECT_STREQ(locale, c.locale);
        EXPECT_STREQ(wnd_.tocode, "UTF-8");
        EXPECT_STREQ(wnd_.fromcode, "UTF-8");
        mem_free(locale);
    }
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
        unsetenv(name);
}

}  // namespace
