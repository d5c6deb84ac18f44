#include "desktop.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace harness {

namespace {

// The value of `key=` in a simulator log line, without quotes ("" when the
// line has none).
std::string Text(const std::string& line, const std::string& key)
{
    std::string value = ZeldSim::Field(line, key).value_or("");
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

// The same as a number; -1 when the line gives none ("-" included).
long Number(const std::string& line, const std::string& key)
{
    const std::string text = Text(line, key);
    return text.empty() || text == "-" ? -1 : std::strtol(text.c_str(), nullptr, 10);
}

}  // namespace

Desktop::Desktop(const std::vector<Queue>& queues, ZeldSim::Options sim)
{
    for (const Queue& q : queues)
        EXPECT_TRUE(cupsd_.AddQueue(q.name, MakePpd(q.model, q.driver)));
    sim_ = std::make_unique<ZeldSim>(std::move(sim));
}

Desktop::~Desktop()
{
    app_.reset();
}

void Desktop::Launch(const EnvChanges& extra, const std::vector<std::string>& wrapper)
{
    const EnvChanges env =
        Combine({EnglishEnv(), QuietLeakCheck(), x_.env(), cupsd_.env(), sim_->Env(), extra});
    std::vector<std::string> argv = wrapper;
    argv.push_back(BuildPath("src/quellon"));
    app_ = std::make_unique<Process>(argv, env, out_ / "stdout", out_ / "stderr");
}

bool Desktop::Start(const EnvChanges& env, const std::string& main_title,
                    const std::vector<std::string>& wrapper)
{
    Launch(env, wrapper);
    const auto id = x_.WaitWindow(main_title, 30000ms);
    if (!id)
        return false;
    main_ = *id;
    return true;
}

std::string Desktop::Stderr() const
{
    return ReadFile(out_ / "stderr");
}

bool Desktop::KeysTo(unsigned long id, const std::string& keys)
{
    std::vector<std::string> args{"key", "--delay", "40"};
    std::istringstream words(keys);
    for (std::string key; words >> key;)
        args.push_back(key);
    return x_.Focus(id) && x_.Xdotool(args) == 0;
}

bool Desktop::SelectAndOpen(int row)
{
    std::string keys;
    for (int i = 0; i <= row; ++i)
        keys += "Down ";
    return KeysTo(main_, keys + "Tab space");
}

bool Desktop::OpenAgain()
{
    return KeysTo(main_, "space");
}

std::optional<unsigned long> Desktop::WaitSettings(Millis timeout)
{
    return x_.WaitWindow("Auto Shutdown Settings", timeout);
}

std::optional<unsigned long> Desktop::WaitWarning(Millis timeout)
{
    return x_.WaitWindow("Warning", timeout);
}

std::optional<int> Desktop::CloseMain()
{
    if (!app_)
        return std::nullopt;
    x_.CloseWindow(main_);
    return WaitExit();
}

std::optional<int> Desktop::WaitExit(Millis timeout)
{
    return app_ ? app_->Wait(timeout) : std::nullopt;
}

std::vector<Request> Desktop::Requests() const
{
    std::vector<Request> out;
    for (const std::string& line : sim_->Requests()) {
        Request r;
        r.conn = static_cast<int>(Number(line, "conn"));
        r.item = Number(line, "item");
        r.value = Number(line, "value");
        r.printer = Text(line, "printer");
        r.raw = Text(line, "raw");
        out.push_back(r);
    }
    return out;
}

std::vector<Request> Desktop::RequestsFor(long item) const
{
    std::vector<Request> out;
    for (const Request& r : Requests())
        if (r.item == item)
            out.push_back(r);
    return out;
}

int Desktop::ConnectionsTo(uint16_t port)
{
    if (!app_)
        return 0;
    // The program's sockets, by inode, from its descriptor table.
    std::set<std::string> inodes;
    const std::string fds = "/proc/" + std::to_string(app_->pid()) + "/fd";
    if (DIR* dir = opendir(fds.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            char target[64] = {};
            const std::string link = fds + "/" + entry->d_name;
            if (readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                std::strncmp(target, "socket:[", 8) == 0)
                inodes.insert(std::string(target + 8, std::strlen(target) - 9));
        }
        closedir(dir);
    }
    // /proc/net/tcp: "sl local rem st tx:rx tr:when retrnsmt uid timeout inode".
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line);
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    int count = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        if (remote.size() > 5 && remote.compare(remote.size() - 5, 5, wanted) == 0 &&
            state == "01" && inodes.count(inode))
            ++count;
    }
    return count;
}

}  // namespace harness
