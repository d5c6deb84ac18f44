#include "tcp_peer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace harness {
namespace {

// A request frame larger than this is garbage; the peer drops it.
constexpr uint32_t kMaxRequest = 1 << 16;

}  // namespace

TcpPeer::TcpPeer(int backlog, Loopback loopback)
{
    sockaddr_in6 address{};  // the larger of the two; an IPv4 one fits
    socklen_t length = sizeof address;
    if (loopback == Loopback::kIPv6) {
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *v4;
    }
    listen_fd_ =
        socket(loopback == Loopback::kIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listen_fd_, backlog) != 0 ||
        getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe2(stop_pipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("test peer: ") + std::strerror(errno));
    }
    // sin_port and sin6_port lie at the same place.
    port_ = ntohs(address.sin6_port);
    thread_ = std::thread(&TcpPeer::Run, this);
}

TcpPeer::~TcpPeer()
{
    const char stop = 1;
    (void)!write(stop_pipe_[1], &stop, 1);
    thread_.join();
    close(listen_fd_);
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
}

void TcpPeer::Push(Step step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    steps_.push_back(std::move(step));
}

std::vector<std::string> TcpPeer::Requests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int TcpPeer::Accepted()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

bool TcpPeer::WaitForRequests(size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

// Waits `span`, or less when the peer is being stopped; false then.
bool TcpPeer::Pause(std::chrono::milliseconds span)
{
    pollfd stop{stop_pipe_[0], POLLIN, 0};
    return poll(&stop, 1, static_cast<int>(span.count())) == 0;
}

// Accepts connections and serves each on a thread of its own, so that one
// held connection does not keep others waiting.
void TcpPeer::Run()
{
    std::vector<std::thread> servers;
    for (;;) {
        pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents == 0) {
            continue;
        }
        const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++accepted_;
        }
        servers.emplace_back([this, fd] {
            if (!Serve(fd)) {
                // Held open, unserved, until the peer stops.
                pollfd stop{stop_pipe_[0], POLLIN, 0};
                poll(&stop, 1, -1);
            }
            close(fd);
        });
    }
    for (std::thread& server : servers) {
        server.join();
    }
}

bool TcpPeer::ReadExactly(int fd, char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {fd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (fds[0].revents != 0) {
            return false;
        }
        const ssize_t n = recv(fd, data + done, size - done, 0);
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Serves one connection; false when it is to be kept open unserved.
bool TcpPeer::Serve(int fd)
{
    for (;;) {
        std::string request(kHeaderSize, '\0');
        if (!ReadExactly(fd, request.data(), kHeaderSize)) {
            return true;
        }
        const size_t size = FrameSize(request);
        if (size > kHeaderSize + kMaxRequest) {
            return true;
        }
        request.resize(size);
        if (!ReadExactly(fd, request.data() + kHeaderSize, size - kHeaderSize)) {
            return true;
        }
        Step step;
        bool have_step = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
            if (!steps_.empty()) {
                step = steps_.front();
                steps_.pop_front();
                have_step = true;
            }
        }
        changed_.notify_all();
        if (!have_step) {
            return true;
        }
        if (!Play(fd, step)) {
            return true;
        }
        switch (step.after) {
        case After::kKeepOpen:
            break;
        case After::kClose:
            return true;
        case After::kReset: {
            const linger abort{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            return true;
        }
        case After::kHang:
            return false;
        }
    }
}

// Sends the step's reply; false when the peer is stopped or the client left.
bool TcpPeer::Play(int fd, const Step& step)
{
    if (step.delay.count() > 0 && !Pause(step.delay)) {
        return false;
    }
    const size_t size = step.reply.size();
    for (size_t sent = 0; sent < size;) {
        if (sent > 0 && step.byte_gap.count() > 0 && !Pause(step.byte_gap)) {
            return false;
        }
        const size_t chunk = step.byte_gap.count() > 0           ? 1
                             : sent == 0 && step.first_write > 0 ? std::min(step.first_write, size)
                                                                 : size - sent;
        if (send(fd, step.reply.data() + sent, chunk, MSG_NOSIGNAL) !=
            static_cast<ssize_t>(chunk)) {
            return false;
        }
        sent += chunk;
    }
    return true;
}

NeverAccepts::NeverAccepts()
    : listener_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)),
      filler_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener_, 0) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        connect(filler_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return;
    port_ = ntohs(addr.sin_port);
}

NeverAccepts::~NeverAccepts()
{
    close(filler_);
    close(listener_);
}

}  // namespace harness
