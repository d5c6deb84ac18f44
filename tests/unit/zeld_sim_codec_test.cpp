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

TEST(ZeldSimCodec, HostileReplyFaultsSendTheirBytes)
{
    const zsim::Reply timer{zsim::kOk, zsim::kStatusReady, std::string("\x04\x00\x00\x00", 4)};
    const zsim::Reply refused{5, zsim::kStatusReady, ""};
    // Fields: magic, response_code, status_code, total_length, payload.
    const std::string answer = "7a656c72"
                               "0000"
                               "0000"
                               "04000000"
                               "04000000";
    struct Case {
        const char* rule;
        zsim::Reply reply;
        std::string hex;
    };
    const Case cases[] = {
        {"* * bytes 04", timer,
         "7a656c72"
         "0000"
         "0000"
         "01000000"
         "04"},
        {"* * bytes 0102", timer,
         "7a656c72"
         "0000"
         "0000"
         "02000000"
         "0102"},
        {"* * bytes -", timer,
         "7a656c72"
         "0000"
         "0000"
         "00000000"},
        {"* * bytes ff", refused,
         "7a656c72"
         "0500"
         "0000"
         "01000000"
         "ff"},
        {"* * stray 05800000", refused,
         "7a656c72"
         "0500"
         "0000"
         "00000000"
         "7a656c72"
         "0000"
         "0000"
         "04000000"
         "05800000"},
        {"* * repeat", timer, answer + answer},
        {"* * store-xor 1", timer, answer},
    };
    for (const auto& tc : cases) {
        const zsim::FaultRule rule = Rule(tc.rule);
        const zsim::Plan plan = zsim::MakePlan(tc.reply, &rule);
        EXPECT_EQ(harness::Hex(plan.bytes), tc.hex) << tc.rule;
        EXPECT_EQ(plan.end, zsim::Plan::End::Keep) << tc.rule << ": the connection stays open";
    }
}

TEST(ZeldSimCodec, StoreRulesChangeTheKeptTimer)
{
    const zsim::FaultRule store = Rule("* 102415 store 0x8003");
    const zsim::FaultRule flip = Rule("* 102415 store-xor 0x8000");
    EXPECT_EQ(zsim::KeptTimer(6, nullptr), 6);
    EXPECT_EQ(zsim::KeptTimer(6, &store), 0x8003);
    EXPECT_EQ(zsim::KeptTimer(6, &flip), 0x8006) << "on becomes off with the hours kept";
    EXPECT_EQ(zsim::KeptTimer(0x8006, &flip), 6);
}

TEST(ZeldSimCodec, RangesNameManyPrintersAndRules)
{
    zsim::Settings s;
    std::string error;
    ASSERT_TRUE(zsim::ParseConfig("printer lp{01..64} 1.2 4 delay 20\n"
                                  "printer odd{x}na{me 1.0 0x8001\n"
                                  "printer a{1..2}b{8..9} 1.0 1\n"
                                  "fault lp{57..64} * silent count 1\n",
                                  s, error))
        << error;
    std::vector<std::string> names;
    for (const auto& p : s.printers)
        names.push_back(p.name);
    ASSERT_EQ(names.size(), 64u + 1 + 4);
    EXPECT_EQ(
        std::vector<std::string>(names.begin() + 62, names.end()),
        (std::vector<std::string>{"lp63", "lp64", "odd{x}na{me", "a1b8", "a1b9", "a2b8", "a2b9"}));
    EXPECT_EQ(s.printers[0].name, "lp01");
    EXPECT_EQ(s.printers[63].delay_ms, 20);
    EXPECT_EQ(s.printers[64].delay_ms, 0);
    ASSERT_EQ(s.faults.size(), 8u);
    EXPECT_EQ(s.faults[7].printer, "lp64");
    EXPECT_EQ(s.faults[7].remaining, 1) << "each printer's rule counts on its own";

    const std::string too_long =
        "fault lp1 * bytes " + std::string(2 * (zsim::kMaxFaultBytes + 1), 'a');
    for (const std::string line :
         {"printer lp{9..1} 1.0 4", "printer lp{1..100}x{1..100} 1.0 4", "printer lp1 1.0 4 delay",
          "printer lp1 1.0 4 delay -1", "fault lp1 * bytes 123", "fault lp1 * bytes 0g",
          "fault lp1 * stray", "fault lp1 * store 65536"}) {
        EXPECT_FALSE(zsim::ParseConfig(line, s, error)) << line;
    }
    EXPECT_FALSE(zsim::ParseConfig(too_long, s, error));
    EXPECT_TRUE(zsim::ParseConfig(too_long.substr(0, too_long.size() - 2), s, error)) << error;
}

TEST(ZeldSimCodec, StateFileGivesBackEveryName)
{
    const zsim::TimerState state{
        {"lp#1 \t\n\r", 1}, {"%41%25%", 2}, {"\xff\xc3\xa9\x7f", 3}, {{"\0", 1}, 4}};
    zsim::TimerState back;
    std::string error;
    EXPECT_TRUE(zsim::ParseState(zsim::FormatState(state), back, error) && back == state) << error;
}

}  // namespace
