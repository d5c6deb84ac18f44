// The daemon connection over real loopback sockets: frames to the byte,
// responses of every shape, and the bounds that keep a bad daemon from
// freezing the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tcp_peer.h"
#include "vxsktmodule.h"
#include "vxsktmodule_seam.h"

namespace {

using namespace harness;
using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

struct Destroyer {
    void operator()(VxsktModule* vxskt) const { vxsktDestroy(vxskt); }
};
using Connection = std::unique_ptr<VxsktModule, Destroyer>;

Connection Open(int port, std::string printer = "lp1", std::string locale = kEnglishLocale)
{
    return Connection(vxsktNew(printer.data(), locale.data(), nullptr, port));
}

int OpenDescriptors()
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr) {
        ++count;
    }
    closedir(dir);
    return count;
}

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Exchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("ZELD_PORT");
        vxskt_ = Open(peer_.port());
        ASSERT_NE(vxskt_, nullptr) << "could not connect to the test peer";
    }

    // Sends a query and reads the scripted reply; returns vxsktRead's result.
    int Ask(const std::string& reply, TcpPeer::After after = TcpPeer::After::kKeepOpen)
    {
        peer_.Push({reply, after});
        vxsktSetReqLong(vxskt_.get(), 4);
        vxsktSetReqLong(vxskt_.get(), 106520);
        EXPECT_EQ(vxsktWrite(vxskt_.get(), 19), 0);
        return vxsktRead(vxskt_.get());
    }

    TcpPeer peer_;
    Connection vxskt_;
};

TEST_F(Exchange, FirmwareQueryFrameIsByteExact)
{
    EXPECT_EQ(Ask(Response(0, "\x01\x05")), 2);
    ASSERT_TRUE(peer_.WaitForRequests(1, 5s));
    const std::string expected = "zel0"
                                 "\x13\0\0\0"
                                 "\x1E\0\0\0"
                                 "\x03\0\0\0"
                                 "lp1"
                                 "\x0B\0\0\0"
                                 "en_GB.UTF-8"
                                 "\x04\0\0\0"
                                 "\x18\xA0\x01\0"s;
    ASSERT_EQ(expected.size(), 42u);
    EXPECT_EQ(Hex(peer_.Requests()[0]), Hex(expected));
    EXPECT_EQ(vxsktGetReqCommand(vxskt_.get()), 19);
    EXPECT_EQ(buftool_pos(vxskt_->send_data), 0) << "staging must be empty after a write";
}

TEST_F(Exchange, TimerWriteFrame)
{
    peer_.Push({Response(0, "")});
    vxsktSetReqLong(vxskt_.get(), 8);
    vxsktSetReqLong(vxskt_.get(), 102415);
    vxsktSetReqLong(vxskt_.get(), 0x8004);
    ASSERT_EQ(vxsktWrite(vxskt_.get(), 19), 0);
    ASSERT_TRUE(peer_.WaitForRequests(1, 5s));
    const std::string request = peer_.Requests()[0];
    EXPECT_EQ(Hex(request.substr(8, 4)), Hex(Le32(34))) << "total_size";
    EXPECT_EQ(Hex(request), Hex(WriteFrame("lp1", 0x8004)));
}

TEST_F(Exchange, CommandOneSendsFourZeroBytesAndDropsStaged)
{
    peer_.Push({Response(0, "")});
    peer_.Push({Response(0, "")});
    vxsktSetReqLong(vxskt_.get(), 4);
    vxsktSetReqLong(vxskt_.get(), 106523);
    ASSERT_EQ(vxsktWrite(vxskt_.get(), 1), 0);
    ASSERT_EQ(vxsktRead(vxskt_.get()), 0);
    ASSERT_EQ(vxsktWrite(vxskt_.get(), 19), 0);
    ASSERT_TRUE(peer_.WaitForRequests(2, 5s));
    const auto requests = peer_.Requests();
    EXPECT_EQ(Hex(requests[0]), Hex(RequestFrame(1, "lp1", std::string(4, '\0'))));
    EXPECT_EQ(Hex(requests[1]), Hex(RequestFrame(kPrinterCommand, "lp1", "")))
        << "staged bytes leaked into the next request";
}

TEST_F(Exchange, ConsecutiveQueriesSendOnlyTheirOwnData)
{
    peer_.Push({Response(0, "\x02\x0A")});
    peer_.Push({Response(0, Le32(4))});
    for (int32_t item : {106520, 106523}) {
        vxsktSetReqLong(vxskt_.get(), 4);
        vxsktSetReqLong(vxskt_.get(), item);
        ASSERT_EQ(vxsktWrite(vxskt_.get(), 19), 0);
        ASSERT_GT(vxsktRead(vxskt_.get()), 0);
    }
    const auto requests = peer_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(Hex(requests[0]), Hex(QueryFrame("lp1", kFirmwareItem)));
    EXPECT_EQ(Hex(requests[1]), Hex(QueryFrame("lp1", kReadTimerItem)));
}

TEST_F(Exchange, StagingHoldsExactly512Bytes)
{
    VxsktModule* v = vxskt_.get();
    for (int i = 0; i < 128; ++i) {
        ASSERT_EQ(vxsktSetReqLong(v, i), 0) << "long " << i + 1 << " of 128";
    }
    EXPECT_EQ(vxsktSetReqLong(v, 128), -1) << "the 129th long must be refused";
    EXPECT_EQ(vxsktSetReqByte(v, 1), -1);
    EXPECT_EQ(vxsktSetReqData(v, "", 0), 0);
    EXPECT_EQ(buftool_pos(v->send_data), 512);

    vxsktResetReqData(v);
    EXPECT_EQ(buftool_pos(v->send_data), 0);
    char block[512] = {};
    ASSERT_EQ(vxsktSetReqData(v, block, 511), 0);
    EXPECT_EQ(vxsktSetReqShort(v, 1), -1) << "a refused short stages nothing";
    EXPECT_EQ(vxsktSetReqData(v, block, 2), -1);
    EXPECT_EQ(vxsktSetReqData(v, block, -1), -1) << "negative size";
    EXPECT_EQ(buftool_pos(v->send_data), 511) << "earlier staged bytes are kept";
    EXPECT_EQ(vxsktSetReqByte(v, 1), 0);
}

TEST_F(Exchange, FrameThatDoesNotFitIsRefusedAndStagingEmptied)
{
    std::string printer(1600, 'q');
    Connection big = Open(peer_.port(), printer);
    ASSERT_NE(big, nullptr);
    char block[512] = {};
    ASSERT_EQ(vxsktSetReqData(big.get(), block, 512), 0);
    EXPECT_EQ(vxsktWrite(big.get(), 19), -1);
    EXPECT_EQ(buftool_pos(big->send_data), 0);
    EXPECT_EQ(vxsktWrite(big.get(), 19), 0) << "the same name with nothing staged fits";
}

// Replies that carry no usable payload: nothing is held afterwards.
TEST_F(Exchange, RepliesWithoutPayload)
{
    struct Case {
        const char* what;
        std::string reply;
        int16_t code;
        int32_t declared;
    };
    const Case cases[] = {
        {"no payload", Response(0, ""), 0, 0},
        {"negative length", ResponseDeclaring(0, -5, ""), 0, -5},
        {"most negative length", ResponseDeclaring(3, INT32_MIN, ""), 3, INT32_MIN},
        {"above the cap", ResponseDeclaring(0, (1 << 20) + 1, "\x01\x02"), 0, (1 << 20) + 1},
        {"largest length", ResponseDeclaring(0, INT32_MAX, "\x01\x02"), 0, INT32_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Connection fresh = Open(peer_.port());
        ASSERT_NE(fresh, nullptr);
        peer_.Push({c.reply});
        ASSERT_EQ(vxsktWrite(fresh.get(), 19), 0);
        EXPECT_EQ(vxsktRead(fresh.get()), 0);
        EXPECT_EQ(vxsktGetResCode(fresh.get()), c.code);
        EXPECT_EQ(vxsktGetStatusLen(fresh.get()), c.declared);
        EXPECT_EQ(vxsktGetResSize(fresh.get()), -1);
        EXPECT_EQ(vxsktGetStatusData(fresh.get()), nullptr);
        char byte = 0;
        EXPECT_EQ(vxsktGetResData(fresh.get(), &byte, VXSKT_RES_BYTE, 0), -1);
        EXPECT_EQ(vxsktSeekResData(fresh.get(), 0), -1);
    }
}

TEST_F(Exchange, PayloadAtTheCapIsRead)
{
    const std::string payload(1 << 20, '\x5A');
    EXPECT_EQ(Ask(Response(0, payload)), 1 << 20);
    EXPECT_EQ(vxsktGetStatusData(vxskt_.get())[(1 << 20) - 1], 0x5A);
    EXPECT_EQ(vxsktGetStatusData(vxskt_.get())[1 << 20], 0) << "payload is zero-terminated";
}

TEST_F(Exchange, TwoBytePayloadReads)
{
    ASSERT_EQ(Ask(Response(0, "\x02\x0A", static_cast<int16_t>(0xFFFE))), 2);
    VxsktModule* v = vxskt_.get();
    EXPECT_EQ(vxsktGetStatusCode(v), 0xFFFE) << "status is handed out unsigned";
    EXPECT_EQ(vxsktGetResSize(v), 2);

    int32_t value = 0x11111111;
    EXPECT_EQ(vxsktGetResData(v, &value, VXSKT_RES_LONG, 0), -1) << "a long does not fit";
    EXPECT_EQ(value, 0x11111111) << "...and leaves the destination unchanged";

    char major = 0, minor = 0, extra = 7;
    EXPECT_EQ(vxsktGetResData(v, &major, VXSKT_RES_BYTE, 0), 0);
    EXPECT_EQ(vxsktGetResData(v, &minor, VXSKT_RES_BYTE, 0), 0);
    EXPECT_EQ(vxsktGetResData(v, &extra, VXSKT_RES_BYTE, 0), -1);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 10);
    EXPECT_EQ(extra, 7);
    EXPECT_EQ(vxsktSeekResData(v, 0), -1) << "the cursor stands at the end";
}

// Every item type, with the cursor where only part of the item is left: a
// short reply must never pass for a value.
TEST_F(Exchange, AnItemThatDoesNotFitFailsAndLeavesEverythingAsItWas)
{
    struct Case {
        int payload, cursor, type, size;  // size: for VXSKT_RES_BLOCK
    } const cases[] = {{1, 0, VXSKT_RES_SHORT, 0}, {4, 3, VXSKT_RES_SHORT, 0},
                       {3, 0, VXSKT_RES_LONG, 0},  {4, 1, VXSKT_RES_LONG, 0},
                       {4, 0, VXSKT_RES_BLOCK, 5}, {4, 2, VXSKT_RES_BLOCK, 3},
                       {4, 1, VXSKT_RES_WHOLE, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "type " << c.type << " at " << c.cursor << " of " << c.payload);
        ASSERT_EQ(Ask(Response(0, std::string(static_cast<size_t>(c.payload), '\x11'))), c.payload);
        ASSERT_TRUE(c.cursor == 0 || vxsktSeekResData(vxskt_.get(), c.cursor) == 0);
        char out[8] = "unread";
        EXPECT_EQ(vxsktGetResData(vxskt_.get(), out, c.type, c.size), -1);
        EXPECT_STREQ(out, "unread");
        EXPECT_EQ(vxsktGetResData(vxskt_.get(), out, VXSKT_RES_BYTE, 0), 0) << "the cursor moved";
    }
}

// A frame nobody asked for, or a payload the module declined to read, must
// not be read as the answer to the next request.
TEST_F(Exchange, WhatWaitsUnreadIsDroppedBeforeTheNextRequest)
{
    const std::string stray = Response(0, "\x09\x09");
    EXPECT_EQ(Ask(ResponseDeclaring(0, (1 << 20) + 1, stray)), 0);
    EXPECT_EQ(Ask(Response(3, "\x01\x05") + stray), 2);
    EXPECT_EQ(vxsktGetResCode(vxskt_.get()), 3);
    EXPECT_EQ(Ask(Response(4, "\x02\x06")), 2);
    EXPECT_EQ(vxsktGetResCode(vxskt_.get()), 4);
    EXPECT_STREQ(reinterpret_cast<char*>(vxsktGetStatusData(vxskt_.get())), "\x02\x06");
}

TEST_F(Exchange, SeekAndBlockReads)
{
    ASSERT_EQ(Ask(Response(0, "ABCDEF")), 6);
    VxsktModule* v = vxskt_.get();
    char block[8] = {};
    EXPECT_EQ(vxsktGetResData(v, block, VXSKT_RES_BLOCK, -1), -1) << "negative block size";
    EXPECT_EQ(vxsktSeekResData(v, -1), -1) << "negative offset";
    EXPECT_EQ(vxsktSeekResData(v, 6), -1) << "offset at the end";
    EXPECT_EQ(vxsktSeekResData(v, 2), 0);
    EXPECT_EQ(vxsktGetResData(v, block, VXSKT_RES_BLOCK, 3), 0);
    EXPECT_EQ(std::string(block, 3), "CDE");
    EXPECT_EQ(vxsktGetResData(v, block, 9, 0), 0) << "an unknown type reads nothing";
    EXPECT_EQ(vxsktSeekResData(v, 0), 0);
    char whole[8] = {};
    EXPECT_EQ(vxsktGetResData(v, whole, VXSKT_RES_WHOLE, 0), 0);
    EXPECT_EQ(std::string(whole), "ABCDEF");
    EXPECT_EQ(vxsktGetResData(v, whole, VXSKT_RES_BYTE, 0), -1);
}

TEST_F(Exchange, RefusalWithPayloadKeepsThePayload)
{
    EXPECT_EQ(Ask(Response(1, "\x09\x09")), 2);
    EXPECT_EQ(vxsktGetResCode(vxskt_.get()), 1);
    EXPECT_EQ(vxsktGetResSize(vxskt_.get()), 2);
}

TEST_F(Exchange, PeerClosingMidHeaderKeepsThePreviousResponse)
{
    ASSERT_EQ(Ask(Response(0, "\x01\x05")), 2);
    EXPECT_EQ(Ask(Response(7, "\x01\x02\x03").substr(0, 6), TcpPeer::After::kClose), -1);
    EXPECT_EQ(vxsktGetResCode(vxskt_.get()), 0);
    EXPECT_EQ(vxsktGetResSize(vxskt_.get()), 2);
}

TEST_F(Exchange, PeerClosingMidPayloadDropsThePayload)
{
    ASSERT_EQ(Ask(Response(0, "\x01\x05")), 2);
    EXPECT_EQ(Ask(ResponseDeclaring(5, 4, "\x01\x02"), TcpPeer::After::kClose), -1);
    EXPECT_EQ(vxsktGetResCode(vxskt_.get()), 5) << "the new header stands";
    EXPECT_EQ(vxsktGetStatusLen(vxskt_.get()), 4);
    EXPECT_EQ(vxsktGetResSize(vxskt_.get()), -1);
    EXPECT_EQ(vxsktGetStatusData(vxskt_.get()), nullptr);
}

TEST_F(Exchange, PeerResetGivesTransportFailure)
{
    EXPECT_EQ(Ask("", TcpPeer::After::kReset), -1);
}

TEST_F(Exchange, TrickledResponseIsReassembled)
{
    peer_.Push({Response(0, Le32(0x8005)), TcpPeer::After::kKeepOpen, 0ms, 2ms});
    ASSERT_EQ(vxsktWrite(vxskt_.get(), 19), 0);
    ASSERT_EQ(vxsktRead(vxskt_.get()), 4);
    int32_t value = 0;
    EXPECT_EQ(vxsktGetResData(vxskt_.get(), &value, VXSKT_RES_LONG, 0), 0);
    EXPECT_EQ(value, 0x8005);
}

// A daemon that writes its reply in two parts with Nagle's algorithm on
// holds the second part until the first is acknowledged. Every exchange of
// a connection must still read the whole payload, wherever the cut lies.
TEST_F(Exchange, ReplyWrittenInTwoPartsIsReadWhole)
{
    struct Case {
        size_t first_write;
        std::string payload;
    };
    const Case cases[] = {{12, "\x01\x05"},
                          {12, Le32(0x8004)},
                          {5, "\x02\x0A"},
                          {12, std::string(100, 'x')},
                          {40, std::string(100, 'y')}};
    for (int round = 0; round < 3; ++round) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", " << c.payload.size()
                                            << " bytes cut at " << c.first_write);
            peer_.Push(
                {Response(0, c.payload), TcpPeer::After::kKeepOpen, 0ms, 0ms, c.first_write});
            ASSERT_EQ(vxsktWrite(vxskt_.get(), 19), 0);
            ASSERT_EQ(vxsktRead(vxskt_.get()), static_cast<int>(c.payload.size()));
            EXPECT_EQ(std::string(reinterpret_cast<char*>(vxsktGetStatusData(vxskt_.get())),
                                  c.payload.size()),
                      c.payload);
        }
    }
}

// A write to a peer that has gone must fail, not kill the program.
TEST_F(Exchange, WriteToAClosedPeerFailsWithoutSigpipe)
{
    std::signal(SIGPIPE, SIG_DFL);
    EXPECT_EQ(Ask("", TcpPeer::After::kClose), -1);
    int result = 0;
    for (int i = 0; i < 20 && result == 0; ++i) {
        vxsktSetReqLong(vxskt_.get(), 4);
        result = vxsktWrite(vxskt_.get(), 19);
    }
    EXPECT_EQ(result, -1);
    EXPECT_EQ(buftool_pos(vxskt_->send_data), 0);
}

void IgnoreSignal(int) {}

// Signals arriving while the program waits for the daemon are not errors.
TEST_F(Exchange, InterruptedReadIsRetried)
{
    struct sigaction action {};
    action.sa_handler = IgnoreSignal;  // no SA_RESTART: calls return EINTR
    struct sigaction previous {};
    sigaction(SIGUSR1, &action, &previous);
    std::atomic<bool> done{false};
    const pthread_t reader = pthread_self();
    std::thread interrupter([&] {
        while (!done) {
            pthread_kill(reader, SIGUSR1);
            std::this_thread::sleep_for(3ms);
        }
    });
    peer_.Push({Response(0, "\x01\x05"), TcpPeer::After::kKeepOpen, 150ms, 5ms});
    EXPECT_EQ(vxsktWrite(vxskt_.get(), 19), 0);
    EXPECT_EQ(vxsktRead(vxskt_.get()), 2);
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);
}

// The whole response must arrive within the receive bound (5 s), however
// the daemon spreads it out.
struct SlowDaemon {
    const char* name;
    TcpPeer::Step step;
};

class SlowDaemons : public Exchange, public ::testing::WithParamInterface<SlowDaemon> {};

TEST_P(SlowDaemons, FailWithinTheReceiveBound)
{
    peer_.Push(GetParam().step);
    ASSERT_EQ(vxsktWrite(vxskt_.get(), 19), 0);
    const auto start = Clock::now();
    EXPECT_EQ(vxsktRead(vxskt_.get()), -1);
    EXPECT_LT(SecondsSince(start), 7.0);
}

const SlowDaemon kSlowDaemons[] = {
    {"never_answers", {"", TcpPeer::After::kHang}},
    {"header_a_byte_every_700_ms",
     {Response(0, "\x01\x05"), TcpPeer::After::kKeepOpen, 0ms, 700ms}},
    {"answers_after_8_s", {Response(0, "\x01\x05"), TcpPeer::After::kKeepOpen, 8000ms}},
};

INSTANTIATE_TEST_SUITE_P(Daemon, SlowDaemons, ::testing::ValuesIn(kSlowDaemons),
                         [](const ::testing::TestParamInfo<SlowDaemon>& info) {
                             return std::string(info.param.name);
                         });

TEST(Connect, NothingListeningFailsAfterTheAttempts)
{
    unsetenv("ZELD_PORT");
    const ClosedPort closed;
    const int before = OpenDescriptors();
    const auto start = Clock::now();
    EXPECT_EQ(Open(closed.port()), nullptr);
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_EQ(OpenDescriptors(), before) << "a failed open must release its sockets";
}

// A listening socket that never accepts: once its queue is full, the
// kernel drops further SYNs and a connect to it never completes.
class FullQueue {
public:
    FullQueue()
    {
        listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
        address_.sin_family = AF_INET;
        address_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address_;
        bind(listen_fd_, reinterpret_cast<sockaddr*>(&address_), length);
        listen(listen_fd_, 0);
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address_), &length);
    }
    ~FullQueue()
    {
        for (int fd : fillers_) {
            close(fd);
        }
        close(listen_fd_);
    }
    int port() const { return ntohs(address_.sin_port); }
    // Connects until one connect stays pending; false if none does.
    bool Fill()
    {
        for (int i = 0; i < 8; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            fillers_.push_back(fd);
            connect(fd, reinterpret_cast<sockaddr*>(&address_), sizeof address_);
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 300) == 0) {
                return true;
            }
        }
        return false;
    }

private:
    int listen_fd_ = -1;
    sockaddr_in address_{};
    std::vector<int> fillers_;
};

TEST(Connect, UnansweredConnectIsBounded)
{
    unsetenv("ZELD_PORT");
    FullQueue queue;
    if (!queue.Fill()) {
        GTEST_SKIP() << "this kernel completes connects to a full accept queue";
    }
    const auto start = Clock::now();
    EXPECT_EQ(Open(queue.port()), nullptr);
    EXPECT_LT(SecondsSince(start), 10 * 1.5 + 4.0) << "ten attempts of at most 1.5 s each";
}

TEST(Connect, PortFromTheEnvironment)
{
    TcpPeer peer;
    const std::string port = std::to_string(peer.port());
    const ClosedPort closed_port;
    const int closed = closed_port.port();
    struct Case {
        const char* zeld_port;  // null: unset
        std::string value;
        int port_num;
        bool connects;
    };
    const Case cases[] = {
        {"unset", "", peer.port(), true},
        {"empty", "", peer.port(), true},
        {"letter", "abc", peer.port(), true},
        {"leading blank", " " + port, closed, false},
        {"leading blank, caller's port", " " + port, peer.port(), true},
        {"digits", port, closed, true},
        {"digits then letters", port + "abc", closed, true},
    };
    CaptureStderr();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zeld_port);
        if (std::string(c.zeld_port) == "unset") {
            unsetenv("ZELD_PORT");
        } else {
            setenv("ZELD_PORT", c.value.c_str(), 1);
        }
        EXPECT_EQ(Open(c.port_num) != nullptr, c.connects);
    }
    unsetenv("ZELD_PORT");
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "a value without a number: " << err;
}

// A number that is no port must not be cut down to one: it is ignored for
// the caller's port, with one line on standard error for the process.
TEST(Connect, PortOutsideTheRangeIsIgnoredWithOneLine)
{
    TcpPeer peer;
    CaptureStderr();
    for (const char* value : {"0", "65536", "112537", "1234567890123456789012345678901234567890"}) {
        SCOPED_TRACE(value);
        setenv("ZELD_PORT", value, 1);
        EXPECT_NE(Open(peer.port()), nullptr) << "the caller's port was not used";
    }
    unsetenv("ZELD_PORT");
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("ZELD_PORT 0 "), std::string::npos) << err;
}

TEST(Connect, HostAfterTheAtSign)
{
    unsetenv("ZELD_PORT");
    TcpPeer peer;
    for (const char* name : {"lp1@localhost", "lp1@127.0.0.1", "lp1@"}) {
        SCOPED_TRACE(name);
        std::string printer = name, locale = kEnglishLocale;
        Connection vxskt(vxsktNew(printer.data(), locale.data(), nullptr, peer.port()));
        ASSERT_NE(vxskt, nullptr);
        EXPECT_STREQ(printer.c_str(), "lp1") << "the caller's string is cut at the @";
        EXPECT_EQ(vxskt->size_printer, 3);
        peer.Push({Response(0, "")});
        ASSERT_EQ(vxsktWrite(vxskt.get(), 19), 0);
        ASSERT_EQ(vxsktRead(vxskt.get()), 0);
    }
    const auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(Hex(requests[1]), Hex(RequestFrame(kPrinterCommand, "lp1", "")));
}

// No printer part, or a host part that is no address: refused before any
// connection reaches a daemon.
TEST(Connect, NamesThatCannotWorkAreRefused)
{
    unsetenv("ZELD_PORT");
    TcpPeer peer;
    for (const char* name : {"@localhost", "", "@", "lp1@[no-such-host]", "lp1@[::1"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Open(peer.port(), name), nullptr);
    }
    EXPECT_EQ(peer.Accepted(), 0);
}

Connection OpenUntil(int port, std::string printer, int64_t deadline_ms)
{
    std::string locale = kEnglishLocale;
    return Connection(vxsktNewUntil(printer.data(), locale.data(), nullptr, port, deadline_ms));
}

TEST(Connect, IPv6LoopbackPlainAndBracketed)
{
    unsetenv("ZELD_PORT");
    TcpPeer peer(8, TcpPeer::Loopback::kIPv6);
    for (const char* name : {"q@::1", "q@[::1]"}) {
        for (int64_t deadline : {int64_t{0}, vxsktNowMs() + 60000}) {
            SCOPED_TRACE(testing::Message() << name << ", deadline " << deadline);
            Connection vxskt = OpenUntil(peer.port(), name, deadline);
            ASSERT_NE(vxskt, nullptr);
            EXPECT_STREQ(vxskt->printer, "q");
            peer.Push({Response(0, "")});
            ASSERT_EQ(vxsktWrite(vxskt.get(), 19), 0);
            EXPECT_EQ(vxsktRead(vxskt.get()), 0);
        }
    }
}

// A daemon that accepts and never answers costs the deadline, not the
// receive bound (5 s); nothing is begun after it.
TEST(Connect, EveryWaitEndsByTheDeadline)
{
    unsetenv("ZELD_PORT");
    TcpPeer peer;
    EXPECT_EQ(OpenUntil(peer.port(), "lp1", vxsktNowMs() - 1), nullptr);
    EXPECT_EQ(peer.Accepted(), 0) << "a connect began after the deadline";

    const int64_t deadline = vxsktNowMs() + 1000;
    Connection vxskt = OpenUntil(peer.port(), "lp1", deadline);
    ASSERT_NE(vxskt, nullptr);
    peer.Push({"", TcpPeer::After::kHang});
    ASSERT_EQ(vxsktWrite(vxskt.get(), 19), 0);
    EXPECT_EQ(vxsktRead(vxskt.get()), -1);
    const int64_t ended = vxsktNowMs();
    EXPECT_GE(ended, deadline) << "gave up before the deadline";
    EXPECT_LT(ended, deadline + 3500) << "waited on past the deadline";
    EXPECT_EQ(vxsktWrite(vxskt.get(), 19), -1) << "a request sent after the deadline";
}

// With a deadline, a daemon slower than the receive bound is waited for.
TEST(Connect, TheDeadlineReplacesTheReceiveBound)
{
    unsetenv("ZELD_PORT");
    TcpPeer peer;
    Connection vxskt = OpenUntil(peer.port(), "lp1", vxsktNowMs() + 9000);
    ASSERT_NE(vxskt, nullptr);
    peer.Push({Response(0, "\x01\x05"), TcpPeer::After::kKeepOpen, 6000ms});
    ASSERT_EQ(vxsktWrite(vxskt.get(), 19), 0);
    EXPECT_EQ(vxsktRead(vxskt.get()), 2);
}

TEST(Connect, NullNamesAreRefused)
{
    TcpPeer peer;
    std::string text = "lp1";
    EXPECT_EQ(vxsktNew(nullptr, text.data(), nullptr, peer.port()), nullptr);
    EXPECT_EQ(vxsktNew(text.data(), nullptr, nullptr, peer.port()), nullptr);
}

// Allocation failures, one at a time, through the module's allocation table.
class FailingAllocations : public ::testing::Test {
protected:
    static inline int countdown_ = -1;  // the allocation that fails: 0 = next

    static bool Fail() { return countdown_ >= 0 && countdown_-- == 0; }
    static void* ZeroAlloc(size_t count, size_t size)
    {
        return Fail() ? nullptr : std::calloc(count, size);
    }
    static BufTool* NewBuffer(int size, int big_endian)
    {
        return Fail() ? nullptr : buftool_new(size, big_endian);
    }

    void SetUp() override
    {
        unsetenv("ZELD_PORT");
        saved_ = vxskt_allocator;
        vxskt_allocator = {ZeroAlloc, NewBuffer};
    }
    void TearDown() override
    {
        vxskt_allocator = saved_;
        countdown_ = -1;
    }

    VxsktAllocator saved_{};
    TcpPeer peer_;
};

TEST_F(FailingAllocations, OpeningReleasesEverythingOnEachFailure)
{
    const int before = OpenDescriptors();
    int failures = 0;
    for (int n = 0; n < 20; ++n) {
        countdown_ = n;
        std::string printer = "lp1@localhost", locale = kEnglishLocale;
        Connection vxskt(vxsktNew(printer.data(), locale.data(), nullptr, peer_.port()));
        if (vxskt != nullptr) {
            break;
        }
        ++failures;
        EXPECT_EQ(OpenDescriptors(), before) << "allocation " << n;
    }
    EXPECT_GE(failures, 5) << "record, host, printer, locale and staging are all allocated";
    EXPECT_LT(failures, 20) << "opening never succeeded";
}

TEST_F(FailingAllocations, ExchangeBuffers)
{
    Connection vxskt = Open(peer_.port());
    ASSERT_NE(vxskt, nullptr);
    peer_.Push({Response(0, "\x01\x05")});

    vxsktSetReqLong(vxskt.get(), 4);
    countdown_ = 0;
    EXPECT_EQ(vxsktWrite(vxskt.get(), 19), -1) << "no frame buffer";
    EXPECT_EQ(buftool_pos(vxskt->send_data), 0);

    ASSERT_EQ(vxsktWrite(vxskt.get(), 19), 0);
    countdown_ = 0;
    EXPECT_EQ(vxsktRead(vxskt.get()), -1) << "no header buffer";

    countdown_ = 1;
    EXPECT_EQ(vxsktRead(vxskt.get()), 0) << "no payload buffer";
    EXPECT_EQ(vxsktGetResSize(vxskt.get()), -1);
}

}  // namespace
