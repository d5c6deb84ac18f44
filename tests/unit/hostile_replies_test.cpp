// Daemons that answer in well-formed but hostile ways: replies too short
// for the item asked for, replies swapped, frames nobody asked for. No
// operation may take any of them for a good answer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "assetdlg.h"
#include "data_process.h"
#include "tcp_peer.h"
#include "vxsktmodule.h"

namespace {

using harness::Le32;
using harness::Response;
using harness::ResponseDeclaring;
using harness::TcpPeer;
using namespace std::chrono_literals;
using namespace std::string_literals;

class HostileReplies : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ZELD_PORT");
        std::string printer = "lp1", locale = "en_GB.UTF-8";
        wnd_.pVxskt = vxsktNew(printer.data(), locale.data(), nullptr, peer_.port());
        ASSERT_NE(wnd_.pVxskt, nullptr);
        g_autoshutdown_window = &wnd_;
    }
    void TearDown() override
    {
        g_autoshutdown_window = nullptr;
        vxsktDestroy(wnd_.pVxskt);
    }

    // One exchange whose reply is `reply`; vxsktRead's result.
    int Exchange(const std::string& reply)
    {
        peer_.Push({reply});
        EXPECT_EQ(vxsktWrite(wnd_.pVxskt, 19), 0);
        return vxsktRead(wnd_.pVxskt);
    }

    UIAutoShutdownWnd wnd_{};
    TcpPeer peer_;
};

// Every item type, with the cursor where only part of the item is left.
TEST_F(HostileReplies, AnItemThatDoesNotFitFailsAndLeavesEverythingAsItWas)
{
    struct Case {
        const char* what;
        int payload;  // bytes in the reply
        int cursor;   // where the read starts
        int type;
        int size;     // for type 4
    };
    const Case cases[] = {
        {"short from one byte", 1, 0, 2, 0},    {"short at the last byte", 4, 3, 2, 0},
        {"long from one byte", 1, 0, 3, 0},     {"long from two bytes", 2, 0, 3, 0},
        {"long from three bytes", 3, 0, 3, 0},  {"long at the second byte", 4, 1, 3, 0},
        {"block one too long", 4, 0, 4, 5},     {"block past the end", 4, 2, 4, 3},
        {"whole payload, cursor moved", 4, 1, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Exchange(Response(0, std::string(static_cast<size_t>(c.payload), '\x11'))),
                  c.payload);
        if (c.cursor > 0) {
            ASSERT_EQ(vxsktSeekResData(wnd_.pVxskt, c.cursor), 0);
        }
        char out[8];
        std::memset(out, 0x5A, sizeof out);
        EXPECT_EQ(vxsktGetResData(wnd_.pVxskt, out, c.type, c.size), -1);
        EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, '\x5A'));
        char byte = 0;
        EXPECT_EQ(vxsktGetResData(wnd_.pVxskt, &byte, 1, 0), 0) << "the cursor moved";
        EXPECT_EQ(byte, 0x11);
    }
}

TEST_F(HostileReplies, ShortOrSwappedRepliesFailTheOperation)
{
    unsigned short timer = 0xBEEF;
    for (const std::string& payload : {"\x07"s, "\x04\x80"s, "\x04\x80\x01"s}) {
        SCOPED_TRACE(payload.size());
        peer_.Push({Response(0, payload)});
        EXPECT_LT(GetAutoShutdownTime(&wnd_, &timer), 0);
    }
    // The firmware's two bytes arriving as the answer to the timer query.
    peer_.Push({Response(0, "\x01\x05")});
    EXPECT_LT(GetAutoShutdownTime(&wnd_, &timer), 0);
    EXPECT_EQ(timer, 0xBEEF);
    char version[10] = "unchanged";
    peer_.Push({Response(0, "\x01")});
    EXPECT_LT(GetFirmVer(&wnd_, version), 0);
}

// A daemon that sends one frame too many: each later answer must still be
// the answer to its own request.
TEST_F(HostileReplies, AStrayFrameIsNeverTakenForTheNextAnswer)
{
    const std::string stray_timer = Response(0, Le32(7));
    peer_.Push({Response(0, "\x01\x05") + stray_timer});
    peer_.Push({Response(0, Le32(4)) + stray_timer});
    peer_.Push({Response(5, "")});
    char version[10] = {};
    unsigned short timer = 0;
    ASSERT_EQ(GetFirmVer(&wnd_, version), 0);
    EXPECT_EQ(GetAutoShutdownTime(&wnd_, &timer), 0);
    EXPECT_EQ(timer, 4) << "the stray frame's timer was shown";
    EXPECT_EQ(SetAutoShutdownTime(&wnd_, 6), SEND_REFUSED)
        << "the left-over reply passed for the answer to the write";
}

// A payload the program declined to read stays on the socket; it must not
// be read as the header of the next answer.
TEST_F(HostileReplies, AnUnreadPayloadIsDiscardedBeforeTheNextRequest)
{
    EXPECT_EQ(Exchange(ResponseDeclaring(0, (1 << 20) + 1, "ZEL0\0\0\0\0\x02\0\0\0\x09\x09"s)), 0);
    EXPECT_EQ(Exchange(Response(3, "\x01\x05")), 2);
    EXPECT_EQ(vxsktGetResCode(wnd_.pVxskt), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(vxsktGetStatusData(wnd_.pVxskt))), "\x01\x05");
}

}  // namespace
