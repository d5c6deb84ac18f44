// The simulator's fault rules and config lines, checked as bytes and records
// without a socket: the cheapest place to catch a wrong byte in a fault.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config.h"
#include "process.h"
#include "protocol.h"

namespace {

zsim::FaultRule Rule(const std::string& text)
{
    std::vector<zsim::FaultRule> rules;
    std::string error;
    EXPECT_TRUE(zsim::ParseFaults(text, rules, error)) << text << ": " << error;
    return rules.empty() ? zsim::FaultRule{} : rules.front();
}

// Reply frames as the tests write them: blanks between fields are dropped.
std::string Spaceless(std::string hex)
{
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    return hex;
}

TEST(ZeldSimCodec, HostileReplyFaultsSendTheirBytes)
{
    const zsim::Reply timer{zsim::kOk, zsim::kStatusReady, std::string("\x04\x00\x00\x00", 4)};
    const zsim::Reply refused{5, zsim::kStatusReady, ""};
    struct Case {
        const char* rule;
        zsim::Reply reply;
        const char* hex;
    };
    const Case cases[] = {
        {"* * bytes 04", timer, "7a656c72 0000 0000 01000000 04"},
        {"* * bytes 0400", timer, "7a656c72 0000 0000 02000000 0400"},
        {"* * bytes 0102", timer, "7a656c72 0000 0000 02000000 0102"},
        {"* * bytes -", timer, "7a656c72 0000 0000 00000000"},
        {"* * bytes FF", refused, "7a656c72 0500 0000 01000000 ff"},
        {"* * stray 05800000", timer,
         "7a656c72 0000 0000 04000000 04000000  7a656c72 0000 0000 04000000 05800000"},
        {"* * stray -", refused, "7a656c72 0500 0000 00000000  7a656c72 0000 0000 00000000"},
        {"* * repeat", timer, "7a656c72 0000 0000 04000000 04000000  7a656c72 0000 0000 04000000 04000000"},
        {"* * store 7", timer, "7a656c72 0000 0000 04000000 04000000"},
    };
    for (const auto& tc : cases) {
        const zsim::FaultRule rule = Rule(tc.rule);
        const zsim::Plan plan = zsim::MakePlan(tc.reply, &rule);
        EXPECT_EQ(harness::Hex(plan.bytes), Spaceless(tc.hex)) << tc.rule;
        EXPECT_EQ(plan.end, zsim::Plan::End::Keep) << tc.rule << ": the connection stays open";
    }
}

TEST(ZeldSimCodec, StoreRulesChangeTheKeptTimer)
{
    const zsim::FaultRule store = Rule("* 102415 store 0x8003");
    const zsim::FaultRule flip = Rule("* 102415 store-xor 0x8000");
    const zsim::FaultRule refuse = Rule("* 102415 refuse 5");
    EXPECT_EQ(zsim::KeptTimer(6, nullptr), 6);
    EXPECT_EQ(zsim::KeptTimer(6, &store), 0x8003);
    EXPECT_EQ(zsim::KeptTimer(6, &flip), 0x8006) << "on becomes off with the hours kept";
    EXPECT_EQ(zsim::KeptTimer(0x8006, &flip), 6);
    EXPECT_EQ(zsim::KeptTimer(6, &refuse), 6) << "refusing is the server's business, not a changed value";
}

TEST(ZeldSimCodec, RangesNameManyPrintersAndRules)
{
    zsim::Settings s;
    std::string error;
    ASSERT_TRUE(zsim::ParseConfig("printer lp{01..64} 1.2 4 delay 20\n"
                                  "printer odd{x}na{me 1.0 0x8001\n"
                                  "printer a{1..2}b{8..9} 1.0 1\n"
                                  "fault lp{57..64} * silent\n"
                                  "fault * 106523 stray - count 1\n",
                                  s, error))
        << error;
    ASSERT_EQ(s.printers.size(), 64u + 1 + 4);
    EXPECT_EQ(s.printers[0].name, "lp01");
    EXPECT_EQ(s.printers[63].name, "lp64");
    EXPECT_EQ(s.printers[63].delay_ms, 20);
    EXPECT_EQ(s.printers[63].timer, 4);
    EXPECT_EQ(s.printers[64].name, "odd{x}na{me") << "braces that are no range stay in the name";
    EXPECT_EQ(s.printers[64].delay_ms, 0);
    EXPECT_EQ(s.printers[65].name, "a1b8");
    EXPECT_EQ(s.printers[68].name, "a2b9");
    ASSERT_EQ(s.faults.size(), 8u + 1);
    EXPECT_EQ(s.faults[0].printer, "lp57");
    EXPECT_EQ(s.faults[7].printer, "lp64");
    EXPECT_EQ(s.faults[8].remaining, 1);
}

TEST(ZeldSimCodec, RejectsBadNewRulesAndPrinterLines)
{
    const std::string too_long(2 * (zsim::kMaxFaultBytes + 1), 'a');
    const std::string lines[] = {
        "printer lp{9..1} 1.0 4",
        "printer lp{1..5000} 1.0 4",
        "printer lp{1..100}x{1..100} 1.0 4",
        "printer lp1 1.0 4 delay",
        "printer lp1 1.0 4 delay -1",
        "printer lp1 1.0 4 delay 3600001",
        "printer lp1 1.0 4 wait 5",
        "fault lp1 * bytes 123",
        "fault lp1 * bytes 0g",
        "fault lp1 * bytes " + too_long,
        "fault lp1 * stray",
        "fault lp1 * store 65536",
        "fault lp1 * store-xor -1",
        "fault lp{3..2} * silent",
    };
    for (const auto& line : lines) {
        zsim::Settings s;
        std::string error;
        EXPECT_FALSE(zsim::ParseConfig(line + "\n", s, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
    zsim::Settings s;
    std::string error;
    EXPECT_TRUE(zsim::ParseConfig("fault lp1 * bytes " + too_long.substr(2) + " count 2\n", s, error))
        << "the largest payload a rule may carry: " << error;
}

}  // namespace
