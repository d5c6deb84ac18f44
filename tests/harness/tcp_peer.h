// A scripted daemon on loopback for tests that need a byte-exact or a
// misbehaving peer: it reads whole request frames, records them, and plays
// one scripted step per request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "process.h"
#include "wire.h"

namespace harness {

class TcpPeer {
public:
    enum class After {
        kKeepOpen,  // wait for the next request on the same connection
        kClose,     // close the connection (orderly)
        kReset,     // close with a reset
        kHang,      // keep the connection open and never read or answer again
    };
    struct Step {
        std::string reply;  // bytes sent after the request
        After after = After::kKeepOpen;
        std::chrono::milliseconds delay{0};     // before the first byte
        std::chrono::milliseconds byte_gap{0};  // between bytes (0: all at once)
        // Without a byte gap: the bytes of a first write, the rest in a
        // second one, as a daemon that writes header and payload apart
        // does (Nagle's algorithm stays on). 0: one write.
        size_t first_write = 0;
    };

    enum class Loopback { kIPv4, kIPv6 };

    // Listens on 127.0.0.1 (or ::1) at a free port; `backlog` as for listen(2).
    explicit TcpPeer(int backlog = 8, Loopback loopback = Loopback::kIPv4);
    ~TcpPeer();
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    int port() const { return port_; }
    // Steps are played in order, one per received request, across
    // connections (each served on a thread of its own). With no step left the peer closes the
    // connection.
    void Push(Step step);
    // Complete request frames received so far, in order.
    std::vector<std::string> Requests();
    int Accepted();
    // Waits until `count` requests were received; false on time-out.
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout);

private:
    void Run();
    bool Serve(int fd);  // false: keep the connection open, unserved
    bool Play(int fd, const Step& step);
    bool ReadExactly(int fd, char* data, size_t size);
    bool Pause(std::chrono::milliseconds span);

    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Step> steps_;
    std::vector<std::string> requests_;
    int accepted_ = 0;
    std::thread thread_;
};

// A loopback port that takes no connection ever: it listens, but its
// queue of one is held full, so every further attempt waits unanswered,
// as a host that drops them does.
class NeverAccepts {
public:
    NeverAccepts();
    ~NeverAccepts();
    NeverAccepts(const NeverAccepts&) = delete;
    NeverAccepts& operator=(const NeverAccepts&) = delete;
    uint16_t port() const { return port_; }

private:
    int listener_;
    int filler_;
    uint16_t port_ = 0;
};

}  // namespace harness
