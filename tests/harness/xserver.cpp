#include "xserver.h"

#include <stdexcept>

#include <unistd.h>

namespace harness {

namespace {

const char* const kImport = "/usr/bin/import";

bool Executable(const std::string& path)
{
    return access(path.c_str(), X_OK) == 0;
}

// Children started here die with the test process even when it crashes.
std::vector<std::string> DieWithParent(std::vector<std::string> argv)
{
    if (Executable("/usr/bin/setpriv"))
        argv.insert(argv.begin(), {"/usr/bin/setpriv", "--pdeathsig", "KILL"});
    return argv;
}

std::string FirstLine(const std::string& text)
{
    return text.substr(0, text.find('\n'));
}

}  // namespace

XServer::XServer(bool window_manager, Millis deadline) : dir_(std::make_unique<TempDir>())
{
    const std::string fd_file = *dir_ / "displayfd";
    // -displayfd 1: Xvfb picks a free display and writes its number to
    // standard output, which goes to fd_file.
    xvfb_ =
        std::make_unique<Process>(DieWithParent({"Xvfb", "-displayfd", "1", "-noreset", "-nolisten",
                                                 "tcp", "-screen", "0", "1024x768x24"}),
                                  EnvChanges{}, fd_file, *dir_ / "xvfb.log");
    const bool up = WaitFor(
        [&] {
            const std::string text = ReadFile(fd_file);
            return text.find('\n') != std::string::npos || !xvfb_->running();
        },
        deadline);
    const std::string number = FirstLine(ReadFile(fd_file));
    if (!up || number.empty() || !xvfb_->running())
        throw std::runtime_error("Xvfb did not start: " + ReadFile(*dir_ / "xvfb.log"));
    display_ = ":" + number;

    if (!window_manager)
        return;
    EnvChanges wm_env = env();
    wm_env["HOME"] = dir_->path();
    wm_env["XDG_CONFIG_HOME"] = *dir_ / "config";
    wm_env["XDG_CACHE_HOME"] = *dir_ / "cache";
    wm_ = std::make_unique<Process>(DieWithParent({"openbox", "--sm-disable"}), wm_env, "",
                                    *dir_ / "openbox.log");
    // The manager announces itself on the root window once it manages.
    const bool managing = WaitFor(
        [&] {
            std::string out;
            Run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, 5000ms, &out, env());
            return out.find("window id #") != std::string::npos || !wm_->running();
        },
        deadline, 20ms);
    if (!managing || !wm_->running())
        throw std::runtime_error("openbox did not start: " + ReadFile(*dir_ / "openbox.log"));
}

XServer::~XServer()
{
    wm_.reset();
    xvfb_.reset();
}

EnvChanges XServer::env() const
{
    return {{"DISPLAY", display_}, {"XAUTHORITY", std::nullopt}};
}

int XServer::Xdotool(const std::vector<std::string>& args, std::string* out, Millis timeout) const
{
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv, timeout, out, env());
}

std::optional<unsigned long> XServer::WaitWindow(const std::string& title, Millis timeout) const
{
    std::string out;
    // --sync waits for the window; Run's deadline bounds the wait.
    if (Xdotool({"search", "--sync", "--onlyvisible", "--name", "^" + title + "$"}, &out,
                timeout) != 0)
        return std::nullopt;
    try {
        return std::stoul(FirstLine(out));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool XServer::IsViewable(unsigned long id) const
{
    std::string out;
    if (Run({"xwininfo", "-id", std::to_string(id)}, 10000ms, &out, env()) != 0)
        return false;
    return out.find("Map State: IsViewable") != std::string::npos;
}

bool XServer::WaitHidden(unsigned long id, Millis timeout) const
{
    return WaitFor([&] { return !IsViewable(id); }, timeout, 20ms);
}

bool XServer::HasVisibleWindow(const std::string& title) const
{
    std::string out;
    return Xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"}, &out, 10000ms) == 0 &&
           !out.empty();
}

bool XServer::Focus(unsigned long id) const
{
    const std::string how = wm_ ? "windowactivate" : "windowfocus";
    return Xdotool({how, "--sync", std::to_string(id)}, nullptr, 10000ms) == 0;
}

bool XServer::Key(const std::string& keys) const
{
    return Xdotool({"key", "--delay", "20", keys}) == 0;
}

bool XServer::Click(unsigned long id, int x, int y) const
{
    return Xdotool({"mousemove", "--sync", "--window", std::to_string(id), std::to_string(x),
                    std::to_string(y), "click", "1"}) == 0;
}

bool XServer::CloseWindow(unsigned long id) const
{
    std::vector<std::string> argv{BuildPath("tests/quellon-xclose"), std::to_string(id)};
    if (wm_)
        argv.push_back("--via-manager");
    return Run(argv, 10000ms, nullptr, env()) == 0;
}

bool XServer::Screenshot(unsigned long id, const std::string& path) const
{
    return Run({kImport, "-window", std::to_string(id), path}, 30000ms, nullptr, env()) == 0;
}

}  // namespace harness
