// The shared printer operations without any window: the verified write
// against a scripted daemon, frame by frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "model.h"
#include "printerops.h"
#include "tcp_peer.h"
#include "wire.h"

namespace {

using harness::Le32;
using harness::Response;
using harness::TcpPeer;
using namespace std::chrono_literals;

VxsktModule* Connect(int port)
{
    std::string printer = "lp1", locale = "en_GB.UTF-8";
    return vxsktNew(printer.data(), locale.data(), nullptr, port);
}

VxsktModule* Reconnect(void* peer)
{
    return Connect(static_cast<TcpPeer*>(peer)->port());
}

// The item each recorded request asked for, and the value of a write.
std::string Items(const std::vector<std::string>& requests)
{
    std::string items;
    for (const std::string& frame : requests) {
        const bool write = frame.compare(frame.size() - 8, 4, Le32(harness::kWriteTimerItem)) == 0;
        const bool read = frame.substr(frame.size() - 4) == Le32(harness::kReadTimerItem);
        items += write ? "W" : read ? "R" : "?";
    }
    return items;
}

// What a set does: the timer read first, then the verified write over it.
WriteReport ReadThenWrite(VxsktModule** vxskt, unsigned short wanted,
                          VxsktModule* (*reopen)(void* ctx), void* ctx, bool dry_run)
{
    unsigned short held = 0;
    if (QueryAutoShutdownTime(*vxskt, &held) < 0)
        return WriteReport{WRITE_FAILED, false, 0, false};
    return VerifiedWriteOver(vxskt, held, wanted, reopen, ctx, dry_run);
}

class VerifiedWriteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ZELD_PORT");
        vxskt_ = Connect(peer_.port());
        ASSERT_NE(vxskt_, nullptr);
    }
    void TearDown() override { vxsktDestroy(vxskt_); }

    void Reply(const std::string& payload, int16_t code = 0,
               TcpPeer::After after = TcpPeer::After::kKeepOpen)
    {
        peer_.Push({Response(code, payload), after});
    }
    static std::string Timer(int32_t timer) { return Le32(timer); }

    TcpPeer peer_;
    VxsktModule* vxskt_ = nullptr;
};

TEST_F(VerifiedWriteTest, WritesOnlyWhatChangesAndConfirmsItByReadingBack)
{
    struct Case {
        const char* what;
        unsigned short held, wanted, read_back;
        bool dry_run;
        WriteOutcome outcome;
        const char* items;  // R read, W write
    };
    const Case cases[] = {
        {"already held", 4, 4, 0, false, WRITE_UNCHANGED, "R"},
        {"changed", 4, 6, 6, false, WRITE_CHANGED, "RWR"},
        {"stored another value", 4, 6, 5, false, WRITE_VERIFY_FAILED, "RWR"},
        {"dry run", 4, 0x8004, 0, true, WRITE_CHANGED, "R"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TcpPeer peer;
        VxsktModule* vxskt = Connect(peer.port());
        peer.Push({Response(0, Timer(c.held))});
        peer.Push({Response(0, "")});
        peer.Push({Response(0, Timer(c.read_back))});
        const WriteReport report = ReadThenWrite(&vxskt, c.wanted, nullptr, nullptr, c.dry_run);
        EXPECT_EQ(report.outcome, c.outcome);
        EXPECT_EQ(report.held, c.outcome == WRITE_UNCHANGED || c.dry_run ? c.held : c.read_back);
        EXPECT_EQ(Items(peer.Requests()), c.items);
        vxsktDestroy(vxskt);
    }
}

TEST_F(VerifiedWriteTest, ARefusedWriteKeepsWhatThePrinterHeld)
{
    Reply(Timer(0x8002));
    Reply("", 5);
    const WriteReport report = ReadThenWrite(&vxskt_, 3, nullptr, nullptr, false);
    EXPECT_EQ(report.outcome, WRITE_REFUSED);
    EXPECT_EQ(report.held, 0x8002);
    EXPECT_EQ(Items(peer_.Requests()), "RW");
}

TEST_F(VerifiedWriteTest, ALostReplyIsReadBackOnAFreshConnectionNeverWrittenAgain)
{
    Reply(Timer(4));
    peer_.Push({"", TcpPeer::After::kClose});  // the write arrives, its reply never does
    Reply(Timer(6));
    VxsktModule* before = vxskt_;
    const WriteReport report = ReadThenWrite(&vxskt_, 6, Reconnect, &peer_, false);
    EXPECT_EQ(report.outcome, WRITE_CHANGED);
    EXPECT_TRUE(report.reply_lost);
    EXPECT_EQ(report.held, 6);
    EXPECT_NE(vxskt_, before);
    EXPECT_EQ(Items(peer_.Requests()), "RWR");
    EXPECT_EQ(peer_.Accepted(), 2);
}

TEST_F(VerifiedWriteTest, AnAcceptedWriteWhoseReadBackIsLostIsReadBackOnAFreshConnection)
{
    Reply(Timer(4));
    Reply("", 0, TcpPeer::After::kClose);  // accepted, then the connection drops
    Reply(Timer(6));
    const WriteReport report = ReadThenWrite(&vxskt_, 6, Reconnect, &peer_, false);
    EXPECT_EQ(report.outcome, WRITE_CHANGED);
    EXPECT_FALSE(report.reply_lost);
    EXPECT_EQ(Items(peer_.Requests()), "RWR");
    EXPECT_EQ(peer_.Accepted(), 2);
}

TEST_F(VerifiedWriteTest, ALostReplyWithNothingToReadBackIsAFailureThatKnowsNothing)
{
    Reply(Timer(4));
    peer_.Push({"", TcpPeer::After::kClose});
    WriteReport report = ReadThenWrite(&vxskt_, 6, nullptr, nullptr, false);
    EXPECT_EQ(report.outcome, WRITE_FAILED);
    EXPECT_FALSE(report.held_known);

    // With a fresh connection: the printer still holds the old value.
    vxsktDestroy(vxskt_);
    vxskt_ = Connect(peer_.port());
    Reply(Timer(4));
    peer_.Push({"", TcpPeer::After::kClose});
    Reply(Timer(4));
    report = ReadThenWrite(&vxskt_, 6, Reconnect, &peer_, false);
    EXPECT_EQ(report.outcome, WRITE_FAILED);
    EXPECT_TRUE(report.held_known);
    EXPECT_EQ(report.held, 4);
    EXPECT_EQ(Items(peer_.Requests()), "RWRWR");
}

}  // namespace
