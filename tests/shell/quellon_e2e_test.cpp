// The real program on its own X server (with a window manager) against a
// private CUPS scheduler, worked with keyboard and close requests only.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include "cupsd.h"
#include "xserver.h"

namespace {

using namespace std::chrono_literals;
using harness::MakePpd;

// Where the settings button's label is drawn inside the (fixed-size) main
// window, and how dark its text gets when the button is sensitive.
struct Region {
    int x, y, width, height;
};
constexpr Region kSetButtonLabel{290, 278, 215, 18};
constexpr int kSensitiveTextMaxLuma = 80;
constexpr int kInsensitiveTextMinLuma = 100;

// A loopback port with nobody listening, so that no daemon on this machine
// answers the program.
int ClosedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

// Standard error is checked line by line: no leak-check summary on it.
std::string QuietLeakCheck()
{
    const char* options = std::getenv("LSAN_OPTIONS");
    return std::string(options ? options : "") + ":print_suppressions=0";
}

class RealProgram : public testing::Test {
protected:
    RealProgram() : x_(true) {}

    void AddQueues(const std::vector<std::pair<std::string, std::string>>& queues)
    {
        for (const auto& [name, model] : queues)
            ASSERT_TRUE(cupsd_.AddQueue(name, MakePpd(model)));
    }

    harness::EnvChanges Env() const
    {
        harness::EnvChanges env = x_.EnglishProgramEnv(cupsd_.env());
        env["ZELD_PORT"] = std::to_string(ClosedPort());
        env["LSAN_OPTIONS"] = QuietLeakCheck();
        return env;
    }

    void Start(const harness::EnvChanges& env, const std::vector<std::string>& argv = {})
    {
        program_ = std::make_unique<harness::Process>(
            argv.empty() ? std::vector<std::string>{harness::BuildPath("src/quellon")} : argv, env,
            "", stderr_path());
    }

    // The main window, focused and ready for keys.
    unsigned long MainWindow()
    {
        const auto id = x_.WaitWindow("Quellon");
        EXPECT_TRUE(id) << "no main window; stderr: " << harness::ReadFile(stderr_path());
        if (!id)
            return 0;
        EXPECT_TRUE(x_.Focus(*id));
        return *id;
    }

    // The darkest pixel of the settings button's label, as seen on screen.
    int SetButtonTextLuma(unsigned long window)
    {
        const std::string png = shots_ / ("shot" + std::to_string(++shot_) + ".png");
        if (!x_.Screenshot(window, png))
            return -1;
        GError* error = nullptr;
        GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(png.c_str(), &error);
        if (!pixbuf) {
            g_clear_error(&error);
            return -1;
        }
        int darkest = 255;
        const int channels = gdk_pixbuf_get_n_channels(pixbuf);
        const int stride = gdk_pixbuf_get_rowstride(pixbuf);
        const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
        const Region r = kSetButtonLabel;
        for (int y = r.y; y < r.y + r.height && y < gdk_pixbuf_get_height(pixbuf); ++y) {
            for (int x = r.x; x < r.x + r.width && x < gdk_pixbuf_get_width(pixbuf); ++x) {
                const guchar* p = pixels + y * stride + x * channels;
                darkest = std::min(darkest, (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000);
            }
        }
        g_object_unref(pixbuf);
        return darkest;
    }

    bool SetButtonSensitive(unsigned long window)
    {
        return SetButtonTextLuma(window) <= kSensitiveTextMaxLuma;
    }

    bool SetButtonInsensitive(unsigned long window)
    {
        return SetButtonTextLuma(window) >= kInsensitiveTextMinLuma;
    }

    std::optional<int> ExitStatus() { return program_->Wait(20000ms); }
    std::string stderr_path() const { return shots_ / "stderr"; }

    harness::PrivateCupsd cupsd_;
    harness::XServer x_;
    harness::TempDir shots_;
    std::unique_ptr<harness::Process> program_;
    int shot_ = 0;
};

// Supported, case-different, unsupported and a model twice: the way a user
// works it, Down selects the first row, and Tab, Tab, space presses Exit.
TEST_F(RealProgram, KeyboardSelectsARowEnablesTheButtonAndExits)
{
    AddQueues({{"Alpha", "Brelko M210"},
               {"Beta-lower", "brelko m220"},
               {"Delta", "Other Laser 9"},
               {"Gamma", "Brelko M240C/M248C"},
               {"Gamma-2", "Brelko M240C/M248C"}});
    Start(Env());
    const unsigned long window = MainWindow();
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(harness::WaitFor([&] { return SetButtonInsensitive(window); }, 10000ms))
        << "the settings button is sensitive before any row is selected";

    ASSERT_TRUE(x_.Key("Down"));
    EXPECT_TRUE(harness::WaitFor([&] { return SetButtonSensitive(window); }, 10000ms))
        << "selecting a row did not make the settings button sensitive";

    ASSERT_TRUE(x_.Key("Tab"));
    ASSERT_TRUE(x_.Key("Tab"));
    ASSERT_TRUE(x_.Key("space"));
    EXPECT_EQ(ExitStatus(), 0);
    EXPECT_EQ(harness::ReadFile(stderr_path()), "");
}

// Without a supported printer the button stays off; Exit still ends it.
TEST_F(RealProgram, EmptyListKeepsTheButtonInsensitiveAndExitStillWorks)
{
    AddQueues({{"Delta", "Other Laser 9"}, {"Lower", "BRELKO M210"}});
    Start(Env());
    const unsigned long window = MainWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(x_.Key("Down"));
    EXPECT_TRUE(SetButtonInsensitive(window));
    ASSERT_TRUE(x_.Key("Tab"));  // the insensitive button is skipped
    ASSERT_TRUE(x_.Key("space"));
    EXPECT_EQ(ExitStatus(), 0);
}

TEST_F(RealProgram, CloseRequestEndsWithStatusZero)
{
    AddQueues({{"Alpha", "Brelko M210"}});
    Start(Env());
    const unsigned long window = MainWindow();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(x_.CloseWindow(window));
    EXPECT_EQ(ExitStatus(), 0);
}

TEST_F(RealProgram, EscapeClosesLikeTheWindowManager)
{
    AddQueues({{"Alpha", "Brelko M210"}});
    Start(Env());
    ASSERT_NE(MainWindow(), 0u);
    ASSERT_TRUE(x_.Key("Escape"));
    EXPECT_EQ(ExitStatus(), 0);
}

// libcups hands a local queue's PPD over as a link to the server's own file
// when it can read that file; a server folder given relative to the working
// folder makes the link point nowhere, so the program cannot read the PPD.
TEST_F(RealProgram, UnreadablePpdEndsWith255AndOneLineWithoutAWindow)
{
    AddQueues({{"Alpha", "Brelko M210"}, {"Broken", "Brelko M220"}});
    harness::TempDir work;
    ASSERT_EQ(harness::Run({"mkdir", "-p", work / "serverroot/ppd"}, 10000ms), 0);
    harness::WriteFile(work / "serverroot/ppd/Broken.ppd", MakePpd("Brelko M220"));
    harness::EnvChanges env = Env();
    env["CUPS_SERVERROOT"] = "serverroot";
    Start(env, {"sh", "-c", "cd \"$1\" && exec \"$2\"", "sh", work.path(),
                harness::BuildPath("src/quellon")});

    bool window_seen = false;
    const bool ended = harness::WaitFor(
        [&] {
            window_seen = window_seen || x_.HasVisibleWindow("Quellon");
            return !program_->running();
        },
        30000ms);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ExitStatus(), 255);
    EXPECT_FALSE(window_seen || x_.HasVisibleWindow("Quellon"));
    const std::string err = harness::ReadFile(stderr_path());
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("quellon: ", 0), 0u) << err;
    EXPECT_NE(err.find("\"Broken\""), std::string::npos) << err;
}

struct NoDisplayCase {
    std::optional<std::string> display;
    std::string line;
};

void PrintTo(const NoDisplayCase& c, std::ostream* os)
{
    *os << "DISPLAY=" << c.display.value_or("(unset)");
}

class RealProgramWithoutDisplay : public testing::TestWithParam<NoDisplayCase> {};

TEST_P(RealProgramWithoutDisplay, EndsWith255AndSaysSo)
{
    harness::TempDir home;
    std::string output;
    const int status = harness::Run({harness::BuildPath("src/quellon")}, 30000ms, &output,
                                    {{"DISPLAY", GetParam().display},
                                     {"HOME", home.path()},
                                     {"LANG", "C"},
                                     {"LC_ALL", std::nullopt},
                                     {"LSAN_OPTIONS", QuietLeakCheck()}});
    EXPECT_EQ(status, 255);
    EXPECT_EQ(output, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(Displays, RealProgramWithoutDisplay,
                         testing::Values(NoDisplayCase{std::nullopt, "quellon: cannot open display\n"},
                                         NoDisplayCase{":9999", "quellon: cannot open display :9999\n"}));

}  // namespace
