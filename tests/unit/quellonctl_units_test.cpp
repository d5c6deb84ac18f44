// quellonctl's pure parts: the command line it accepts and refuses, the
// timer each setting asks for, and JSON that stays valid whatever bytes a
// queue name holds.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "json_output.h"
#include "metrics.h"
#include "model.h"
#include "options.h"
#include "resolution.h"
#include "selection.h"
#include "text_output.h"

namespace {

DiscoveredPrinter Printer(const std::string& name, const std::string& model = "",
                          const std::string& driver = "2.60", PpdState state = PpdState::kRead)
{
    DiscoveredPrinter printer;
    printer.name = name;
    printer.model = model;
    printer.driver = driver;
    printer.state = state;
    return printer;
}

bool Parse(const std::vector<std::string>& args, Options* options, std::string* error = nullptr)
{
    std::string ignored;
    return ParseArguments(args, options, error ? error : &ignored);
}

TEST(Arguments, CommandsQueuesAndOptionsInAnyOrder)
{
    Options o;
    ASSERT_TRUE(
        Parse({"--jobs", "3", "set", "a", "--dry-run", "b@host", "--timeout=2.5", "7"}, &o));
    EXPECT_EQ(o.command, Command::kSet);
    EXPECT_EQ(o.queues, (std::vector<std::string>{"a", "b@host"}));
    EXPECT_EQ(o.setting.kind, Setting::kHours);
    EXPECT_EQ(o.setting.hours, 7u);
    EXPECT_TRUE(o.dry_run);
    EXPECT_EQ(o.jobs, 3);
    EXPECT_EQ(o.timeout_ms, 2500);

    Options dashes;
    ASSERT_TRUE(Parse({"get", "--", "-odd-queue"}, &dashes));
    EXPECT_EQ(dashes.queues, std::vector<std::string>{"-odd-queue"});

    Options all;
    ASSERT_TRUE(Parse({"set", "--all", "off", "--json", "-q", "--port", "600"}, &all));
    EXPECT_TRUE(all.all && all.json && all.quiet);
    EXPECT_EQ(all.setting.kind, Setting::kOff);
    EXPECT_EQ(all.port, 600);

    Options help;
    EXPECT_TRUE(Parse({"--help"}, &help));
    EXPECT_TRUE(help.help);
}

TEST(Arguments, BadInputIsAUsageErrorNamingTheProblem)
{
    struct Case {
        std::vector<std::string> args;
        const char* names;  // a part of the message
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"frobnicate"}, "frobnicate"},
        {{"get", "--bogus"}, "--bogus"},
        {{"list", "q"}, "list"},
        {{"set", "q"}, "\"q\""},
        {{"set", "6"}, "queue names, --model or --all"},
        {{"apply"}, "one policy file"},
        {{"check", "p", "--model", "x"}, "--model"},
        {{"set", "--all"}, "needs a value"},
        {{"set", "q", "0"}, "\"0\""},
        {{"set", "q", "9"}, "\"9\""},
        {{"set", "q", "-1"}, "-1"},
        {{"set", "q", "6h"}, "\"6h\""},
        {{"set", "q", " 6"}, "\" 6\""},
        {{"set", "q", "06"}, "\"06\""},
        {{"set", "", "6"}, "empty queue name"},
        {{"get", ""}, "empty queue name"},
        {{"set", "--all", "q", "6"}, "not both"},
        {{"get", "--dry-run"}, "--dry-run"},
        {{"get", "--jobs", "0"}, "\"0\""},
        {{"get", "--jobs", "10000"}, "\"10000\""},
        {{"get", "--jobs=65"}, "\"65\""},
        {{"get", "--jobs"}, "needs a value"},
        {{"get", "--timeout", "0"}, "\"0\""},
        {{"get", "--timeout", "-1"}, "\"-1\""},
        {{"get", "--timeout", "x"}, "\"x\""},
        {{"get", "--timeout", "1."}, "\"1.\""},
        {{"get", "--port", "65536"}, "\"65536\""},
    };
    for (const Case& c : cases) {
        Options o;
        std::string error;
        std::string joined;
        for (const std::string& arg : c.args)
            joined += "[" + arg + "]";
        EXPECT_FALSE(Parse(c.args, &o, &error)) << joined;
        EXPECT_NE(error.find(c.names), std::string::npos) << joined << ": " << error;
    }
}

TEST(Selection, PatternsIgnoreCaseModelsMatchExactlyAndTheLastPolicyLineWins)
{
    const DiscoveredPrinter lp = Printer("Lp-Front", "Brelko M220");
    for (const auto& [selector, selects] :
         std::vector<std::pair<std::string, bool>>{{"lp-front", true},
                                                   {"LP*", true},
                                                   {"?p-[fF]ront", true},
                                                   {"lp", false},
                                                   {"model:Brelko M220", true},
                                                   {"model:brelko m220", false},
                                                   {"*Back", false}})
        EXPECT_EQ(Selects(selector, lp), selects) << selector;

    std::istringstream in("# comment\n\n model:Brelko M220  4 \nLp-*\toff # late\nOther 2\n");
    std::vector<PolicyLine> policy;
    std::string error;
    ASSERT_TRUE(ParsePolicy(in, "p", &policy, &error)) << error;
    ASSERT_EQ(policy.size(), 3u);
    EXPECT_EQ(policy[0].selector, "model:Brelko M220");
    EXPECT_EQ(PolicySetting(policy, lp)->kind, Setting::kOff);
    EXPECT_EQ(policy[1].line, 4);
    EXPECT_EQ(PolicySetting(policy, Printer("None")), nullptr);

    for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
             {"ok 1\n4\n", "p:2: a line is a queue, pattern or model:NAME, then a value"},
             {"model: 4\n", "p:1: a line is a queue, pattern or model:NAME, then a value"},
             {"lp on\nlp 0\n", "p:2: \"0\" is not a value: off, on, or 1 to 8 hours"}}) {
        std::istringstream bad(text);
        std::vector<PolicyLine> lines;
        EXPECT_FALSE(ParsePolicy(bad, "p", &lines, &error)) << text;
        EXPECT_EQ(error, message);
    }
}

TEST(WantedTimer, OffKeepsTheHoursOnNeverSendsHoursOutsideOneToEight)
{
    const Setting off{Setting::kOff, 0}, on{Setting::kOn, 0}, three{Setting::kHours, 3};
    EXPECT_EQ(WantedTimer(off, 6), 0x8006);
    EXPECT_EQ(WantedTimer(off, 0x8002), 0x8002);
    EXPECT_EQ(WantedTimer(on, 0x8006), 6);
    EXPECT_EQ(WantedTimer(on, 0x8000), 4);
    EXPECT_EQ(WantedTimer(on, 0x800C), 4);
    EXPECT_EQ(WantedTimer(on, 12), 4);
    EXPECT_EQ(WantedTimer(three, 0x8005), 3);
}

TEST(Json, StringsEscapeControlsAndReplaceBytesThatAreNotUtf8)
{
    EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(JsonString("Brelko \xE6\x97\xA5"), "\"Brelko \xE6\x97\xA5\"");
    EXPECT_EQ(JsonString("q\xFF\xC3"), "\"q\\ufffd\\ufffd\"");
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"\\ufffd\\ufffd\"");             // overlong
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");  // surrogate
}

TEST(Json, AFailedPrinterCarriesItsErrorAndATimerItsThreeFields)
{
    PrinterResult ok;
    ok.queue = "a";
    ok.firmware = "01.02";
    ok.timer = 0x8004;
    ok.wanted = 6;
    ok.held = 6;
    ok.outcome = Outcome::kChanged;
    PrinterResult failed;
    failed.queue = "b";
    failed.outcome = Outcome::kFailed;
    failed.failure.kind = FailureKind::kOldDriver;
    const std::string json = ResultsJson(Command::kSet, false, {ok, failed});
    EXPECT_NE(json.find("\"timer\": {\"enabled\": false, \"hours\": 4, \"raw\": 32772}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"result\": \"changed\"}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"firmware\": null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"result\": \"failed\", \"error\": \"old-driver\"}"), std::string::npos)
        << json;
    EXPECT_LT(json.find("\"queue\": \"a\""), json.find("\"queue\": \"b\""));
}

// Names from PPD files reach a terminal: no control byte passes as it is.
TEST(Text, ControlBytesOfNamesAreShownEscaped)
{
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    PrintListText(out, {{Printer("q\x1b[2J", "M\x7f", "2.60\x1b]0;t\a")}, {}}, false);
    PrinterResult result;
    result.queue = "r\xc2\x9b\t";
    PrintResultsText(out, {result}, false);
    std::fclose(out);
    EXPECT_EQ(std::string(text, size),
              "QUEUE     MODEL  DRIVER\n"
              "q\\x1b[2J  M\\x7f  2.60\\x1b]0;t\\x07\n"
              "r\\xc2\\x9b\\x09: the connection to the printer daemon failed\n");
    std::free(text);
}

}  // namespace

namespace {

// Lp-One and lp-two are listed; Old is no supported printer, Raw has no
// PPD, Lost's PPD could not be fetched.
Inventory Queues()
{
    return {{Printer("Lp-One", "Brelko M220"), Printer("lp-two", "Brelko M210")},
            {Printer("Old", "Acme 9"), Printer("Raw", "", "", PpdState::kNoPpd),
             Printer("Lost", "", "", PpdState::kFetchFailed)}};
}

// Each entry as "QUEUE" or "QUEUE!code", in order.
std::string Resolved(const std::vector<std::string>& args, const std::string& stdin_names = "")
{
    Options options;
    std::string error;
    if (!ParseArguments(args, &options, &error))
        return "usage: " + error;
    const Inventory inventory = Queues();
    std::istringstream in(stdin_names);
    const Resolution resolution = ResolveNames(options, inventory, in);
    if (resolution.usage_error)
        return "usage";
    std::string text;
    for (const Entry& entry : resolution.entries) {
        text += (text.empty() ? "" : " ") + entry.result.queue;
        if (!entry.queue)
            text += std::string("!") + FailureCode(entry.result.failure.kind);
    }
    return text;
}

}  // namespace

TEST(Resolution, EachQueueOnceAtItsFirstMentionInCupsSpellingWhateverTheCase)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"set", "lp-one", "LP-ONE", "5"}, "Lp-One"},
        {{"set", "LP-T*", "Lp-Two", "lp-one", "5"}, "lp-two Lp-One"},
        {{"set", "-", "lp-one", "6"}, "lp-two Lp-One"},
        {{"get", "OLD", "old", "RAW", "nosuch", "NOSUCH", "LOST"},
         "Old!unsupported-model Raw!unsupported-model nosuch!unknown-queue Lost!ppd-failed"},
        {{"set", "OLD", "lp-one", "4"}, "Old!unsupported-model Lp-One"},
        {{"get"}, "Lp-One lp-two Lost!ppd-failed"},
        {{"get", "--exclude", "LP-T*"}, "Lp-One Lost!ppd-failed"},
        {{"get", "--model", "Brelko M210"}, "lp-two Lost!ppd-failed"},
        {{"get", "L*", "--model", "Brelko M210"}, "lp-two Lost!ppd-failed"},
        {{"get", "--all", "--exclude", "l*"}, ""},
        {{"set", "x*", "4"}, "usage"},
        {{"set", "--model", "Brelko M220", "--exclude", "*", "4"}, "usage"},
        {{"get", "--model", "", "lp-one"},
         "usage: --model wants a model name, as quellonctl list shows it"},
    };
    for (const auto& [args, expected] : cases) {
        std::string joined;
        for (const std::string& arg : args)
            joined += arg + " ";
        EXPECT_EQ(Resolved(args, "lp-two\nLP-TWO\r\n\nLp-Two\n"), expected) << joined;
    }
    EXPECT_EQ(Resolved({"get", "-"}), "") << "no names read is not every queue";
    EXPECT_EQ(Resolved({"set", "-", "4"}), "usage");
}

TEST(Resolution, APolicyLineThatSelectsNothingIsNamedAndAFailedPpdCountsAsChosen)
{
    std::istringstream in("\xEF\xBB\xBFlp-one 4\nnosuch 5\nmodel:brelko m220 6\nOLD 2\n"
                          "model:Brelko M230 3\n");
    std::vector<PolicyLine> policy;
    std::string error;
    ASSERT_TRUE(ParsePolicy(in, "p", &policy, &error)) << error;
    const Inventory inventory = Queues();
    const Resolution resolution = ResolvePolicy(policy, "p", inventory);
    ASSERT_EQ(resolution.entries.size(), 3u);
    EXPECT_EQ(resolution.entries[0].result.queue, "Lp-One") << "the mark is no part of the line";
    EXPECT_EQ(resolution.entries[1].result.failure.kind, FailureKind::kUnsupportedModel);
    EXPECT_EQ(resolution.entries[2].result.failure.kind, FailureKind::kPpdFailed);
    // A model line may have meant Lost, whose model is unknown.
    EXPECT_EQ(resolution.warnings, std::vector<std::string>{"p:2: selects no queue"});
    EXPECT_TRUE(resolution.unmatched);

    for (const std::string& text :
         std::vector<std::string>{"model: Brelko M220 4\n", "lp[1 4\n", "lp1 lp2 8\n",
                                  std::string("lp1\0garbage 8\n", 15)}) {
        std::istringstream bad(text);
        std::vector<PolicyLine> lines;
        EXPECT_FALSE(ParsePolicy(bad, "p", &lines, &error)) << text;
        EXPECT_EQ(error, "p:1: a line is a queue, pattern or model:NAME, then a value") << text;
    }
}

TEST(Metrics, LabelValuesEscapeBackslashQuoteAndNewlineOnly)
{
    for (const auto& [value, quoted] : std::vector<std::pair<std::string, std::string>>{
             {"lp1", "\"lp1\""},
             {"a\\b", "\"a\\\\b\""},
             {"say \"hi\"", "\"say \\\"hi\\\"\""},
             {"two\nlines", "\"two\\nlines\""},
             {"tab\t\xe6\x97\xa5", "\"tab\t\xe6\x97\xa5\""}})
        EXPECT_EQ(LabelValue(value), quoted) << value;
}
