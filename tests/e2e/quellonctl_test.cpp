// The real quellonctl against a private cupsd and the daemon simulator:
// what it lists, reads and writes, frame by frame as the simulator logged
// them, its exit statuses, its JSON in two locales, and Ctrl-C.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "cupsd.h"
#include "japanese.h"
#include "node_exporter.h"
#include "process.h"
#include "wire.h"
#include "zeld_sim.h"

namespace {

using harness::Millis;
using namespace std::chrono_literals;

const Millis kRunTimeout = 60000ms;
const std::string kWrite = std::to_string(harness::kWriteTimerItem);
const std::string kRead = std::to_string(harness::kReadTimerItem);

struct TestQueue {
    std::string name;
    std::string model;
    std::string driver = "2.60";
};

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class Quellonctl : public ::testing::Test {
protected:
    void Setup(const std::vector<TestQueue>& queues, harness::ZeldSim::Options sim)
    {
        for (const TestQueue& q : queues)
            ASSERT_TRUE(cupsd_.AddQueue(q.name, harness::MakePpd(q.model, q.driver)));
        sim_ = std::make_unique<harness::ZeldSim>(std::move(sim));
    }

    harness::EnvChanges Env(const harness::EnvChanges& extra = {}) const
    {
        harness::EnvChanges env = cupsd_.env();
        for (const char* name : {"LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANGUAGE", "ZELD_PORT"})
            env[name] = std::nullopt;
        env["LANG"] = "C";
        if (sim_)
            env["ZELD_PORT"] = std::to_string(sim_->port());
        for (const auto& [key, value] : extra)
            env[key] = value;
        return env;
    }

    Ran Run(const std::vector<std::string>& args, const harness::EnvChanges& extra = {})
    {
        return RunProgram(harness::BuildPath("quellonctl/quellonctl"), args, extra);
    }

    Ran RunProgram(const std::string& program, const std::vector<std::string>& args,
                   const harness::EnvChanges& extra = {})
    {
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string out = dir_ / ("out" + std::to_string(runs_));
        const std::string err = dir_ / ("err" + std::to_string(runs_++));
        harness::Process process(argv, Env(extra), out, err);
        Ran ran;
        ran.status = process.Wait(kRunTimeout).value_or(-1);
        ran.out = harness::ReadFile(out);
        ran.err = harness::ReadFile(err);
        return ran;
    }

    // `script` under sh, with $Q naming quellonctl: for pipes and closed
    // descriptors.
    Ran Shell(const std::string& script, const harness::EnvChanges& extra = {})
    {
        harness::EnvChanges env = extra;
        env["Q"] = harness::BuildPath("quellonctl/quellonctl");
        const std::string out = dir_ / ("out" + std::to_string(runs_));
        const std::string err = dir_ / ("err" + std::to_string(runs_++));
        harness::Process process({"sh", "-c", script}, Env(env), out, err);
        Ran ran;
        ran.status = process.Wait(kRunTimeout).value_or(-1);
        ran.out = harness::ReadFile(out);
        ran.err = harness::ReadFile(err);
        return ran;
    }

    size_t Writes() const { return sim_->CountLog("item=" + kWrite); }
    size_t Requests() const { return sim_->Requests().size(); }

    harness::TempDir dir_;
    harness::PrivateCupsd cupsd_;
    std::unique_ptr<harness::ZeldSim> sim_;
    int runs_ = 0;
};

harness::ZeldSim::Options Printers(const std::vector<harness::SimPrinter>& printers,
                                   const std::vector<std::string>& faults = {})
{
    harness::ZeldSim::Options options;
    options.printers = printers;
    options.faults = faults;
    return options;
}

TEST_F(Quellonctl, ListsTheWindowsQueuesAndWithAllWhyTheOthersAreMissing)
{
    Setup({{"Brelko-M210", "Brelko M210"},
           {"NoModel", ""},
           {"Brelko-M230-Old", "Brelko M230", "2.55"},
           {"Acme", "Acme Laser 9"},
           {"Lower", "brelko m210"}},
          Printers({}));
    const Ran list = Run({"list"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_LT(list.out.find("QUEUE"), list.out.find("Brelko-M210 "));
    EXPECT_LT(list.out.find("Brelko-M210 "), list.out.find("Brelko-M230-Old"));
    EXPECT_TRUE(Has(list.out, "2.55 (older than 2.56: not supported)")) << list.out;
    for (const char* hidden : {"NoModel", "Acme", "Lower"})
        EXPECT_FALSE(Has(list.out, hidden)) << list.out;

    const Ran all = Run({"list", "--all"});
    EXPECT_EQ(all.status, 0);
    EXPECT_TRUE(Has(all.out, "names no printer model")) << all.out;
    EXPECT_TRUE(Has(all.out, "model \"Acme Laser 9\" is not supported")) << all.out;
    EXPECT_TRUE(Has(all.out, "differs from the supported \"Brelko M210\" in letter case"))
        << all.out;

    const Ran json = Run({"list", "--all", "--json"});
    EXPECT_EQ(json.status, 0);
    for (const char* reason : {"\"no-model\"", "\"unsupported-model\"", "\"model-case\""})
        EXPECT_TRUE(Has(json.out, reason)) << json.out;
    EXPECT_TRUE(Has(json.out, "\"driver_supported\": false, \"listed\": true")) << json.out;
    EXPECT_EQ(Requests(), 0u);
}

TEST_F(Quellonctl, GetRunsTheWindowsChecksInTheWindowsOrder)
{
    Setup({{"On4", "Brelko M210"},
           {"Off2", "Brelko M220"},
           {"Odd", "Brelko M230"},
           {"OldFirm", "Brelko M240C/M248C"},
           {"OldDriver", "Brelko M250C", "2.55"}},
          Printers({{"On4", 1, 2, 4},
                    {"Off2", 1, 1, 0x8002},
                    {"Odd", 2, 10, 12},
                    {"OldFirm", 1, 2, 4},
                    {"OldDriver", 1, 0, 4}}));
    const Ran get = Run({"get"});
    EXPECT_EQ(get.status, 1) << get.err;
    // In the window's order, which is CUPS's.
    const std::vector<std::string> lines = {
        "Odd: firmware 02.10, switches off after 12 hours (outside 1 to 8, as the printer "
        "reports it)\n",
        "Off2: firmware 01.01, auto shutdown off (2 hours kept)\n",
        "OldDriver: driver 2.55 is older than 2.56: not supported\n",
        "OldFirm: firmware 01.02 is older than 01.03: not supported\n",
        "On4: firmware 01.02, switches off after 4 hours\n"};
    std::string expected;
    for (const std::string& line : lines)
        expected += line;
    EXPECT_EQ(get.out, expected);
    // Old firmware stops before the timer; an old driver before connecting.
    EXPECT_EQ(sim_->CountLog("printer=\"OldFirm\" locale=\"en_GB.UTF-8\" data=0400000018a00100"),
              1u);
    EXPECT_EQ(sim_->CountLog("printer=\"OldFirm\""), 1u);
    EXPECT_EQ(sim_->CountLog("printer=\"OldDriver\""), 0u);

    const Ran quiet = Run({"get", "-q"});
    EXPECT_EQ(quiet.out, lines[2] + lines[3]);

    // -v: every frame in hex on standard error, requests and replies.
    const Ran one = Run({"get", "-v", "On4"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, lines[4]);
    EXPECT_TRUE(Has(one.err, "On4 > 7a 65 6c 30 13 00 00 00")) << one.err;
    EXPECT_TRUE(Has(one.err, "On4 < 01 02\n")) << one.err;
}

TEST_F(Quellonctl, SetWritesOnlyWhatChangesAndConfirmsEveryWrite)
{
    Setup({{"A", "Brelko M210"},
           {"B", "Brelko M220"},
           {"Refuses", "Brelko M230"},
           {"Loses", "Brelko M250C"},
           {"Keeps", "Brelko M210"}},
          Printers({{"A", 1, 2, 4},
                    {"B", 1, 1, 6},
                    {"Refuses", 1, 0, 4},
                    {"Loses", 1, 0, 4},
                    {"Keeps", 1, 0, 4}},
                   {"Refuses " + kWrite + " refuse 5", "Loses " + kWrite + " close-before count 1",
                    "Keeps " + kWrite + " store 5"}));

    const Ran dry = Run({"set", "--dry-run", "A", "B", "6"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_EQ(dry.out, "A: 4 hours -> 6 hours (dry run: nothing written)\n"
                       "B: already 6 hours, nothing written\n");
    EXPECT_EQ(Writes(), 0u);

    const size_t requests_before = Requests();
    const Ran set = Run({"set", "B", "A", "6"});
    EXPECT_EQ(Requests() - requests_before, 2u + 4u) << "firmware, timer, write, read-back";
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, "B: already 6 hours, nothing written\n"
                       "A: 4 hours -> 6 hours (confirmed)\n");
    EXPECT_EQ(Writes(), 1u);
    EXPECT_EQ(sim_->StoredTimer("A"), 6);
    // The write is followed by a read on the same connection.
    const auto lines = sim_->Requests();
    const auto write = std::find_if(lines.begin(), lines.end(),
                                    [](const std::string& l) { return Has(l, "item=" + kWrite); });
    ASSERT_NE(write, lines.end());
    const auto conn = harness::ZeldSim::Field(*write, "conn");
    const auto next = std::find_if(write + 1, lines.end(), [&](const std::string& l) {
        return harness::ZeldSim::Field(l, "conn") == conn;
    });
    ASSERT_NE(next, lines.end());
    EXPECT_TRUE(Has(*next, "item=" + kRead)) << *next;

    const Ran off = Run({"set", "A", "off"});
    EXPECT_EQ(off.out, "A: 6 hours -> off (6 hours kept) (confirmed)\n");
    EXPECT_EQ(sim_->StoredTimer("A"), 0x8006);
    const Ran on = Run({"set", "A", "on"});
    EXPECT_EQ(on.out, "A: off (6 hours kept) -> 6 hours (confirmed)\n");

    const Ran refused = Run({"set", "Refuses", "2"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "Refuses: the printer refused 2 hours; it holds 4 hours\n");
    EXPECT_TRUE(Has(Run({"--json", "set", "Refuses", "2"}).out, "\"daemon_code\": 5"))
        << "its code";

    const Ran keeps = Run({"set", "Keeps", "2"});
    EXPECT_EQ(keeps.status, 1);
    EXPECT_EQ(keeps.out, "Keeps: wrote 2 hours, but the printer reports 5 hours\n");

    // The write lands but its reply is lost: read back, never written again.
    const size_t writes_before = Writes();
    const Ran lost = Run({"set", "Loses", "--json", "3"});
    EXPECT_EQ(lost.status, 0) << lost.out;
    EXPECT_TRUE(Has(lost.out, "\"reply_lost\": true, \"result\": \"changed\"")) << lost.out;
    EXPECT_EQ(Writes(), writes_before + 1);
    EXPECT_EQ(sim_->StoredTimer("Loses"), 3);
}

TEST_F(Quellonctl, APolicyWritesEachSelectedPrinterOnceToItsLastLineAndCheckTellsDrift)
{
    Setup({{"Front-1", "Brelko M220"},
           {"front-2", "Brelko M220"},
           {"Plot", "Brelko M210"},
           {"Lab", "Brelko M230"},
           {"Other", "Brelko M250C"}},
          Printers({{"Front-1", 1, 1, 4},
                    {"front-2", 1, 1, 4},
                    {"Plot", 1, 0, 4},
                    {"Lab", 1, 0, 4},
                    {"Other", 1, 0, 4}}));
    const std::string policy = dir_ / "policy";
    harness::WriteFile(policy, "# offices\n"
                               "model:Brelko M220 4   # every M220\n"
                               "FRONT-* 2\n"
                               "Plot off\n"
                               "L?b 3\n");
    const std::string bad = dir_ / "bad";
    harness::WriteFile(bad, "Plot off\nLab 9\n");

    const Ran malformed = Run({"apply", bad});
    EXPECT_EQ(malformed.status, 2);
    EXPECT_EQ(malformed.err,
              "quellonctl: " + bad + ":2: \"9\" is not a value: off, on, or 1 to 8 hours\n");
    EXPECT_EQ(Requests(), 0u) << "a malformed policy contacts no printer";

    EXPECT_EQ(Run({"check", policy}).status, 4);
    const Ran applied = Run({"--json", "apply", policy});
    EXPECT_EQ(applied.status, 0) << applied.err;
    EXPECT_TRUE(Has(applied.out, "\"changed\": true,\n  \"summary\": {\"changed\": 4, "
                                 "\"unchanged\": 0, \"would_change\": 0, \"unconfirmed\": 0, "
                                 "\"failed\": 0},"))
        << applied.out;
    EXPECT_EQ(Writes(), 4u);
    for (const auto& [queue, timer] : std::vector<std::pair<std::string, int>>{
             {"Front-1", 2}, {"front-2", 2}, {"Plot", 0x8004}, {"Lab", 3}, {"Other", 4}})
        EXPECT_EQ(sim_->StoredTimer(queue), timer) << queue;
    EXPECT_EQ(sim_->CountLog("Other"), 0u) << "an unselected printer is not contacted";

    const Ran again = Run({"-q", "apply", policy});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(Writes(), 4u) << "a second run writes nothing";
    EXPECT_EQ(Run({"check", policy}).status, 0);

    // Selection in set: patterns ignore case, --model and --exclude narrow.
    const Ran set = Run({"set", "f*", "Plot", "--model", "Brelko M220", "--exclude", "*-2", "5"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.out, "Front-1: 2 hours -> 5 hours (confirmed)\n");
    const Ran drift = Run({"-q", "check", policy});
    EXPECT_EQ(drift.status, 4);
    EXPECT_EQ(drift.out, "Front-1: holds 5 hours, the policy wants 2 hours\n");
    EXPECT_EQ(Run({"set", "nothing*", "5"}).status, 2);
    EXPECT_EQ(Writes(), 5u);
}

TEST_F(Quellonctl, AReportOrADiscoveryThatFailedIsNeverASuccess)
{
    Setup({{"A", "Brelko M210"}}, Printers({{"A", 1, 0, 4}}));
    const Ran unfetched = Run({"--json", "get"}, {{"TMPDIR", "/nonexistent/tmp"}});
    EXPECT_EQ(unfetched.status, 1);
    EXPECT_TRUE(Has(unfetched.out, "\"result\": \"failed\", \"error\": \"ppd-failed\", "
                                   "\"detail\": "))
        << unfetched.out;
    EXPECT_EQ(Run({"list"}, {{"TMPDIR", "/nonexistent/tmp"}}).status, 1);

    const harness::ClosedPort closed;
    const Ran unreachable = Run({"--port", std::to_string(closed.port()), "get", "A"});
    EXPECT_EQ(unreachable.out, "A: cannot connect to the printer daemon (localhost port " +
                                   std::to_string(closed.port()) + ": " + strerror(ECONNREFUSED) +
                                   ")\n");

    std::vector<std::string> argv = {harness::BuildPath("quellonctl/quellonctl"), "get", "A"};
    harness::Process full(argv, Env(), "/dev/full", dir_ / "full-err");
    EXPECT_EQ(full.Wait(kRunTimeout), 1);
    EXPECT_EQ(harness::ReadFile(dir_ / "full-err"),
              "quellonctl: cannot write the report: No space left on device\n");
}

TEST_F(Quellonctl, SilentAndSlowPrintersCostTheirDeadlineAndResultsKeepTheirOrder)
{
    std::vector<TestQueue> queues;
    std::vector<harness::SimPrinter> printers;
    std::vector<std::string> faults;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "P" + std::to_string(10 + i);
        queues.push_back({name, "Brelko M210"});
        printers.push_back({name, 1, 0, 4});
        faults.push_back(name + " * " + (i % 5 == 2 ? "silent" : "delay 100"));
    }
    Setup(queues, Printers(printers, faults));
    const Ran get = Run({"get", "--json", "--jobs", "4", "--timeout", "2"});
    EXPECT_EQ(get.status, 1) << get.err;
    size_t at = 0;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "\"queue\": \"P" + std::to_string(10 + i) + "\"";
        const size_t found = get.out.find(name, at);
        ASSERT_NE(found, std::string::npos) << name << " in order in " << get.out;
        const size_t end = get.out.find('\n', found);
        const std::string entry = get.out.substr(found, end - found);
        EXPECT_EQ(Has(entry, "\"error\": \"timeout\""), i % 5 == 2) << entry;
        at = found;
    }
}

TEST_F(Quellonctl, BadInputIsRefusedBeforeAnyPrinterIsAsked)
{
    Setup({{"A", "Brelko M210"}, {"Acme", "Acme Laser 9"}}, Printers({{"A", 1, 0, 4}}));
    const std::vector<std::vector<std::string>> usage = {{"set", "A"},
                                                         {"set", "A", "0"},
                                                         {"set", "A", "9"},
                                                         {"set", "A", "-1"},
                                                         {"set", "A", "6h"},
                                                         {"set", "A", " 6"},
                                                         {"set", "", "6"},
                                                         {"get", "--jobs", "0"},
                                                         {"get", "--jobs", "10000"},
                                                         {"get", "--timeout", "0"},
                                                         {"get", "--timeout", "-1"},
                                                         {"get", "--timeout", "x"},
                                                         {"get", "--frob"},
                                                         {}};
    for (const auto& args : usage) {
        const Ran ran = Run(args);
        std::string joined;
        for (const std::string& arg : args)
            joined += "[" + arg + "]";
        EXPECT_EQ(ran.status, 2) << joined;
        EXPECT_TRUE(Has(ran.err, "quellonctl: ")) << joined << ran.err;
        EXPECT_TRUE(ran.out.empty()) << joined;
    }
    // A set naming a queue it cannot use writes to none of them.
    const Ran unknown = Run({"set", "A", "Nope", "Acme", "6"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.out, "A: not done: another queue named is not usable\n"
                           "Nope: no such queue\n"
                           "Acme: not a supported printer (see: quellonctl list --all)\n");
    const Ran json = Run({"get", "--json", "Nope"});
    EXPECT_EQ(json.status, 1);
    EXPECT_TRUE(Has(json.out, "\"error\": \"unknown-queue\"")) << json.out;
    EXPECT_EQ(Requests(), 0u);
}

TEST_F(Quellonctl, ExitStatusesForCupsDownEmptyAndEveryPrinterFine)
{
    Setup({{"A", "Brelko M210"}}, Printers({{"A", 1, 0, 4}}));
    EXPECT_EQ(Run({"get"}).status, 0);
    EXPECT_EQ(Run({"set", "--all", "4"}).status, 0);
    // --port beats ZELD_PORT.
    EXPECT_EQ(Run({"get", "--port", std::to_string(sim_->port())}, {{"ZELD_PORT", "1"}}).status, 0);

    const std::string missing = dir_ / "no-cupsd.sock";
    const Ran down = Run({"list"}, {{"CUPS_SERVER", missing}});
    EXPECT_EQ(down.status, 3);
    EXPECT_EQ(down.err, "quellonctl: cannot reach the CUPS scheduler at " + missing + "\n");

    ASSERT_TRUE(cupsd_.RemoveQueue("A"));
    for (const char* command : {"list", "get"}) {
        const Ran empty = Run({command, "--json"});
        EXPECT_EQ(empty.status, 0) << command << empty.err;
        EXPECT_TRUE(Has(empty.out, "\"printers\": []")) << empty.out;
    }
}

TEST_F(Quellonctl, JsonIsTheSameBytesInEnglishAndJapanese)
{
    Setup({{"A", "Brelko M210"}, {"B", "Brelko M240C/M248C"}, {"C", "Brelko M230", "2.5"}},
          Printers({{"A", 1, 2, 0x8003}, {"B", 1, 2, 4}}));
    const auto locpath = harness::JapaneseLocalePath(dir_.path());
    ASSERT_TRUE(locpath) << "no ja_JP.UTF-8 locale could be made";
    harness::EnvChanges ja{{"LANG", harness::kJapaneseLocale}};
    if (!locpath->empty())
        ja["LOCPATH"] = *locpath;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"get", "--json"},
                                                 {"list", "--all", "--json"},
                                                 {"set", "--json", "--dry-run", "--all", "on"}}) {
        const Ran english = Run(args);
        const Ran japanese = Run(args, ja);
        EXPECT_EQ(english.status, japanese.status);
        EXPECT_EQ(english.out, japanese.out);
        EXPECT_TRUE(Has(english.out, "\"queue\": \"A\"")) << english.out;
    }
    // The locale the daemon hears follows the same environment.
    EXPECT_GT(sim_->CountLog("locale=\"ja_JP.UTF-8\""), 0u);
}

TEST_F(Quellonctl, InterruptedItStartsNothingNewAndReportsEveryPrinterNotDone)
{
    // A0 answers at once: its line is out while the others still wait.
    std::vector<TestQueue> queues = {{"A0", "Brelko M210"}};
    std::vector<harness::SimPrinter> printers = {{"A0", 1, 0, 4}};
    std::vector<std::string> faults;
    for (const char* name : {"S1", "S2", "S3"}) {
        queues.push_back({name, "Brelko M210"});
        printers.push_back({name, 1, 0, 4});
        faults.push_back(std::string(name) + " * silent");
    }
    Setup(queues, Printers(printers, faults));
    size_t round = 0;
    for (const auto& [signo, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
        const std::string out = dir_ / ("int.out" + std::to_string(signo));
        harness::Process process({harness::BuildPath("quellonctl/quellonctl"), "set", "--all",
                                  "--jobs", "1", "--timeout", "120", "6"},
                                 Env(), out);
        ASSERT_TRUE(sim_->WaitForLog("printer=\"S1\"", 30000ms, round++));
        const auto deadline = std::chrono::steady_clock::now() + 30000ms;
        while (!Has(harness::ReadFile(out), "A0: ") && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(Has(harness::ReadFile(out), "A0: ")) << "a line as soon as it is known";
        process.Signal(signo);
        EXPECT_EQ(process.Wait(30000ms), status) << signo;
        EXPECT_TRUE(Has(harness::ReadFile(out), "\nS1: not done: interrupted\n"
                                                "S2: not done: interrupted\n"
                                                "S3: not done: interrupted\n"));
    }
    EXPECT_EQ(sim_->CountLog("printer=\"S2\""), 0u);
    EXPECT_EQ(Writes(), 1u) << "A0 once; nothing to the printers not done";
}

// Once the write frame went out, neither the deadline nor Ctrl-C makes it
// "not done": the printer may hold the value, and nothing is sent again.
TEST_F(Quellonctl, AWriteWhoseOutcomeIsUnknownIsUnconfirmedWithWhatWasRead)
{
    Setup({{"W", "Brelko M210"}}, Printers({{"W", 1, 0, 4}}, {"W " + kWrite + " silent"}));
    const Ran late = Run({"set", "--timeout", "2", "W", "6"});
    EXPECT_EQ(late.status, 1);
    EXPECT_EQ(late.out, "W: 6 hours was sent, its outcome is unknown\n");

    const std::string out = dir_ / "int.out";
    harness::Process process({harness::BuildPath("quellonctl/quellonctl"), "set", "--json",
                              "--timeout", "120", "W", "3"},
                             Env(), out);
    ASSERT_TRUE(sim_->WaitForLog("item=" + kWrite + " value=3", 30000ms));
    process.Signal(SIGINT);
    EXPECT_EQ(process.Wait(30000ms), 130);
    EXPECT_TRUE(Has(harness::ReadFile(out), "\"firmware\": \"01.00\", \"min_firmware\""));
    EXPECT_TRUE(Has(harness::ReadFile(out), "\"result\": \"unconfirmed\""));
    EXPECT_EQ(Writes(), 2u);
}

// CUPS names one queue whatever the letter case: however a printer is
// named, it gets one piece of work, and a name CUPS knows in another
// spelling fails as itself.
TEST_F(Quellonctl, ANameInAnyCaseIsOneQueueWrittenAtMostOnce)
{
    Setup({{"lp-ok", "Brelko M210"}, {"lp-two", "Brelko M220"}, {"lp-old", "Acme 9"}},
          Printers({{"lp-ok", 1, 0, 4}, {"lp-two", 1, 1, 4}}));
    std::string output;
    ASSERT_EQ(harness::Run({"lpadmin", "-h", cupsd_.server(), "-p", "lp-raw", "-E", "-v",
                            "file:///dev/null"},
                           kRunTimeout, &output, cupsd_.env()),
              0)
        << output;
    const harness::EnvChanges unfetched = {{"TMPDIR", "/nonexistent/tmp"}};
    struct Case {
        std::vector<std::string> args;
        harness::EnvChanges env;
        std::string out;
    };
    for (const Case& c :
         std::vector<Case>{{{"get", "LP-OLD"},
                            {},
                            "lp-old: not a supported printer (see: quellonctl list --all)\n"},
                           {{"get", "LP-RAW"},
                            {},
                            "lp-raw: not a supported printer (see: quellonctl list --all)\n"},
                           {{"set", "LP-OLD", "lp-ok", "4"},
                            {},
                            "lp-old: not a supported printer (see: quellonctl list --all)\n"
                            "lp-ok: not done: another queue named is not usable\n"},
                           {{"get", "LP-OLD"}, unfetched, "lp-old: cannot fetch its PPD file: "}}) {
        const Ran ran = Run(c.args, c.env);
        EXPECT_EQ(ran.status, 1) << c.args[1] << ran.err;
        EXPECT_EQ(ran.out.substr(0, c.out.size()), c.out) << ran.out;
    }
    EXPECT_EQ(Writes(), 0u);

    const Ran twice = Run({"set", "lp-ok", "LP-OK", "5"});
    EXPECT_EQ(twice.out, "lp-ok: 4 hours -> 5 hours (confirmed)\n") << twice.err;
    EXPECT_EQ(Shell("printf 'lp-two\\nLP-TWO\\nLp-Two\\n' | \"$Q\" set - 6").status, 0);
    EXPECT_EQ(Run({"set", "LP-T*", "Lp-Two", "3"}).status, 0);
    EXPECT_EQ(Writes(), 3u) << "one write a run, however the printer was named";

    // The port a failure names is the port that was tried.
    const Ran port = Run({"--json", "get", "lp-ok"}, {{"ZELD_PORT", " 1234"}});
    EXPECT_TRUE(Has(port.out, "localhost port 59787: ")) << port.out;
    EXPECT_TRUE(Has(port.err, "does not begin with a port number; using port 59787")) << port.err;
}

// What an administrator's typing slips select: a line that chooses nothing
// is said with its place, check does not call it "all hold", and a line
// that cannot be a selector stops everything before a printer is asked.
TEST_F(Quellonctl, APolicyOrSelectionThatChoosesNothingSaysSo)
{
    Setup({{"lp-ok", "Brelko M210"}, {"lp-old", "Acme 9"}}, Printers({{"lp-ok", 1, 0, 4}}));
    struct Case {
        std::string policy;
        int status;
        std::string err;
    };
    for (const Case& c : std::vector<Case>{{"lp-ok 4\nnosuch 4\n", 1, ":2: selects no queue"},
                                           {"model:brelko m210 4\n", 1, ":1: selects no queue"},
                                           {"lp-old 4\n", 1, ""},
                                           {"model: Brelko M210 4\n", 2, ":1: a line is a queue"},
                                           {"lp[1 4\n", 2, ":1: a line is a queue"},
                                           {"lp-ok lp-old 8\n", 2, ":1: a line is a queue"},
                                           {"\xEF\xBB\xBFlp-ok 4\n", 0, ""}}) {
        const std::string path = dir_ / "policy";
        harness::WriteFile(path, c.policy);
        const size_t before = Requests();
        const Ran check = Run({"check", path});
        EXPECT_EQ(check.status, c.status) << c.policy << check.err;
        EXPECT_TRUE(Has(check.err, c.err)) << c.policy << check.err;
        if (c.status == 2) {
            EXPECT_EQ(Requests(), before) << c.policy;
        }
    }
    const Ran folder = Run({"apply", dir_.path()});
    EXPECT_EQ(folder.status, 2);
    EXPECT_EQ(folder.err,
              "quellonctl: cannot read the policy file " + dir_.path() + ": Is a directory\n");

    // --exclude alone takes from every listed queue.
    EXPECT_EQ(Run({"get", "--exclude", "LP-OLD"}).out,
              "lp-ok: firmware 01.00, switches off after 4 hours\n");
    // With no PPD to read, a model selector may have meant any queue.
    const harness::EnvChanges unfetched = {{"TMPDIR", "/nonexistent/tmp"}};
    harness::WriteFile(dir_ / "policy", "model:Brelko M210 4\n");
    EXPECT_EQ(Run({"check", dir_ / "policy"}, unfetched).status, 1);
    EXPECT_EQ(Run({"get", "--model", "Brelko M210"}, unfetched).status, 1);
    EXPECT_EQ(Run({"set", "--model", "Brelko M210", "4"}, unfetched).status, 1);

    // Closed descriptors are no socket's: nothing hangs, nothing is lost.
    const Ran get = Shell("\"$Q\" get - <&-");
    EXPECT_EQ(get.status, 0) << get.err;
    const Ran set = Shell("\"$Q\" set - 4 <&-");
    EXPECT_EQ(set.status, 2) << set.err;
    EXPECT_EQ(Shell("\"$Q\" -v get lp-ok 2>&-").out,
              "lp-ok: firmware 01.00, switches off after 4 hours\n");
    EXPECT_EQ(Writes(), 0u);
}

// The plugin's states, each with its exit status and first line, the same
// from check --nagios and from the check_quellon link; its performance
// data in the plugins' grammar, and nothing ever written.
TEST_F(Quellonctl, AsAMonitoringPluginEachStateHasItsStatusAndFirstLine)
{
    Setup({{"Hold", "Brelko M210"},
           {"Drift", "Brelko M210"},
           {"Off", "Brelko M210"},
           {"OldFirm", "Brelko M240C/M248C"}},
          Printers({{"Hold", 1, 0, 4}, {"Drift", 1, 0, 4}, {"Off", 1, 0, 4}, {"OldFirm", 1, 2, 4}},
                   {"Off * close-before"}));
    const std::string link = dir_ / "check_quellon";
    ASSERT_EQ(symlink(harness::BuildPath("quellonctl/quellonctl").c_str(), link.c_str()), 0);
    const std::string perf = " | printers=";
    struct Case {
        std::string policy;  // empty: no such file
        std::vector<std::string> args;
        int status;
        std::string first;  // the first line up to its performance data, or whole
        std::string more;   // in the lines after it
    };
    const std::vector<Case> cases = {
        {"Hold 4\n", {}, 0, "QUELLON OK: 1 printer holds the policy" + perf, ""},
        {"Hold 4\nDrift 2\n",
         {},
         1,
         "QUELLON WARNING: 1 of 2 printers differs from the policy" + perf,
         "\nDrift: holds 4 hours, the policy wants 2 hours\n"},
        {"Hold 4\nOff 4\n",
         {},
         2,
         "QUELLON CRITICAL: 1 of 2 printers offline" + perf,
         "\nOff: no-reply"},
        {"Hold 4\nOff 4\n", {"--offline", "warning"}, 1, "QUELLON WARNING: 1 of 2", "\nOff: "},
        {"Hold 4\nOff 4\n", {"--offline=ok", "-t", "5"}, 0, "QUELLON OK: 1 of 2", "\nOff: "},
        {"OldFirm 4\nDrift 2\nOff 4\n",
         {"--offline", "ok"},
         2,
         "QUELLON CRITICAL: 1 of 3 printers failed, 1 offline, 1 differs from the policy" + perf,
         "\nOldFirm: old-firmware (firmware 01.02, needs 01.03)\n"},
        {"Hold 4\nnosuch 4\n",
         {},
         1,
         "QUELLON WARNING: 1 printer holds the policy; a policy line selects no queue" + perf,
         ":2: selects no queue\n"},
        {"nosuch 4\n", {}, 3, "QUELLON UNKNOWN: the policy selects no printer" + perf, ""},
        {"Hold 9\n", {}, 3, "QUELLON UNKNOWN: ", ":1: \"9\" is not a value"},
        {"", {}, 3, "QUELLON UNKNOWN: cannot read the policy file ", ""},
        {"Hold 4\n", {"--frob"}, 3, "QUELLON UNKNOWN: unknown option --frob\n", ""},
        {"Hold 4\n", {"--timeout", "0"}, 3, "QUELLON UNKNOWN: --timeout wants", ""},
        {"Hold 4\n", {"--offline", "maybe"}, 3, "QUELLON UNKNOWN: --offline wants", ""},
    };
    const std::regex perfdata(R"(('[^'=]+'|[^' =]+)=-?[0-9]+(\.[0-9]+)?(s|us|ms|%|B|KB|MB|TB|c)?)"
                              R"((;[0-9.:~@-]*){0,2}(;[0-9.-]*){0,2})");
    for (const Case& c : cases) {
        const std::string policy = dir_ / ("policy" + std::to_string(runs_));
        if (!c.policy.empty())
            harness::WriteFile(policy, c.policy);
        std::vector<std::string> args = {"check", "--nagios"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(policy);
        std::vector<std::string> plugin_args = c.args;
        plugin_args.push_back(policy);
        const size_t before = Requests();
        const Ran direct = Run(args, {{"LANG", "ja_JP.UTF-8"}});
        if (c.status == 3) {
            EXPECT_EQ(Requests(), before) << c.policy << " sends nothing";
        }
        for (const Ran& ran : {direct, RunProgram(link, plugin_args)}) {
            const std::string first = ran.out.substr(0, ran.out.find('\n') + 1);
            EXPECT_EQ(ran.status, c.status) << c.policy << ran.out << ran.err;
            EXPECT_EQ(first.substr(0, c.first.size()), c.first) << c.policy;
            EXPECT_TRUE(Has(ran.out, c.more)) << ran.out;
            EXPECT_EQ(ran.err, "") << c.policy;
            const size_t bar = first.find(" | ");
            if (bar == std::string::npos)
                continue;
            std::istringstream data(first.substr(bar + 3));
            for (std::string item; data >> item;)
                EXPECT_TRUE(std::regex_match(item, perfdata)) << item;
        }
    }
    harness::WriteFile(dir_ / "all", "Hold 4\nDrift 4\n");
    const Ran down = RunProgram(link, {dir_ / "all"}, {{"CUPS_SERVER", dir_ / "no-cupsd.sock"}});
    EXPECT_EQ(down.status, 3);
    EXPECT_EQ(down.out.substr(0, 52), "QUELLON UNKNOWN: cannot reach the CUPS scheduler at ");
    const Ran help = RunProgram(link, {"-h"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Has(help.out, "Usage: check_quellon ")) << help.out;
    EXPECT_EQ(RunProgram(link, {"-V"}).out.substr(0, 14), "check_quellon ");

    // Interrupted: UNKNOWN, naming what it knows.
    sim_->SetFault("Drift * silent");
    const size_t asked = sim_->CountLog("printer=\"Drift\"");
    const std::string out = dir_ / "int.out";
    harness::Process process({link, "--jobs", "1", "-t", "120", dir_ / "all"}, Env(), out);
    ASSERT_TRUE(sim_->WaitForLog("printer=\"Drift\"", 30000ms, asked));
    process.Signal(SIGTERM);
    EXPECT_EQ(process.Wait(30000ms), 3);
    EXPECT_EQ(harness::ReadFile(out).substr(0, 48),
              "QUELLON UNKNOWN: interrupted, 0 of 2 printers ch");
    EXPECT_TRUE(Has(harness::ReadFile(out), "\nDrift: interrupted\n")) << harness::ReadFile(out);
    EXPECT_EQ(Writes(), 0u);
}

// The metrics the node exporter serves: valid for promtool, replaced whole
// by each run (failed or interrupted too) with no file of its own left
// beside them, and readable by the exporter's user.
TEST_F(Quellonctl, MetricsReplaceTheirFileWholeOnEveryRunAndTheNodeExporterServesThem)
{
    Setup({{"Hold", "Brelko M210"}, {"Drift", "Brelko M220"}, {"Off", "Brelko M210"}},
          Printers({{"Hold", 1, 0, 4}, {"Drift", 1, 1, 0x8003}, {"Off", 1, 0, 4}},
                   {"Off * close-before"}));
    const std::string folder = dir_ / "textfiles";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string file = folder + "/quellon.prom";
    harness::WriteFile(dir_ / "policy", "* 4\n");
    // Only the metrics file itself, world-readable, a new one every run.
    ino_t last = 0;
    const auto replaced = [&](const std::string& what) {
        struct stat about {};
        EXPECT_EQ(stat(file.c_str(), &about), 0) << what;
        EXPECT_EQ(about.st_mode & 07777, 0644u) << what;
        EXPECT_NE(about.st_ino, last) << what << ": not replaced by a rename";
        last = about.st_ino;
        std::string listing;
        harness::Run({"ls", "-A", folder}, kRunTimeout, &listing);
        EXPECT_EQ(listing, "quellon.prom\n") << what;
        const std::string text = harness::ReadFile(file);
        const harness::PromtoolCheck check = harness::PromtoolCheckMetrics(text);
        EXPECT_EQ(check.status, 0) << what << check.output << text;
        return text;
    };
    EXPECT_EQ(Run({"check", "--metrics", file, dir_ / "policy"}).status, 1);
    const std::string checked = replaced("check");
    for (const auto& [series, value] : std::vector<std::pair<std::string, double>>{
             {"quellon_printer_up{queue=\"Hold\"}", 1},
             {"quellon_printer_up{queue=\"Off\"}", 0},
             {"quellon_printer_info{queue=\"Drift\",model=\"Brelko M220\",firmware=\"01.01\"}", 1},
             {"quellon_auto_shutdown_enabled{queue=\"Drift\"}", 0},
             {"quellon_auto_shutdown_delay_seconds{queue=\"Drift\"}", 10800},
             {"quellon_policy_compliant{queue=\"Hold\"}", 1},
             {"quellon_policy_compliant{queue=\"Drift\"}", 0},
             {"quellon_run_success", 0}})
        EXPECT_EQ(harness::SampleValue(checked, series), value) << series << checked;
    EXPECT_FALSE(Has(checked, "compliant{queue=\"Off\"}")) << "not read, so not known";
    EXPECT_FALSE(Has(checked, "e+")) << checked;

    EXPECT_EQ(Shell("umask 077; \"$Q\" get Hold --metrics " + file).status, 0);
    const std::string got = replaced("get");
    EXPECT_EQ(harness::SampleValue(got, "quellon_run_success"), 1.0) << got;
    EXPECT_FALSE(Has(got, "quellon_policy_compliant")) << got;
    harness::NodeExporter exporter(folder);
    const std::optional<std::string> scraped = exporter.Scrape();
    ASSERT_TRUE(scraped) << exporter.Log();
    EXPECT_EQ(harness::SampleValue(*scraped, "node_textfile_scrape_error"), 0.0) << *scraped;
    EXPECT_EQ(harness::SampleValue(*scraped, "quellon_printer_up{queue=\"Hold\"}"), 1.0);

    // A run that failed before any printer still says so.
    EXPECT_EQ(Run({"check", "--metrics", file, dir_ / "nosuch"}).status, 2);
    EXPECT_EQ(harness::SampleValue(replaced("no policy"), "quellon_run_success"), 0.0);
    sim_->SetFault("Hold * silent");
    const size_t asked = sim_->CountLog("printer=\"Hold\"");
    const std::string out = dir_ / "int.out";
    harness::Process process({harness::BuildPath("quellonctl/quellonctl"), "get", "--timeout",
                              "120", "--metrics", file, "Hold"},
                             Env(), out);
    ASSERT_TRUE(sim_->WaitForLog("printer=\"Hold\"", 30000ms, asked));
    process.Signal(SIGINT);
    EXPECT_EQ(process.Wait(30000ms), 130);
    EXPECT_EQ(harness::SampleValue(replaced("interrupted"), "quellon_printer_up{queue=\"Hold\"}"),
              0.0);

    const Ran unwritable = Run({"get", "Drift", "--metrics", dir_ / "nosuch/quellon.prom"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_TRUE(Has(unwritable.err, "quellonctl: cannot write the metrics file " + dir_.path() +
                                        "/nosuch/quellon.prom: No such file or directory\n"))
        << unwritable.err;
    EXPECT_EQ(Writes(), 0u);
}

// A print server has no X: nothing of the toolkit may be linked in.
TEST(QuellonctlBinary, LinksNoToolkitAndNoXLibrary)
{
    std::string libraries;
    ASSERT_EQ(
        harness::Run({"ldd", harness::BuildPath("quellonctl/quellonctl")}, 30000ms, &libraries), 0);
    for (const char* toolkit : {"libgtk", "libgdk", "libX"})
        EXPECT_FALSE(Has(libraries, toolkit)) << libraries;
}

}  // namespace
