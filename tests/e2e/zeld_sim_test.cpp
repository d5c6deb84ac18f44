// The daemon simulator over real loopback TCP, driven by a small raw client
// written here (not the program's own connection module), so a fault in one
// cannot hide a fault in the other.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "process.h"
#include "wire.h"
#include "zeld_sim.h"

using namespace std::chrono_literals;
using harness::Millis;
using harness::ZeldSim;

namespace {

constexpr Millis kAnswerDeadline = 10000ms;

using harness::Hex;
using harness::kFirmwareItem;
using harness::kReadTimerItem;
using harness::kWriteTimerItem;
using harness::Le32;
using harness::QueryFrame;
using harness::ReadLe32;
using harness::RequestFrame;
using harness::WriteFrame;

struct Answer : harness::ResponseHeader {
    std::string payload;
};

// A blocking-free client: every read has a deadline, so a test against a
// misbehaving simulator fails instead of hanging.
class RawClient {
public:
    // A `receive_buffer` keeps the kernel from taking in megabytes of
    // answers on the client's behalf, which would hide what the simulator
    // itself holds.
    explicit RawClient(uint16_t port, int receive_buffer = 0)
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receive_buffer > 0)
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }
    bool Send(const std::string& bytes)
    {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Up to `n` bytes, fewer when the peer closes, resets or `timeout` passes;
    // `eof` and `error` tell which.
    std::string Read(size_t n, Millis timeout = kAnswerDeadline)
    {
        std::string out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < n) {
            const auto left =
                std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(std::max<Millis::rep>(0, left.count()))) <= 0)
                break;
            char buf[4096];
            const ssize_t got = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got == 0) {
                eof = true;
                break;
            }
            if (got < 0) {
                error = errno;
                break;
            }
            out.append(buf, static_cast<size_t>(got));
        }
        return out;
    }
    // True when the peer closes (or resets) within `timeout` with nothing
    // more to read.
    bool ClosedByPeer(Millis timeout = kAnswerDeadline)
    {
        const std::string rest = Read(1, timeout);
        return rest.empty() && (eof || error != 0);
    }
    // Sends copies of `frame` without reading answers, until `max` bytes went
    // out or the peer has taken nothing for `stall`; returns the bytes sent.
    size_t Flood(const std::string& frame, size_t max, Millis stall)
    {
        std::string chunk;
        while (chunk.size() < 64 * 1024)
            chunk += frame;
        size_t sent = 0;
        while (sent < max) {
            const size_t at = sent % chunk.size();
            const ssize_t n =
                send(fd_, chunk.data() + at, chunk.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            pollfd p{fd_, POLLOUT, 0};
            if ((n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ||
                poll(&p, 1, static_cast<int>(stall.count())) <= 0)
                break;
        }
        return sent;
    }
    std::optional<Answer> Exchange(const std::string& frame)
    {
        if (!Send(frame))
            return std::nullopt;
        return ReadAnswer();
    }
    std::optional<Answer> ReadAnswer(Millis timeout = kAnswerDeadline)
    {
        const std::string h = Read(12, timeout);
        if (h.size() != 12)
            return std::nullopt;
        Answer a;
        static_cast<harness::ResponseHeader&>(a) = harness::ReadResponseHeader(h);
        if (a.length > 0 && a.length < 4096)
            a.payload = Read(static_cast<size_t>(a.length), timeout);
        return a;
    }

    bool eof = false;
    int error = 0;

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::optional<Answer> Ask(const ZeldSim& sim, const std::string& frame)
{
    RawClient c(sim.port());
    return c.Exchange(frame);
}

std::optional<uint16_t> ReadTimer(const ZeldSim& sim, const std::string& printer)
{
    const auto a = Ask(sim, QueryFrame(printer, kReadTimerItem));
    if (!a || a->code != 0 || a->payload.size() != 4)
        return std::nullopt;
    return static_cast<uint16_t>(ReadLe32(a->payload, 0) & 0xFFFF);
}

ZeldSim::Options TwoPrinters()
{
    ZeldSim::Options o;
    o.printers = {{"lp1", 1, 5, 4}, {"lp2", 2, 10, 0x8005}};
    return o;
}

// ------------------------------------------------------------ answers

TEST(ZeldSim, AnswersTheThreeItemsByteForByte)
{
    ZeldSim sim(TwoPrinters());
    RawClient c(sim.port());
    ASSERT_TRUE(c.connected());

    auto fw = c.Exchange(QueryFrame("lp2", kFirmwareItem));
    ASSERT_TRUE(fw);
    EXPECT_EQ(fw->magic, "zelr");
    EXPECT_EQ(fw->code, 0);
    EXPECT_EQ(fw->status, 0);
    EXPECT_EQ(fw->payload, std::string("\x02\x0a", 2)) << "firmware 2.10 is the bytes 02 0A";

    auto timer = c.Exchange(QueryFrame("lp2", kReadTimerItem));
    ASSERT_TRUE(timer);
    EXPECT_EQ(timer->payload, std::string("\x05\x80\x00\x00", 4))
        << "0x8005 as a 32-bit little-endian value";

    // Only the low 16 bits of the written value are kept.
    auto write = c.Exchange(WriteFrame("lp2", 0x00018004));
    ASSERT_TRUE(write);
    EXPECT_EQ(write->code, 0);
    EXPECT_EQ(write->length, 0);
    timer = c.Exchange(QueryFrame("lp2", kReadTimerItem));
    ASSERT_TRUE(timer);
    EXPECT_EQ(timer->payload, std::string("\x04\x80\x00\x00", 4));
    EXPECT_EQ(sim.StoredTimer("lp2"), 0x8004);
    EXPECT_EQ(ReadTimer(sim, "lp1"), 4) << "a write to one printer leaves the others alone";
}

TEST(ZeldSim, RefusesWhatItDoesNotKnow)
{
    struct Case {
        const char* what;
        std::string frame;
        int16_t code;
        uint16_t status;
    };
    const Case cases[] = {
        {"unknown printer", QueryFrame("nosuch", kFirmwareItem), 2, 0xFFFF},
        {"printer name with a host part", QueryFrame("lp1@localhost", kFirmwareItem), 2, 0xFFFF},
        {"unknown item", QueryFrame("lp1", 106521), 3, 0},
        {"unknown command", RequestFrame(1, "lp1", Le32(0)), 1, 0},
        {"command 20 with a good item", RequestFrame(20, "lp1", Le32(4) + Le32(kFirmwareItem)), 1,
         0},
        {"count field disagrees with the data part",
         RequestFrame(19, "lp1", Le32(8) + Le32(kFirmwareItem)), 4, 0},
        {"no data part", RequestFrame(19, "lp1", ""), 4, 0},
        {"write without a value", RequestFrame(19, "lp1", Le32(4) + Le32(kWriteTimerItem)), 4, 0},
        {"query with a value", RequestFrame(19, "lp1", Le32(8) + Le32(kReadTimerItem) + Le32(1)), 4,
         0},
        {"size_printer beyond the frame",
         "zel0" + Le32(19) + Le32(16) + Le32(1000) + std::string(12, 'x'), 4, 0xFFFF},
    };
    ZeldSim sim(TwoPrinters());
    RawClient c(sim.port());
    for (const auto& tc : cases) {
        const auto a = c.Exchange(tc.frame);
        ASSERT_TRUE(a) << tc.what << ": no answer";
        EXPECT_EQ(a->code, tc.code) << tc.what;
        EXPECT_EQ(a->status, tc.status) << tc.what;
        EXPECT_EQ(a->length, 0) << tc.what;
    }
    EXPECT_EQ(sim.StoredTimer("lp1"), std::nullopt) << "nothing was written";
    EXPECT_EQ(ReadTimer(sim, "lp1"), 4);
}

TEST(ZeldSim, DefaultSetMatchesTheDemoQueues)
{
    struct Case {
        const char* queue;
        const char* firmware;
        uint16_t timer;
    };
    const Case cases[] = {
        {"Brelko-M210", "\x01\x02", 4},       {"Brelko-M220", "\x01\x01", 0x8002},
        {"Brelko-M230", "\x02\x0a", 8},       {"Brelko-M240C", "\x01\x03", 1},
        {"Brelko-M250C", "\x01\x00", 0x8008}, {"Brelko-M220-Office", "\x01\x05", 3},
        {"Brelko-M240C-Old", "\x01\x02", 4},
    };
    ZeldSim sim;
    for (const auto& tc : cases) {
        const auto fw = Ask(sim, QueryFrame(tc.queue, kFirmwareItem));
        ASSERT_TRUE(fw) << tc.queue;
        EXPECT_EQ(fw->payload, std::string(tc.firmware, 2)) << tc.queue;
        EXPECT_EQ(ReadTimer(sim, tc.queue), tc.timer) << tc.queue;
    }
}

// ------------------------------------------------------------ state

TEST(ZeldSim, WrittenTimerSurvivesRestart)
{
    ZeldSim::Options o = TwoPrinters();
    o.extra_args = {"--printer", "lp#1 1.0 4"};  // in a config file, '#' begins a comment
    ZeldSim sim(o);
    ASSERT_EQ(Ask(sim, WriteFrame("lp#1", 5))->code, 0);
    ASSERT_EQ(Ask(sim, WriteFrame("lp1", 0x8007))->code, 0);
    ASSERT_EQ(Ask(sim, WriteFrame("lp1", 6))->code, 0);
    EXPECT_EQ(sim.StoredTimer("lp1"), 6);
    EXPECT_EQ(sim.StoredTimer("lp2"), 0x8005);

    sim.Restart();
    EXPECT_EQ(ReadTimer(sim, "lp1"), 6) << "the last accepted timer, not the configured one";
    EXPECT_EQ(ReadTimer(sim, "lp2"), 0x8005);
    EXPECT_EQ(ReadTimer(sim, "lp#1"), 5);

    sim.Restart(false);
    EXPECT_EQ(ReadTimer(sim, "lp1"), 6);
}

TEST(ZeldSim, StateKeepsEntriesOfPrintersItDoesNotHold)
{
    harness::TempDir dir;
    const std::string state = dir / "state";
    harness::WriteFile(state, "gone 9\nlp1 3\n");
    ZeldSim::Options o = TwoPrinters();
    o.state_path = state;
    ZeldSim sim(o);
    EXPECT_EQ(ReadTimer(sim, "lp1"), 3);
    ASSERT_EQ(Ask(sim, WriteFrame("lp2", 2))->code, 0);
    EXPECT_EQ(sim.StoredTimer("gone"), 9);
    EXPECT_EQ(sim.StoredTimer("lp2"), 2);
}

TEST(ZeldSim, UnwritableStateRefusesTheWrite)
{
    harness::TempDir dir;
    ZeldSim::Options o = TwoPrinters();
    o.state_path = dir / "no-such-folder/state";
    ZeldSim sim(o);
    const auto a = Ask(sim, WriteFrame("lp1", 7));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->code, 5);
    EXPECT_EQ(ReadTimer(sim, "lp1"), 4) << "a timer that could not be kept is not taken";
}

TEST(ZeldSim, BadStartupInputEndsWithStatus2)
{
    harness::TempDir dir;
    harness::WriteFile(dir / "bad.conf", "printer lp1 1.0\n");
    harness::WriteFile(dir / "bad-state", "lp1 70000\n");
    const std::string sim = harness::BuildPath("zeld-sim/zeld-sim");
    const std::vector<std::vector<std::string>> cases = {
        {sim, "--port", "0", "--config", dir / "bad.conf"},
        {sim, "--port", "0", "--printer", "lp1 1.x 4"},
        {sim, "--port", "0", "--printer", "lp1 1.0 4", "--printer", "lp1 2.0 4"},
        {sim, "--port", "0", "--fault", "* * explode"},
        {sim, "--port", "0", "--fault", "* * payload 65"},
        {sim, "--port", "70000"},
        {sim, "--port", "0", "--idle-timeout", "-1"},
        {sim, "--port", "0", "--log-max", "1000"},
        {sim, "--port", "0", "--printer", "lp{1..3} 1.0 4", "--printer", "lp2 2.0 4"},
        {sim, "--port"},
    };
    for (const auto& argv : cases) {
        std::string out;
        EXPECT_EQ(harness::Run(argv, 10000ms, &out), 2) << argv.back() << ": " << out;
    }
    std::string out;
    EXPECT_EQ(harness::Run({sim, "--port", "0", "--state", dir / "bad-state"}, 10000ms, &out), 1)
        << out;
}

// ------------------------------------------------------------ clients

TEST(ZeldSim, ServesAClientWhileAnotherHoldsItsConnection)
{
    ZeldSim sim(TwoPrinters());
    RawClient holder(sim.port());
    ASSERT_TRUE(holder.connected());
    const std::string query = QueryFrame("lp1", kFirmwareItem);
    ASSERT_TRUE(holder.Send(query.substr(0, 7))) << "half a header, then nothing";

    for (int i = 0; i < 20; ++i) {
        const auto a = Ask(sim, QueryFrame("lp1", kReadTimerItem));
        ASSERT_TRUE(a) << "client " << i << " in a row";
        EXPECT_EQ(a->code, 0);
    }
    ASSERT_TRUE(holder.Send(query.substr(7)));
    const auto late = holder.ReadAnswer();
    ASSERT_TRUE(late) << "the held request is answered once whole";
    EXPECT_EQ(late->payload, std::string("\x01\x05", 2));
}

TEST(ZeldSim, InterleavedClientsGetTheirOwnAnswers)
{
    ZeldSim sim(TwoPrinters());
    RawClient a(sim.port());
    RawClient b(sim.port());
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(a.Send(QueryFrame("lp1", kFirmwareItem)));
        ASSERT_TRUE(b.Send(QueryFrame("lp2", kFirmwareItem)));
        const auto from_b = b.ReadAnswer();
        const auto from_a = a.ReadAnswer();
        ASSERT_TRUE(from_a && from_b);
        EXPECT_EQ(from_a->payload, std::string("\x01\x05", 2));
        EXPECT_EQ(from_b->payload, std::string("\x02\x0a", 2));
    }
    // Two requests in one write are answered in order.
    ASSERT_TRUE(a.Send(QueryFrame("lp1", kFirmwareItem) + QueryFrame("lp2", kReadTimerItem)));
    EXPECT_EQ(a.ReadAnswer()->payload, std::string("\x01\x05", 2));
    EXPECT_EQ(a.ReadAnswer()->payload, std::string("\x05\x80\x00\x00", 4));
}

// ------------------------------------------------------------ faults

std::string ReplyHeader(int16_t code, int32_t length)
{
    return "zelr" + harness::Le16(static_cast<uint16_t>(code)) + harness::Le16(0) +
           Le32(static_cast<uint32_t>(length));
}

// What a client gets for one request spoiled by `rule` (set to spoil just
// that one). When the connection stays open, a second request follows and
// its normal answer must come right after: so nothing extra was sent and
// the connection still works, without waiting for silence.
struct Seen {
    std::string bytes;
    bool closed = false;
    int error = 0;
};

Seen Observe(ZeldSim& sim, const std::string& rule, const std::string& frame, size_t expect_open)
{
    sim.SetFault("* * " + rule + " count 1");
    RawClient c(sim.port());
    Seen s;
    if (!c.Send(frame))
        return s;
    if (expect_open > 0 && !c.Send(frame))
        return s;
    s.bytes = c.Read(expect_open > 0 ? expect_open : 4096);
    s.closed = c.eof || c.error != 0;
    s.error = c.error;
    return s;
}

TEST(ZeldSim, EachFaultSpoilsTheAnswerAsDocumented)
{
    const std::string fw("\x01\x05", 2);
    const std::string normal = ReplyHeader(0, 2) + fw;
    struct Case {
        std::string rule;
        std::string bytes;  // exact bytes the client gets for the spoiled request
        bool closed;
    };
    const Case cases[] = {
        {"refuse 7", ReplyHeader(7, 2) + fw, false},
        {"refuse -1", ReplyHeader(-1, 2) + fw, false},
        {"close-before", "", true},
        {"close-after-header", ReplyHeader(0, 2), true},
        {"half-payload", ReplyHeader(0, 2) + fw.substr(0, 1), true},
        {"length -5", ReplyHeader(0, -5) + fw, false},
        {"length 2147483647", ReplyHeader(0, 2147483647) + fw, false},
        {"length -2147483648", ReplyHeader(0, INT32_MIN) + fw, false},
        {"payload 0", ReplyHeader(0, 0), false},
        {"payload 1", ReplyHeader(0, 1) + fw.substr(0, 1), false},
        {"payload 2", ReplyHeader(0, 2) + fw, false},
        {"payload 3", ReplyHeader(0, 3) + fw + std::string(1, '\0'), false},
        {"delay 50", normal, false},
        {"silent", "", false},
    };
    ZeldSim sim(TwoPrinters());
    for (const auto& tc : cases) {
        const std::string expected = tc.closed ? tc.bytes : tc.bytes + normal;
        const Seen s = Observe(sim, tc.rule, QueryFrame("lp1", kFirmwareItem),
                               tc.closed ? 0 : expected.size());
        EXPECT_EQ(Hex(s.bytes), Hex(expected)) << tc.rule;
        EXPECT_EQ(s.closed, tc.closed) << tc.rule;
    }
}

TEST(ZeldSim, HalfPayloadOfTheTimerIsTwoBytes)
{
    ZeldSim sim(TwoPrinters());
    const Seen s = Observe(sim, "half-payload", QueryFrame("lp1", kReadTimerItem), 0);
    EXPECT_EQ(s.bytes, ReplyHeader(0, 4) + std::string("\x04\x00", 2));
    EXPECT_TRUE(s.closed);
}

TEST(ZeldSim, ResetFaultResetsTheConnection)
{
    ZeldSim sim(TwoPrinters());
    const Seen s = Observe(sim, "reset", QueryFrame("lp1", kFirmwareItem), 0);
    EXPECT_EQ(s.bytes, "");
    EXPECT_EQ(s.error, ECONNRESET);
}

TEST(ZeldSim, DelayedAnswerDoesNotHoldUpOthers)
{
    ZeldSim sim(TwoPrinters());
    sim.SetFault("lp1 * delay 2000");
    RawClient slow(sim.port());
    ASSERT_TRUE(slow.Send(QueryFrame("lp1", kFirmwareItem)));
    ASSERT_TRUE(sim.WaitForLog("fault=\"lp1 * delay 2000\""));
    EXPECT_TRUE(ReadTimer(sim, "lp2")) << "another printer's client is served meanwhile";
    EXPECT_EQ(slow.Read(1, 0ms), "") << "the delayed answer is not there yet";
    const auto a = slow.ReadAnswer();
    ASSERT_TRUE(a) << "the answer comes after the delay";
    EXPECT_EQ(a->payload, std::string("\x01\x05", 2));
}

TEST(ZeldSim, FaultsAreScopedByPrinterItemAndCount)
{
    ZeldSim sim(TwoPrinters());
    sim.SetFaults({"lp1 102415 refuse 9", "lp2 * refuse 3 count 1"});
    RawClient c(sim.port());
    EXPECT_EQ(c.Exchange(QueryFrame("lp1", kReadTimerItem))->code, 0)
        << "other items of lp1 are fine";
    EXPECT_EQ(c.Exchange(WriteFrame("lp1", 2))->code, 9);
    EXPECT_EQ(c.Exchange(WriteFrame("lp1", 2))->code, 9) << "without a count the rule stays";
    EXPECT_EQ(c.Exchange(QueryFrame("lp1", kReadTimerItem))->payload, Le32(4))
        << "a refused write stores nothing";
    EXPECT_EQ(c.Exchange(QueryFrame("lp2", kFirmwareItem))->code, 3);
    EXPECT_EQ(c.Exchange(QueryFrame("lp2", kFirmwareItem))->code, 0)
        << "count 1 spoils one request";

    sim.SetFaults({"lp2 * refuse 3 count 1"});
    EXPECT_EQ(c.Exchange(QueryFrame("lp2", kFirmwareItem))->code, 3)
        << "setting the rules again restarts the count";
}

TEST(ZeldSim, FaultsFromTheCommandLineAndControlFileStack)
{
    ZeldSim::Options o = TwoPrinters();
    o.faults = {"* 106520 refuse 6"};
    ZeldSim sim(o);
    EXPECT_EQ(Ask(sim, QueryFrame("lp1", kFirmwareItem))->code, 6);
    sim.SetFault("lp1 * refuse 8");
    EXPECT_EQ(Ask(sim, QueryFrame("lp1", kFirmwareItem))->code, 8) << "run-time rules come first";
    EXPECT_EQ(Ask(sim, QueryFrame("lp2", kFirmwareItem))->code, 6);
    sim.ClearFaults();
    EXPECT_EQ(Ask(sim, QueryFrame("lp1", kFirmwareItem))->code, 6) << "start-up rules stay";
}

TEST(ZeldSim, ControlFileWithAnErrorKeepsTheRulesItHad)
{
    ZeldSim sim(TwoPrinters());
    sim.SetFault("lp1 * refuse 8");
    EXPECT_EQ(Ask(sim, QueryFrame("lp1", kFirmwareItem))->code, 8);
    sim.SetFault("lp1 * explode");
    EXPECT_EQ(Ask(sim, QueryFrame("lp1", kFirmwareItem))->code, 8);
    EXPECT_EQ(sim.CountLog("control error="), 1u);
}

TEST(ZeldSim, CloseBeforeAnsweringStillCarriesOutTheWrite)
{
    ZeldSim sim(TwoPrinters());
    EXPECT_TRUE(Observe(sim, "close-before", WriteFrame("lp1", 0x8001), 0).closed);
    EXPECT_EQ(ReadTimer(sim, "lp1"), 0x8001);
}

TEST(ZeldSim, PrinterDelayAndStoreRuleShapeTheExchange)
{
    ZeldSim::Options o;
    o.config_lines = {"printer lp{01..64} 1.2 4 delay 300", "fault lp07 102415 store-xor 0x8000"};
    ZeldSim sim(o);
    RawClient c(sim.port());
    const auto sent = std::chrono::steady_clock::now();
    const auto written = c.Exchange(WriteFrame("lp07", 6));
    ASSERT_TRUE(written);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 300ms)
        << "the printer's delay comes before its answer";
    EXPECT_EQ(written->code, 0) << "a printer that keeps another value still accepts";
    EXPECT_EQ(c.Exchange(QueryFrame("lp07", kReadTimerItem))->payload, Le32(0x8006))
        << "6 hours, but off";
}

// ------------------------------------------------------------ bad clients

TEST(ZeldSim, DropsOnlyTheBadClient)
{
    struct Case {
        const char* what;
        std::string bytes;
        const char* logged;
    };
    const Case cases[] = {
        {"garbage", "GET / HTTP/1.0\r\n\r\n", "bad-magic"},
        {"a few bytes of garbage, then nothing", "zeX", "bad-magic"},
        {"huge total_size", "zel0" + Le32(19) + Le32(0x7FFFFFFF), "bad-total-size"},
        {"negative total_size", "zel0" + Le32(19) + Le32(0xFFFFFFF0), "bad-total-size"},
        {"total_size below the two size fields", "zel0" + Le32(19) + Le32(4) + Le32(0),
         "bad-total-size"},
    };
    ZeldSim sim(TwoPrinters());
    RawClient good(sim.port());
    ASSERT_TRUE(good.Exchange(QueryFrame("lp1", kFirmwareItem)));
    std::map<std::string, size_t> dropped;
    for (const auto& tc : cases) {
        RawClient bad(sim.port());
        ASSERT_TRUE(bad.Send(tc.bytes));
        EXPECT_TRUE(bad.ClosedByPeer()) << tc.what << ": dropped without waiting for more";
        EXPECT_EQ(sim.CountLog("garbage detail=" + std::string(tc.logged)), ++dropped[tc.logged])
            << tc.what;
        const auto a = good.Exchange(QueryFrame("lp1", kReadTimerItem));
        ASSERT_TRUE(a) << tc.what << ": the good client is still served";
        EXPECT_EQ(a->code, 0);
    }
}

TEST(ZeldSim, ClientsBeyondTheCapAreTurnedAwayUntilOneLeaves)
{
    constexpr size_t kCap = 256;
    ZeldSim sim(TwoPrinters());
    std::vector<std::unique_ptr<RawClient>> idle;
    for (size_t i = 0; i < kCap; ++i)
        idle.push_back(std::make_unique<RawClient>(sim.port()));
    ASSERT_TRUE(sim.WaitForLog("open conn=" + std::to_string(kCap)));
    RawClient turned_away(sim.port());
    EXPECT_TRUE(turned_away.ClosedByPeer());
    EXPECT_EQ(sim.CountLog("reason=too-many-connections"), 1u);

    idle.front().reset();
    ASSERT_TRUE(sim.WaitForLog("close conn=1 reason=peer-closed"));
    EXPECT_TRUE(ReadTimer(sim, "lp1")) << "room again once a client left";
    EXPECT_TRUE(idle.back()->Exchange(QueryFrame("lp2", kFirmwareItem)))
        << "the idle ones were served all along";
}

TEST(ZeldSim, ClientVanishingMidFrameIsLoggedAndForgotten)
{
    ZeldSim sim(TwoPrinters());
    {
        RawClient c(sim.port());
        ASSERT_TRUE(c.Send(QueryFrame("lp1", kFirmwareItem).substr(0, 20)));
        ASSERT_TRUE(sim.WaitForLog("open conn=1"));
    }
    EXPECT_TRUE(sim.WaitForLog("close conn=1 reason=peer-closed-mid-frame"));
    {
        RawClient c(sim.port());
        ASSERT_TRUE(c.Send(QueryFrame("lp1", kFirmwareItem)));
    }  // gone before reading the answer
    EXPECT_TRUE(sim.WaitForLog("close conn=2"));
    EXPECT_TRUE(ReadTimer(sim, "lp1"));
}

TEST(ZeldSim, LogsEveryRequestWithFieldsAndRawBytes)
{
    ZeldSim sim(TwoPrinters());
    const std::string frame = QueryFrame("lp1", kFirmwareItem);
    {
        RawClient first(sim.port());
        ASSERT_TRUE(first.Exchange(frame));
    }
    // No waiting in between: the close and the next open may reach the
    // simulator together, and must still be logged in order.
    ASSERT_TRUE(Ask(sim, WriteFrame("lp1", 0x8004)));
    ASSERT_TRUE(sim.WaitForLog("close conn=2"));

    const auto requests = sim.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string hex = Hex(frame);
    EXPECT_NE(
        requests[0].find("conn=1 command=19 total_size=30 printer=\"lp1\" locale=\"en_GB.UTF-8\" "
                         "data=0400000018a00100 item=106520 response=0"),
        std::string::npos)
        << requests[0];
    EXPECT_EQ(ZeldSim::Field(requests[0], "raw"), hex) << "the 42-byte frame in hex";
    EXPECT_EQ(ZeldSim::Field(requests[1], "value"), "32772");
    EXPECT_EQ(ZeldSim::Field(requests[1], "data"), "080000000f90010004800000");
    EXPECT_EQ(ZeldSim::Field(requests[1], "stored"), "32772");
    EXPECT_EQ(ZeldSim::Field(requests[1], "answer"), "7a656c720000000000000000");

    ASSERT_TRUE(Ask(sim, QueryFrame("odd \"name\"\x01", kFirmwareItem)));
    EXPECT_EQ(ZeldSim::Field(sim.Requests().back(), "printer"), R"("odd \"name\"\x01")")
        << "names are quoted with quotes and control bytes escaped";

    // The first connection was closed before the second was opened.
    const std::string log = sim.Log();
    EXPECT_LT(log.find("close conn=1"), log.find("open conn=2"));
}

// ------------------------------------------------------------ under load

// The address sanitizer keeps freed blocks resident for a while, so under it
// resident memory says nothing about what the simulator itself holds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentMemoryTells = false;
#else
constexpr bool kResidentMemoryTells = true;
#endif

long RssKiB(pid_t pid)
{
    std::istringstream in(harness::ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

TEST(ZeldSim, ClientThatDoesNotReadLeavesMemoryAndLogBounded)
{
    constexpr size_t kLogMax = 64 * 1024;
    constexpr long kGrowthKiB = 2048;
    ZeldSim::Options o = TwoPrinters();
    o.extra_args = {"--log-max", std::to_string(kLogMax)};
    ZeldSim sim(o);
    ASSERT_TRUE(ReadTimer(sim, "lp1"));
    const long before = RssKiB(sim.process().pid());

    const std::string query = QueryFrame("lp1", kFirmwareItem);
    RawClient greedy(sim.port(), 16 * 1024);
    const size_t sent = greedy.Flood(query, 32 << 20, 1000ms);
    if (kResidentMemoryTells) {
        EXPECT_LT(RssKiB(sim.process().pid()) - before, kGrowthKiB)
            << sent << " bytes of requests, no answer read";
    }
    EXPECT_TRUE(ReadTimer(sim, "lp2")) << "others are served meanwhile";

    // Once it reads, every whole request it sent is answered, in order.
    std::string expected;
    for (size_t i = 0; i < sent / query.size(); ++i)
        expected += ReplyHeader(0, 2) + "\x01\x05";
    const std::string answers = greedy.Read(expected.size(), 120000ms);
    EXPECT_EQ(answers.size(), expected.size());
    EXPECT_TRUE(answers == expected);

    EXPECT_LE(harness::ReadFile(sim.log_path()).size(), kLogMax);
    EXPECT_GT(harness::ReadFile(sim.log_path() + ".1").size(), kLogMax / 2)
        << "the full log was moved aside";
}

// A log that is no file (a pipe, /dev/null) is never moved aside: in its
// place would stand a file that every other program then writes to.
TEST(ZeldSim, ALogThatIsNoFileIsNeverMovedAside)
{
    harness::TempDir dir;
    const std::string fifo = dir / "log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    harness::Process reader({"sh", "-c", "cat \"$0\" > \"$0.read\"", fifo});
    ZeldSim::Options o = TwoPrinters();
    o.extra_args = {"--log", fifo, "--log-max", "1024"};
    ZeldSim sim(o);
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(ReadTimer(sim, "lp1"));
    struct stat st {};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_FALSE(std::filesystem::exists(fifo + ".1"));
}

TEST(ZeldSim, IdleClientsAreClosedAfterTheBoundAndMakeRoom)
{
    constexpr size_t kCap = 256;
    ZeldSim::Options o = TwoPrinters();
    o.extra_args = {"--idle-timeout", "500"};
    ZeldSim sim(o);
    sim.SetFault("lp2 * delay 1500");
    RawClient waiting(sim.port());
    ASSERT_TRUE(waiting.Send(QueryFrame("lp2", kFirmwareItem)));
    std::vector<std::unique_ptr<RawClient>> idle;
    for (size_t i = 1; i < kCap; ++i)
        idle.push_back(std::make_unique<RawClient>(sim.port()));

    ASSERT_TRUE(sim.WaitForLog("reason=idle", 60000ms, kCap - 2)) << "every idle client closed";
    EXPECT_TRUE(waiting.ReadAnswer()) << "a client waiting for a slow answer is not idle";
    EXPECT_TRUE(idle.back()->ClosedByPeer());
    EXPECT_TRUE(ReadTimer(sim, "lp1")) << "a new client is served";
}

// Clock ticks it has run: fields 14 (user) and 15 (system) of /proc/PID/stat.
long CpuTicks(pid_t pid)
{
    std::istringstream in(harness::ReadFile("/proc/" + std::to_string(pid) + "/stat"));
    const std::vector<std::string> f{std::istream_iterator<std::string>(in), {}};
    return std::stol(f.at(13)) + std::stol(f.at(14));  // "zeld-sim" holds no blank
}

TEST(ZeldSim, AtItsDescriptorLimitClientsWaitWithoutSpinning)
{
    ZeldSim sim(TwoPrinters());
    // Room for a dozen clients above what the simulator holds already (a
    // test runner may hand it descriptors of its own).
    const auto held = std::distance(
        std::filesystem::directory_iterator("/proc/" + std::to_string(sim.process().pid()) + "/fd"),
        std::filesystem::directory_iterator());
    const rlimit low{static_cast<rlim_t>(held + 12), static_cast<rlim_t>(held + 12)};
    ASSERT_EQ(prlimit(sim.process().pid(), RLIMIT_NOFILE, &low, nullptr), 0);
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 40; ++i)
        idle.push_back(std::make_unique<RawClient>(sim.port()));
    ASSERT_TRUE(sim.WaitForLog("accept paused"));
    const long before = CpuTicks(sim.process().pid());
    sleep(1);  // a window to measure in: a spinning loop takes most of it
    EXPECT_LT(CpuTicks(sim.process().pid()) - before, sysconf(_SC_CLK_TCK) / 10);
    EXPECT_EQ(idle.front()->Exchange(WriteFrame("lp1", 6))->code, 0) << "kept at the limit";
    idle.erase(idle.begin(), idle.begin() + 30);
    EXPECT_TRUE(idle.back()->Exchange(QueryFrame("lp2", kFirmwareItem))) << "served at last";
}

// ------------------------------------------------------------ stopping

TEST(ZeldSim, StopsCleanlyOnSigtermAndSigint)
{
    for (const int signo : {SIGTERM, SIGINT}) {
        ZeldSim sim(TwoPrinters());
        RawClient idle(sim.port());
        RawClient mid(sim.port());
        ASSERT_TRUE(mid.Send("zel0"));
        ASSERT_TRUE(sim.WaitForLog("open conn=2"));
        sim.process().Signal(signo);
        EXPECT_EQ(sim.process().Wait(10000ms), 0) << strsignal(signo);
        EXPECT_TRUE(idle.ClosedByPeer());
        EXPECT_EQ(sim.CountLog("reason=shutdown"), 2u);
        EXPECT_EQ(sim.CountLog(signo == SIGTERM ? "stop reason=SIGTERM" : "stop reason=SIGINT"),
                  1u);
    }
}

}  // namespace
