#include "desktop.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace e2e {

namespace {

// The value of `key=` in a simulator log line, without quotes.
std::string Field(const std::string& line, const std::string& key)
{
    const std::string token = " " + key + "=";
    const size_t at = line.find(token);
    if (at == std::string::npos)
        return "";
    std::string value = line.substr(at + token.size());
    value = value.substr(0, value.find(' '));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

long Number(const std::string& text)
{
    return text.empty() || text == "-" ? -1 : std::strtol(text.c_str(), nullptr, 10);
}

// A 32-bit wire value, least significant byte first, as hex.
std::string HexLong(uint32_t value)
{
    std::string bytes;
    for (int i = 0; i < 4; ++i, value >>= 8)
        bytes += static_cast<char>(value & 0xFF);
    return harness::Hex(bytes);
}


}  // namespace

harness::EnvChanges EnglishEnv()
{
    return {{"LANG", "C"},
            {"LC_ALL", std::nullopt},
            {"LC_CTYPE", std::nullopt},
            {"LC_MESSAGES", std::nullopt},
            {"LANGUAGE", std::nullopt}};
}

Desktop::Desktop(const std::vector<Queue>& queues, harness::ZeldSim::Options sim)
{
    for (const Queue& q : queues)
        EXPECT_TRUE(cupsd_.AddQueue(q.name, harness::MakePpd(q.model, q.driver)));
    sim_ = std::make_unique<harness::ZeldSim>(std::move(sim));
}

Desktop::~Desktop()
{
    app_.reset();
}

bool Desktop::Start(const harness::EnvChanges& extra, const std::string& main_title,
                    const std::vector<std::string>& wrapper)
{
    harness::EnvChanges env = EnglishEnv();
    for (const auto& [key, value] : x_.env())
        env[key] = value;
    for (const auto& [key, value] : cupsd_.env())
        env[key] = value;
    for (const auto& [key, value] : sim_->Env())
        env[key] = value;
    for (const auto& [key, value] : extra)
        env[key] = value;
    std::vector<std::string> argv = wrapper;
    argv.push_back(harness::BuildPath("src/quellon"));
    app_ = std::make_unique<harness::Process>(argv, env, out_ / "stdout", out_ / "stderr");
    const auto id = x_.WaitWindow(main_title, 30000ms);
    if (!id)
        return false;
    main_ = *id;
    return true;
}

std::string Desktop::Stderr() const
{
    return harness::ReadFile(out_ / "stderr");
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
    return app_->Wait(20000ms);
}

std::vector<Request> Desktop::Requests() const
{
    std::vector<Request> out;
    for (const std::string& line : sim_->Requests()) {
        Request r;
        r.conn = static_cast<int>(Number(Field(line, "conn")));
        r.item = Number(Field(line, "item"));
        r.value = Number(Field(line, "value"));
        r.printer = Field(line, "printer");
        r.raw = Field(line, "raw");
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
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >>
            inode;
        if (remote.size() > 5 && remote.compare(remote.size() - 5, 5, wanted) == 0 && state == "01" &&
            inodes.count(inode))
            ++count;
    }
    return count;
}

ClosedPort::ClosedPort() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port_ = ntohs(addr.sin_port);
}

ClosedPort::~ClosedPort()
{
    if (fd_ >= 0)
        close(fd_);
}

std::string QueryFrameHex(const std::string& printer, long item)
{
    const std::string locale = "en_GB.UTF-8";
    const std::string body = HexLong(static_cast<uint32_t>(printer.size())) + harness::Hex(printer) +
                             HexLong(static_cast<uint32_t>(locale.size())) + harness::Hex(locale) +
                             HexLong(4) + HexLong(static_cast<uint32_t>(item));
    return harness::Hex("zel0") + HexLong(19) + HexLong(static_cast<uint32_t>(body.size() / 2)) + body;
}

}  // namespace e2e
