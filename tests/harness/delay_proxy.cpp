// quellon-delay-proxy --to TARGET --delay MS [--drop TEXT]
//
// Puts a server "across the network" on the loopback: listens on a free
// port of 127.0.0.1, writes that port and a line break to standard output,
// and forwards every connection to TARGET (a Unix socket path, or
// IPV4:PORT), holding each chunk MS milliseconds in each direction. The
// delay is latency, not a limit on throughput: chunks read meanwhile travel
// behind it, each held from the moment it was read. With --drop, a
// connection whose client sends TEXT (say, the request line for one file)
// is cut off there: a fetch that fails midway. Runs until killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kChunkSize = 65536;

struct Target {
    std::string path;  // a Unix socket, when not empty
    sockaddr_in inet{};
};

// One direction of a connection: a reader takes chunks off `from` as they
// come, a writer hands each to `to` once it has been held long enough.
class Direction {
public:
    Direction(int from, int to, Clock::duration delay, const std::string& drop)
        : from_(from), to_(to), delay_(delay), drop_(drop)
    {
    }

    void Read()
    {
        char buffer[kChunkSize];
        for (;;) {
            const ssize_t got = read(from_, buffer, sizeof buffer);
            std::string chunk(buffer, got > 0 ? static_cast<size_t>(got) : 0);
            if (!drop_.empty() && chunk.find(drop_) != std::string::npos) {
                // Both ends learn at once; the other direction's reader too.
                shutdown(from_, SHUT_RDWR);
                shutdown(to_, SHUT_RDWR);
                chunk.clear();
            }
            // An empty chunk carries the end of the stream.
            const bool end = chunk.empty();
            Push(std::move(chunk));
            if (end)
                return;
        }
    }

    void Write()
    {
        for (;;) {
            const Chunk chunk = Pop();
            std::this_thread::sleep_until(chunk.due);
            if (chunk.bytes.empty() || !WriteAll(chunk.bytes)) {
                shutdown(to_, SHUT_WR);
                // Whoever still sends this way learns that nobody listens.
                shutdown(from_, SHUT_RD);
                return;
            }
        }
    }

private:
    struct Chunk {
        Clock::time_point due;
        std::string bytes;
    };

    void Push(std::string bytes)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        chunks_.push_back({Clock::now() + delay_, std::move(bytes)});
        ready_.notify_one();
    }

    Chunk Pop()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !chunks_.empty(); });
        Chunk chunk = std::move(chunks_.front());
        chunks_.pop_front();
        return chunk;
    }

    bool WriteAll(const std::string& bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t sent = send(to_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            done += static_cast<size_t>(sent);
        }
        return true;
    }

    const int from_;
    const int to_;
    const Clock::duration delay_;
    const std::string drop_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Chunk> chunks_;
};

// Both directions of one accepted connection; the sockets close when the
// last of its four threads is done.
class Connection {
public:
    Connection(int client, int server, Clock::duration delay, const std::string& drop)
        : client_(client),
          server_(server),
          up_(client, server, delay, drop),
          down_(server, client, delay, std::string())
    {
    }
    ~Connection()
    {
        close(client_);
        close(server_);
    }

    static void Start(int client, int server, Clock::duration delay, const std::string& drop)
    {
        auto connection = std::make_shared<Connection>(client, server, delay, drop);
        for (Direction* direction : {&connection->up_, &connection->down_}) {
            std::thread([connection, direction] { direction->Read(); }).detach();
            std::thread([connection, direction] { direction->Write(); }).detach();
        }
    }

private:
    const int client_;
    const int server_;
    Direction up_;
    Direction down_;
};

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "quellon-delay-proxy: %s: %s\n", why.c_str(), std::strerror(errno));
    std::exit(1);
}

[[noreturn]] void Usage()
{
    std::fputs("usage: quellon-delay-proxy --to SOCKET-PATH|IPV4:PORT --delay MS [--drop TEXT]\n",
               stderr);
    std::exit(2);
}

Target ParseTarget(const std::string& text)
{
    Target target;
    if (!text.empty() && text[0] == '/') {
        if (text.size() >= sizeof(sockaddr_un::sun_path))
            Usage();
        target.path = text;
        return target;
    }
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        Usage();
    target.inet.sin_family = AF_INET;
    target.inet.sin_port = htons(static_cast<uint16_t>(std::atoi(text.c_str() + colon + 1)));
    if (inet_pton(AF_INET, text.substr(0, colon).c_str(), &target.inet.sin_addr) != 1)
        Usage();
    return target;
}

// A new connection to the target; -1 when it cannot be made.
int ConnectTarget(const Target& target)
{
    if (!target.path.empty()) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, target.path.c_str());
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return fd;
        close(fd);
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&target.inet), sizeof target.inet) == 0)
        return fd;
    close(fd);
    return -1;
}

int Listen()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(fd, 128) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Fail("cannot listen on 127.0.0.1");
    std::printf("%u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    return fd;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string to, drop;
    long delay_ms = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--to") == 0)
            to = argv[i + 1];
        else if (std::strcmp(argv[i], "--delay") == 0)
            delay_ms = std::strtol(argv[i + 1], nullptr, 10);
        else if (std::strcmp(argv[i], "--drop") == 0)
            drop = argv[i + 1];
        else
            Usage();
    }
    if (argc % 2 == 0 || to.empty() || delay_ms < 0)
        Usage();
    const Target target = ParseTarget(to);
    const auto delay = std::chrono::milliseconds(delay_ms);

    const int listener = Listen();
    for (;;) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const int server = ConnectTarget(target);
        if (server < 0) {
            close(client);
            continue;
        }
        Connection::Start(client, server, delay, drop);
    }
}
