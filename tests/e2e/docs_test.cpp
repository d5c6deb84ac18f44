// The manual pages and the bash completion against the programs they
// describe: the options --help prints are the options the page documents,
// the pages render cleanly, and the completion offers what the program takes.
#include <algorithm>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "process.h"

namespace {

using namespace std::chrono_literals;
using Options = std::set<std::string>;

struct Documented {
    std::string name;     // what --version starts with
    std::string program;  // in the build tree
    std::string page;     // configured page, in the build tree
};

// Names the case in test listings.
void PrintTo(const Documented& d, std::ostream* os)
{
    *os << d.program;
}

// One line per installed program.
const Documented kDocumented[] = {
    {"quellon", "src/quellon", "man/quellon.1"},
    {"quellonctl", "quellonctl/quellonctl", "man/quellonctl.1"},
};

struct Ran {
    int status;
    std::string out;
    std::string err;
};

Ran RunCaptured(const std::vector<std::string>& argv, const harness::EnvChanges& env = {})
{
    harness::TempDir dir;
    int status;
    {
        harness::Process process(argv, env, dir / "out", dir / "err");
        status = process.Wait(30000ms).value_or(-1);
    }
    return {status, harness::ReadFile(dir / "out"), harness::ReadFile(dir / "err")};
}

// Everything that looks like an option where a reader would see one: a
// dash or two and a letter, after white space or an opening bracket, so
// that "read-back" or "Ctrl-C" do not count.
Options OptionsIn(const std::string& text)
{
    static const std::regex option(R"((?:^|[\s\[(|,])(--?[A-Za-z][A-Za-z0-9-]*))");
    Options found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it)
        found.insert((*it)[1]);
    return found;
}

std::string Joined(const Options& options)
{
    std::string joined;
    for (const auto& o : options)
        joined += (joined.empty() ? "" : " ") + o;
    return joined;
}

Options Minus(const Options& a, const Options& b)
{
    Options rest;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(rest, rest.end()));
    return rest;
}

// The page as a reader sees it, in plain ASCII, wide enough and without
// hyphenation so that no option is split over two lines.
std::string RenderedPage(const std::string& page)
{
    const Ran man = RunCaptured({"man", "--nh", "--nj", "-l", harness::BuildPath(page)},
                                {{"LANG", "C"}, {"LC_ALL", "C"}, {"MANWIDTH", "200"}});
    EXPECT_EQ(man.status, 0) << man.err;
    return man.out;
}

// English texts, no display, and nothing but the program's own words on
// standard error, also under the leak checker.
const harness::EnvChanges kNoDisplay = harness::Combine(
    {harness::EnglishEnv(), harness::QuietLeakCheck(), {{"DISPLAY", std::nullopt}}});

class Documentation : public testing::TestWithParam<Documented> {};

TEST_P(Documentation, HelpAndVersionAnswerWithoutADisplay)
{
    const Documented& d = GetParam();
    const Ran help = RunCaptured({harness::BuildPath(d.program), "--help"}, kNoDisplay);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    const Ran version = RunCaptured({harness::BuildPath(d.program), "--version"}, kNoDisplay);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, d.name + " " QUELLON_VERSION "\n");
    EXPECT_EQ(version.err, "");
}

TEST_P(Documentation, HelpAndManualPageNameTheSameOptions)
{
    const Documented& d = GetParam();
    const Ran help = RunCaptured({harness::BuildPath(d.program), "--help"}, kNoDisplay);
    const Options in_help = OptionsIn(help.out);
    const Options in_page = OptionsIn(RenderedPage(d.page));
    ASSERT_FALSE(in_help.empty()) << help.out;
    EXPECT_EQ(Joined(Minus(in_help, in_page)), "") << "in --help, not in " << d.page;
    EXPECT_EQ(Joined(Minus(in_page, in_help)), "") << "in " << d.page << ", not in --help";
}

TEST_P(Documentation, ManualPageRendersWithoutWarnings)
{
    for (const char* lang : {"C", "C.UTF-8"}) {
        const Ran man =
            RunCaptured({"man", "--warnings", "-l", harness::BuildPath(GetParam().page)},
                        {{"LANG", lang}, {"LC_ALL", lang}, {"MANWIDTH", "80"}});
        EXPECT_EQ(man.status, 0) << lang;
        EXPECT_EQ(man.err, "") << lang;
        EXPECT_NE(man.out.find("NAME"), std::string::npos) << lang;
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, Documentation, testing::ValuesIn(kDocumented),
                         [](const testing::TestParamInfo<Documented>& info) {
                             return info.param.name;
                         });

// The toolkit's own options come first on many command lines; --help must
// still win over them and never need the display they name.
TEST(QuellonHelp, WinsOverToolkitOptionsBeforeIt)
{
    const Ran help = RunCaptured(
        {harness::BuildPath("src/quellon"), "--display", ":99", "--sync", "--help"}, kNoDisplay);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--help"), std::string::npos);
    EXPECT_EQ(help.err, "");
}

// Only the two folders' own install scripts run, so the test needs no full
// build; the pages must arrive with this build's version filled in.
TEST(Install, PutsThePagesAndTheCompletionWhereManAndBashLook)
{
    harness::TempDir stage;
    for (const char* folder : {"man", "completion"}) {
        EXPECT_EQ(harness::Run({CMAKE_COMMAND, "-DCMAKE_INSTALL_PREFIX=" + stage.path(), "-P",
                                harness::BuildPath(std::string(folder) + "/cmake_install.cmake")},
                               60000ms),
                  0)
            << folder;
    }
    for (const char* page : {"quellon.1", "quellonctl.1"}) {
        const std::string text = harness::ReadFile(stage / "share/man/man1/" + page);
        EXPECT_NE(text.find("Quellon " QUELLON_VERSION), std::string::npos) << page;
        EXPECT_EQ(text.find("@QUELLON"), std::string::npos) << page;
    }
    EXPECT_TRUE(harness::FileContains(stage / "share/bash-completion/completions/quellonctl",
                                      "complete -F _quellonctl quellonctl"));
}

// --------------------------------------------------------------- completion

// Runs the completion function as bash would for the command line `words`
// (the last one being the word under the cursor) and returns what it offers.
// FakeLpstat puts an lpstat of the test's own first on PATH.
class Completion : public testing::Test {
protected:
    std::vector<std::string> Offered(const std::vector<std::string>& words)
    {
        const std::string script =
            "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _quellonctl; "
            "printf '%s\\n' \"${COMPREPLY[@]}\"";
        std::vector<std::string> argv{"bash", "-c", script, "bash",
                                      harness::SourcePath("completion/quellonctl")};
        argv.insert(argv.end(), words.begin(), words.end());
        const Ran bash = RunCaptured(argv, {{"PATH", bin_.path() + ":/usr/bin:/bin"}});
        EXPECT_EQ(bash.status, 0);
        EXPECT_EQ(bash.err, "") << "the completion must never write on the terminal";
        std::vector<std::string> offered;
        std::istringstream lines(bash.out);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty())
                offered.push_back(line);
        }
        return offered;
    }

    void FakeLpstat(const std::string& body)
    {
        harness::WriteFile(bin_ / "lpstat", "#!/bin/sh\n" + body + "\n");
        harness::Run({"chmod", "+x", bin_ / "lpstat"}, 10000ms);
    }

    harness::TempDir bin_;
};

using Words = std::vector<std::string>;

TEST_F(Completion, OffersExactlyTheOptionsTheManualPageDocuments)
{
    const Words offered = Offered({"quellonctl", "-"});
    const Options in_page = OptionsIn(RenderedPage("man/quellonctl.1"));
    EXPECT_EQ(Joined(Options(offered.begin(), offered.end())), Joined(in_page));
}

TEST_F(Completion, OffersCommandsFirstAndNoWordAfterANumericOption)
{
    EXPECT_EQ(Offered({"quellonctl", ""}), (Words{"list", "get", "set", "apply", "check"}));
    EXPECT_EQ(Offered({"quellonctl", "--jobs", "4", "-q", "s"}), (Words{"set"}));
    EXPECT_EQ(Offered({"quellonctl", "--timeout", ""}), Words{});
    EXPECT_EQ(Offered({"quellonctl", "list", ""}), Words{});
}

TEST_F(Completion, OffersQueuesFromCupsAndTheValuesOfSetOnceAPrinterIsNamed)
{
    FakeLpstat("[ \"$1\" = -e ] && printf 'Brelko-M210\\nOffice-M220@printhost\\n'");
    EXPECT_EQ(Offered({"quellonctl", "get", ""}), (Words{"Brelko-M210", "Office-M220@printhost"}));
    EXPECT_EQ(Offered({"quellonctl", "set", "O"}), (Words{"Office-M220@printhost"}));
    EXPECT_EQ(Offered({"quellonctl", "set", "Brelko-M210", ""}),
              (Words{"off", "on", "1", "2", "3", "4", "5", "6", "7", "8", "Brelko-M210",
                     "Office-M220@printhost"}));
    EXPECT_EQ(Offered({"quellonctl", "set", "--all", "o"}), (Words{"off", "on"}));
    EXPECT_EQ(Offered({"quellonctl", "set", "--all", "B"}), Words{}) << "no queue after --all";
}

TEST_F(Completion, StaysQuietWhenCupsCannotAnswer)
{
    FakeLpstat("echo 'lpstat: Scheduler is not running.' >&2; exit 1");
    EXPECT_EQ(Offered({"quellonctl", "get", ""}), Words{});
    EXPECT_EQ(Offered({"quellonctl", "set", "x", "o"}), (Words{"off", "on"}));
}

TEST_F(Completion, StaysQuietWithoutTheCupsClientTools)
{
    // An empty PATH: no lpstat anywhere.
    const std::string script = "source \"$1\"; COMP_WORDS=(quellonctl get ''); COMP_CWORD=2; "
                               "_quellonctl; echo \"${#COMPREPLY[@]}\"";
    const Ran bash = RunCaptured(
        {"/bin/bash", "-c", script, "bash", harness::SourcePath("completion/quellonctl")},
        {{"PATH", bin_.path()}});
    EXPECT_EQ(bash.status, 0);
    EXPECT_EQ(bash.out, "0\n");
    EXPECT_EQ(bash.err, "");
}

}  // namespace
