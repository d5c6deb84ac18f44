// What the connection module costs over plain sockets, on loopback:
//   exchange: stage, vxsktWrite, vxsktRead, read the payload; next to the
//             same bytes with plain write/read (header and payload read
//             apart), and to the raw round trip: one write, one read;
//             also on a connection with a deadline, as quellonctl opens
//             its connections;
//   open:     vxsktNew (and vxsktDestroy); next to resolving "localhost",
//             a plain connect (and close).
// Each against the daemon simulator and against a trivial peer in this
// program that answers at once. The two sides of each pair run
// interleaved, several rounds each; the program prints each side's median
// (over the rounds, of each round's median iteration) and their ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vxsktmodule.h"
#include "wire.h"
#include "zeld_sim.h"

namespace {

constexpr int kRounds = 9;
constexpr double kMinSecondsPerRound = 0.2;
constexpr double kGoal = 1.2;
constexpr int kBacklog = 1024;

// The firmware reply: header and two payload bytes.
const std::string kReply = harness::Response(0, "\x01\x05");
// The firmware query for lp1, as the module frames it.
const std::string kQuery = harness::QueryFrame("lp1", harness::kFirmwareItem);

// A daemon that answers every whole request frame at once, all connections
// on one thread.
class Peer {
public:
    Peer()
    {
        listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listen_fd_, kBacklog) != 0 ||
            getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            pipe2(stop_, O_CLOEXEC) != 0) {
            std::perror("bench peer");
            std::exit(1);
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread(&Peer::Run, this);
    }
    ~Peer()
    {
        (void)!write(stop_[1], "x", 1);
        thread_.join();
        close(listen_fd_);
        close(stop_[0]);
        close(stop_[1]);
    }
    int port() const { return port_; }

private:
    struct Client {
        int fd;
        std::string pending;
    };

    void Run()
    {
        std::vector<Client> clients;
        std::vector<pollfd> fds;
        for (;;) {
            fds.assign({{stop_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}});
            for (const Client& c : clients) {
                fds.push_back({c.fd, POLLIN, 0});
            }
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
                break;
            }
            if (fds[0].revents != 0) {
                break;
            }
            for (size_t i = clients.size(); i-- > 0;) {
                if (fds[i + 2].revents != 0 && !Serve(clients[i])) {
                    close(clients[i].fd);
                    clients.erase(clients.begin() + static_cast<long>(i));
                }
            }
            // Take every waiting connection, so that a fast connecting
            // client never finds the queue full.
            for (int fd; fds[1].revents != 0 &&
                         (fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                clients.push_back({fd, {}});
            }
        }
        for (const Client& c : clients) {
            close(c.fd);
        }
    }

    // Reads what arrived and answers each complete frame; false at the end.
    static bool Serve(Client& client)
    {
        char buffer[4096];
        const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return false;
        }
        client.pending.append(buffer, static_cast<size_t>(n));
        for (size_t frame; (frame = harness::FrameSize(client.pending)) != 0;) {
            if (client.pending.size() < frame) {
                break;
            }
            client.pending.erase(0, frame);
            if (send(client.fd, kReply.data(), kReply.size(), MSG_NOSIGNAL) < 0) {
                return false;
            }
        }
        return true;
    }

    int listen_fd_ = -1;
    int stop_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
};

// The daemon simulator serving lp1, logging nowhere: its log would cost
// both sides of a pair alike, and only blur the ratio.
harness::ZeldSim::Options SimulatorOptions()
{
    harness::ZeldSim::Options options;
    options.printers = {{"lp1", 1, 5, 4}};
    options.extra_args = {"--log", "/dev/null"};
    return options;
}

// A deadline far enough off that no exchange comes near it.
constexpr int64_t kFarDeadlineMs = 3600 * 1000;

VxsktModule* OpenModule(int port, bool with_deadline = false)
{
    std::string printer = "lp1";
    std::string locale = harness::kEnglishLocale;
    return vxsktNewUntil(printer.data(), locale.data(), nullptr, port,
                         with_deadline ? vxsktNowMs() + kFarDeadlineMs : 0);
}

int PlainConnect(int port)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo("localhost", nullptr, &hints, &found) != 0) {
        return -1;
    }
    sockaddr_in to = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    to.sin_port = htons(static_cast<uint16_t>(port));
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Runs `once` for every iteration and reports the median time of one
// iteration, so that a rare stall (a dropped SYN costs a second) does not
// stand for the typical cost as it would in a mean.
template <typename Once>
void Timed(benchmark::State& state, Once once)
{
    std::vector<double> samples;
    samples.reserve(1 << 16);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!once()) {
            state.SkipWithError("the exchange or connect failed");
            break;
        }
        samples.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    state.counters["median_us"] = Median(samples);
}

void ExchangeOn(benchmark::State& state, int port, bool with_deadline)
{
    VxsktModule* vxskt = OpenModule(port, with_deadline);
    if (vxskt == nullptr) {
        state.SkipWithError("vxsktNew failed");
        return;
    }
    Timed(state, [vxskt] {
        vxsktSetReqLong(vxskt, 4);
        vxsktSetReqLong(vxskt, harness::kFirmwareItem);
        if (vxsktWrite(vxskt, harness::kPrinterCommand) != 0 || vxsktRead(vxskt) != 2) {
            return false;
        }
        char major = 0, minor = 0;
        vxsktGetResData(vxskt, &major, VXSKT_RES_BYTE, 0);
        vxsktGetResData(vxskt, &minor, VXSKT_RES_BYTE, 0);
        benchmark::DoNotOptimize(major + minor);
        return true;
    });
    vxsktDestroy(vxskt);
}

void ExchangeModule(benchmark::State& state, int port)
{
    ExchangeOn(state, port, false);
}

void ExchangeModuleDeadline(benchmark::State& state, int port)
{
    ExchangeOn(state, port, true);
}

// The least a client can do: the request in one write, the whole reply
// in one read (more only when it comes in parts).
void ExchangeRaw(benchmark::State& state, int port)
{
    const int fd = PlainConnect(port);
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    char reply[64];
    Timed(state, [fd, &reply] {
        if (write(fd, kQuery.data(), kQuery.size()) != static_cast<ssize_t>(kQuery.size())) {
            return false;
        }
        for (size_t got = 0; got < kReply.size();) {
            const ssize_t n = read(fd, reply + got, sizeof reply - got);
            if (n <= 0) {
                return false;
            }
            got += static_cast<size_t>(n);
        }
        benchmark::DoNotOptimize(reply);
        return true;
    });
    close(fd);
}

void ExchangePlain(benchmark::State& state, int port)
{
    const int fd = PlainConnect(port);
    if (fd < 0) {
        state.SkipWithError("connect failed");
        return;
    }
    std::string reply;
    Timed(state, [fd, &reply] {
        const bool ok = harness::RoundTrip(fd, kQuery, &reply);
        benchmark::DoNotOptimize(reply.data());
        return ok;
    });
    close(fd);
}

void OpenModuleBench(benchmark::State& state, int port)
{
    Timed(state, [port] {
        VxsktModule* vxskt = OpenModule(port);
        if (vxskt == nullptr) {
            return false;
        }
        vxsktDestroy(vxskt);
        return true;
    });
}

void OpenPlain(benchmark::State& state, int port)
{
    Timed(state, [port] {
        const int fd = PlainConnect(port);
        if (fd < 0) {
            return false;
        }
        close(fd);
        return true;
    });
}

// Collects the median iteration time of every run, by name.
class Collector : public benchmark::ConsoleReporter {
public:
    Collector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (!run.error_occurred) {
                times[run.run_name.function_name].push_back(run.counters.at("median_us"));
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::vector<double>> times;
};

}  // namespace

int main(int argc, char** argv)
{
    unsetenv("ZELD_PORT");
    harness::ZeldSim simulator(SimulatorOptions());
    Peer peer;
    using Bench = void (*)(benchmark::State&, int);
    struct Registered {
        std::string name;
        Bench bench;
        int port;
    };
    const Registered benches[] = {
        {"exchange@zeld-sim/vxskt", ExchangeModule, simulator.port()},
        {"exchange@zeld-sim/plain", ExchangePlain, simulator.port()},
        {"exchange@peer/vxskt", ExchangeModule, peer.port()},
        {"exchange@peer/vxskt-deadline", ExchangeModuleDeadline, peer.port()},
        {"exchange@peer/plain", ExchangePlain, peer.port()},
        {"exchange@peer/raw", ExchangeRaw, peer.port()},
        {"open@zeld-sim/vxskt", OpenModuleBench, simulator.port()},
        {"open@zeld-sim/plain", OpenPlain, simulator.port()},
        {"open@peer/vxskt", OpenModuleBench, peer.port()},
        {"open@peer/plain", OpenPlain, peer.port()},
    };
    for (int round = 0; round < kRounds; ++round) {
        for (const Registered& b : benches) {
            benchmark::RegisterBenchmark(b.name.c_str(), b.bench, b.port)
                ->MinTime(kMinSecondsPerRound)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    auto median = [&](const std::string& name) { return Median(collector.times[name]); };
    // The third row weighs the simulator against the trivial peer, not the
    // module against plain sockets: it has no goal.
    struct Row {
        std::string what, module, baseline;
        bool has_goal = true;
    };
    const Row rows[] = {
        {"exchange, both against zeld-sim", "exchange@zeld-sim/vxskt", "exchange@zeld-sim/plain"},
        {"exchange, both against the peer", "exchange@peer/vxskt", "exchange@peer/plain"},
        {"exchange vs raw, peer", "exchange@peer/vxskt", "exchange@peer/raw"},
        {"exchange, deadline, vs raw, peer", "exchange@peer/vxskt-deadline", "exchange@peer/raw"},
        {"exchange, zeld-sim vs plain peer", "exchange@zeld-sim/vxskt", "exchange@peer/plain",
         false},
        {"open, both against zeld-sim", "open@zeld-sim/vxskt", "open@zeld-sim/plain"},
        {"open, both against the peer", "open@peer/vxskt", "open@peer/plain"},
    };
    std::printf("\n%-34s %14s %14s %8s  (goal <= %.1f)\n", "", "vxskt median", "floor median",
                "ratio", kGoal);
    for (const Row& row : rows) {
        const double module = median(row.module);
        const double plain = median(row.baseline);
        if (module <= 0 || plain <= 0) {
            std::printf("%-34s not run\n", row.what.c_str());
            continue;
        }
        const char* verdict = !row.has_goal             ? "  (the simulator's own cost; no goal)"
                              : module / plain <= kGoal ? ""
                                                        : "  over the goal";
        std::printf("%-34s %11.2f us %11.2f us %8.3f%s\n", row.what.c_str(), module, plain,
                    module / plain, verdict);
    }
    return 0;
}
