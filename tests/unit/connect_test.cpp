// Opening a connection with odd names and environments, over IPv6, and
// under an overall deadline.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "tcp_peer.h"
#include "vxsktmodule.h"

namespace {

using harness::Response;
using harness::TcpPeer;
using namespace std::chrono_literals;

const std::string kLocale = "en_GB.UTF-8";

struct Destroyer {
    void operator()(VxsktModule* vxskt) const { vxsktDestroy(vxskt); }
};
using Connection = std::unique_ptr<VxsktModule, Destroyer>;

Connection Open(std::string printer, int port, int64_t deadline_ms = 0)
{
    std::string locale = kLocale;
    return Connection(vxsktNewUntil(printer.data(), locale.data(), nullptr, port, deadline_ms));
}

// Whether one exchange over `vxskt` reaches `peer` and comes back.
bool Answers(VxsktModule* vxskt, TcpPeer& peer)
{
    peer.Push({Response(0, "")});
    return vxsktWrite(vxskt, 19) == 0 && vxsktRead(vxskt) == 0;
}

// A value that is no port must not be cut down to one: it is ignored for
// the caller's port, with one line on standard error for the process.
TEST(ConnectEnvironment, ZeldPortOutsideThePortRangeIsIgnoredOnce)
{
    TcpPeer peer;
    ::testing::internal::CaptureStderr();
    for (const char* value : {"0", "65536", "112537", "0000", "1234567890123456789012345678901234567890",
                              "99999x"}) {
        SCOPED_TRACE(value);
        setenv("ZELD_PORT", value, 1);
        Connection vxskt = Open("lp1", peer.port());
        ASSERT_NE(vxskt, nullptr) << "the caller's port was not used";
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("ZELD_PORT 0 "), std::string::npos) << err;

    setenv("ZELD_PORT", (std::to_string(peer.port()) + "abc").c_str(), 1);
    EXPECT_NE(Open("lp1", 1), nullptr) << "digits in range, then letters";
    unsetenv("ZELD_PORT");
}

TEST(ConnectNames, EmptyPrinterPartIsRefusedAndEmptyHostMeansThisHost)
{
    unsetenv("ZELD_PORT");
    TcpPeer peer;
    for (const char* refused : {"@localhost", "", "@", "lp1@[::1", "lp1@[no-such-host]"}) {
        SCOPED_TRACE(refused);
        EXPECT_EQ(Open(refused, peer.port()), nullptr);
    }
    EXPECT_EQ(peer.Accepted(), 0) << "a name that cannot work was sent to a daemon";

    std::string printer = "q@", locale = kLocale;
    Connection vxskt(vxsktNew(printer.data(), locale.data(), nullptr, peer.port()));
    ASSERT_NE(vxskt, nullptr);
    EXPECT_EQ(printer, std::string("q\0", 2));
    EXPECT_EQ(vxskt->size_printer, 1);
    EXPECT_TRUE(Answers(vxskt.get(), peer));
}

TEST(ConnectNames, IPv6LoopbackPlainAndBracketed)
{
    unsetenv("ZELD_PORT");
    TcpPeer peer(8, TcpPeer::Loopback::kIPv6);
    for (const char* name : {"q@::1", "q@[::1]"}) {
        SCOPED_TRACE(name);
        for (int64_t deadline : {int64_t{0}, vxsktNowMs() + 60000}) {
            Connection vxskt = Open(name, peer.port(), deadline);
            ASSERT_NE(vxskt, nullptr) << "deadline " << deadline;
            EXPECT_STREQ(vxskt->printer, "q");
            EXPECT_TRUE(Answers(vxskt.get(), peer));
        }
    }
}

// A daemon that accepts and never answers costs the deadline, not the
// receive bound (5 s) nor anything beyond.
TEST(ConnectDeadline, EveryWaitEndsByTheDeadline)
{
    unsetenv("ZELD_PORT");
    TcpPeer peer;
    EXPECT_EQ(Open("lp1", peer.port(), vxsktNowMs() - 1), nullptr);
    EXPECT_EQ(peer.Accepted(), 0) << "a connect began after the deadline";

    const int64_t deadline = vxsktNowMs() + 1000;
    Connection vxskt = Open("lp1", peer.port(), deadline);
    ASSERT_NE(vxskt, nullptr);
    peer.Push({"", TcpPeer::After::kHang});
    ASSERT_EQ(vxsktWrite(vxskt.get(), 19), 0);
    EXPECT_EQ(vxsktRead(vxskt.get()), -1);
    const int64_t ended = vxsktNowMs();
    EXPECT_GE(ended, deadline) << "gave up before the deadline";
    EXPECT_LT(ended, deadline + 3500) << "waited on past the deadline";
    EXPECT_EQ(vxsktWrite(vxskt.get(), 19), -1) << "a send after the deadline";
}

}  // namespace
