// The running program as a screen reader sees it: its three windows read
// through the AT-SPI tree (the toolkit's accessibility bridge on a private
// session bus), never through the toolkit itself.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "desktop.h"

namespace {

using namespace harness;

// A D-Bus session bus of the test's own; the accessibility bus is started
// on it by activation when the program's bridge asks for it. Its home and
// runtime folders are the test's too, so that the accessibility bus's
// socket is no other run's.
class SessionBus {
public:
    SessionBus()
        : daemon_({"dbus-daemon", "--session", "--nofork", "--print-address=1"},
                  {{"HOME", dir_.path()}, {"XDG_RUNTIME_DIR", dir_.path()}}, dir_ / "address")
    {
        WaitFor([&] { return !Address().empty() || !daemon_.running(); }, 10000ms);
    }

    std::string Address() const
    {
        const std::string text = ReadFile(dir_ / "address");
        const size_t end = text.find('\n');
        return end == std::string::npos ? "" : text.substr(0, end);
    }

private:
    TempDir dir_;
    Process daemon_;
};

// What this system lacks for a screen reader to see a GTK+ 2 program, each
// with the package that brings it. Without them no window could ever show
// in the tree, and the test would only time out.
std::string MissingPrerequisites(const SessionBus& bus)
{
    const std::string modules = QUELLON_GTK_MODULES;
    std::string missing;
    for (const auto& [module, package] :
         {std::pair{"libgail.so", "libgail-common"}, {"libatk-bridge.so", "libatk-adaptor"}})
        if (access((modules + "/" + module).c_str(), R_OK) != 0)
            missing += modules + "/" + module + " (" + package + ")\n";
    std::string out;
    if (Run({QUELLON_SYSTEM_PYTHON, "-c", "import pyatspi"}, 30000ms, &out) != 0)
        missing += "the python AT-SPI bindings (python3-pyatspi): " + out;
    const int listed =
        Run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
             "org.freedesktop.DBus.ListActivatableNames"},
            10000ms, &out, {{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}});
    if (out.find("\"org.a11y.Bus\"") == std::string::npos)
        missing += "the accessibility bus org.a11y.Bus (at-spi2-core)\n" + (listed ? out : "");
    return missing;
}

// One line of atspi_tree.py's report, split at its tabs.
using Fact = std::vector<std::string>;

// What the tree shows of the window titled `title`.
std::vector<Fact> ReadTree(const EnvChanges& env, const std::string& title)
{
    std::string out;
    const int status =
        Run({QUELLON_SYSTEM_PYTHON, SourcePath("tests/e2e/atspi_tree.py"), "quellon", title},
            30000ms, &out, env);
    EXPECT_EQ(status, 0) << out;
    std::vector<Fact> facts;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Fact& fact = facts.emplace_back();
        for (std::string field; std::getline(fields, field, '\t');)
            fact.push_back(field);
        fact.resize(std::max<size_t>(fact.size(), 4));
    }
    return facts;
}

// Every widget that can take the focus has something to be read by.
void ExpectEveryFocusableNamed(const std::vector<Fact>& tree, const std::string& window)
{
    int focusable = 0;
    for (const Fact& f : tree) {
        if (f[0] != "focusable")
            continue;
        ++focusable;
        EXPECT_FALSE(f[2].empty()) << "a nameless " << f[1] << " in " << window;
    }
    EXPECT_GT(focusable, 0) << window;
}

// The first fact of `kind` about `role` whose fourth field begins with
// `start`; all empty when there is none.
Fact Find(const std::vector<Fact>& tree, const std::string& kind, const std::string& role,
          const std::string& start = "")
{
    for (const Fact& f : tree)
        if (f[0] == kind && f[1] == role && f[3].rfind(start, 0) == 0)
            return f;
    return Fact(4);
}

TEST(Accessibility, EveryFocusableWidgetIsNamedAndTheListAndPeriodAreLabelled)
{
    SessionBus bus;
    ASSERT_FALSE(bus.Address().empty()) << "no session bus (dbus-daemon, of the package dbus)";
    const std::string missing = MissingPrerequisites(bus);
    ASSERT_TRUE(missing.empty()) << "a screen reader could not see the program; missing:\n"
                                 << missing;
    ZeldSim::Options sim;
    sim.printers = {{"lp1", 1, 1, 4}};
    Desktop d({{"lp1"}}, sim);
    EnvChanges env{{"DBUS_SESSION_BUS_ADDRESS", bus.Address()},
                   {"GTK_MODULES", "gail:atk-bridge"},
                   {"NO_AT_BRIDGE", std::nullopt}};
    ASSERT_TRUE(d.Start(env));
    for (const auto& [key, value] : d.x().env())
        env[key] = value;

    const auto main = ReadTree(env, "Quellon");
    ExpectEveryFocusableNamed(main, "the main window");
    EXPECT_EQ(Find(main, "labelled-by", "table", "Printer List:")[2], "Printer List:");

    ASSERT_TRUE(d.SelectAndOpen(0));
    const auto dlg = d.WaitSettings();
    ASSERT_TRUE(dlg);
    const auto settings = ReadTree(env, "Auto Shutdown Settings");
    ExpectEveryFocusableNamed(settings, "the settings dialog");
    EXPECT_EQ(Find(settings, "labelled-by", "text", "Auto Shutdown After:")[2],
              "Auto Shutdown After:");
    ASSERT_TRUE(d.KeysTo(*dlg, "Escape"));
    ASSERT_TRUE(d.x().WaitHidden(*dlg));

    d.sim().SetFault("lp1 106520 refuse 1");
    ASSERT_TRUE(d.OpenAgain());
    const auto warning = d.WaitWarning();
    ASSERT_TRUE(warning);
    const auto read = ReadTree(env, "Warning");
    ExpectEveryFocusableNamed(read, "the warning");
    const std::string description = Find(read, "window", "Warning")[2];
    EXPECT_EQ(description.rfind("Could not acquire the printer information.\\n", 0), 0u)
        << "the warning's text is its description: " << description;
    ASSERT_TRUE(d.KeysTo(*warning, "Escape"));
    EXPECT_EQ(d.CloseMain(), std::optional<int>(0)) << d.Stderr();
}

}  // namespace
