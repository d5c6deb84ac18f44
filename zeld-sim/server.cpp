#include "server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <tuple>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "protocol.h"

namespace zsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxConnections = 256;
// A client may have at most one whole request of the largest accepted size
// and one read's worth beyond it waiting; past that it is not read from.
constexpr size_t kReadChunk = 4096;
constexpr size_t kMaxBuffered = kHeaderSize + kMaxTotalSize + kReadChunk;
// Answers waiting for a client that does not read them: past this, its
// requests are left unanswered in its input, which then fills and stops
// being read, so the client's own socket holds the backlog, not this process.
constexpr size_t kMaxQueuedAnswers = 16 * 1024;
// Bytes of a dropped client's input that go into the log line.
constexpr size_t kGarbageShown = 64;
// Out of descriptors, the listener is left alone until a client leaves, or
// this long at most (the limit may be the whole system's, not ours).
constexpr auto kAcceptRetry = std::chrono::milliseconds(500);

volatile sig_atomic_t g_stop_signal = 0;

void OnStopSignal(int signo)
{
    g_stop_signal = signo;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// One line per event, written with a single write() so that lines from a
// crashing simulator are never torn and a reader sees each line whole.
// A client that keeps asking must not fill the disk: a log file about to
// grow past the cap is moved to FILE.1 (replacing the one before) and begun
// afresh; standard error cannot be moved, so there the log just stops.
class Log {
public:
    Log(std::string path, uint64_t max) : path_(std::move(path)), max_(max) { Open(O_APPEND); }
    bool ok() const { return path_.empty() || file_.get() >= 0; }
    void Line(std::string line)
    {
        line += '\n';
        if (stopped_ || (capped_ && size_ > 0 && size_ + line.size() > max_ && !MakeRoom()))
            return;
        if (WriteAll(path_.empty() ? 2 : file_.get(), line))
            size_ += line.size();
    }

private:
    void Open(int mode)
    {
        if (path_.empty())
            return;
        file_.reset(open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_APPEND | mode, 0644));
        struct stat st {};
        const bool known = file_.get() >= 0 && fstat(file_.get(), &st) == 0;
        size_ = known ? static_cast<uint64_t>(st.st_size) : 0;
        // Only a file fills a disk and can be moved aside: renaming a
        // device (--log /dev/null) would put a file in its place for every
        // other program.
        capped_ = !known || S_ISREG(st.st_mode);
    }

    // False when the line is to be dropped.
    bool MakeRoom()
    {
        if (path_.empty()) {
            WriteAll(2, "log stopped limit=" + std::to_string(max_) + "\n");
            stopped_ = true;
            return false;
        }
        rename(path_.c_str(), (path_ + ".1").c_str());
        Open(O_TRUNC);
        return file_.get() >= 0;
    }

    std::string path_;
    uint64_t max_;
    uint64_t size_ = 0;
    bool capped_ = true;
    bool stopped_ = false;
    Fd file_;
};

std::string ReadWholeFile(const std::string& path, bool& found)
{
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The printers and what they remember.
class Printers {
public:
    Printers(const std::vector<SimPrinter>& printers, std::string state_path)
        : state_path_(std::move(state_path))
    {
        for (const auto& p : printers)
            by_name_[p.name] = p;
    }

    // Timers from the state file replace the configured ones; entries for
    // printers not held here are kept and written back.
    bool Load(std::string& error)
    {
        if (state_path_.empty())
            return true;
        bool found = false;
        const std::string text = ReadWholeFile(state_path_, found);
        if (!found)
            return true;
        TimerState state;
        if (!ParseState(text, state, error)) {
            error = state_path_ + ": " + error;
            return false;
        }
        for (const auto& [name, timer] : state) {
            auto it = by_name_.find(name);
            if (it == by_name_.end())
                others_[name] = timer;
            else
                it->second.timer = timer;
        }
        return true;
    }

    // The answer to a request, and a note for the log line. `fault` (may be
    // null) is the rule that spoils it: a refused write is not stored, and
    // a store rule changes what is.
    Reply Answer(const Request& r, const FaultRule* fault, std::string& note)
    {
        auto it = by_name_.find(r.printer);
        Reply reply;
        reply.status = it == by_name_.end() ? kStatusNoPrinter : kStatusReady;
        if (!r.framed)
            reply.code = kMalformed;
        else if (r.command != kCommandPrinterItem)
            reply.code = kUnknownCommand;
        else if (it == by_name_.end())
            reply.code = kUnknownPrinter;
        else
            reply.code = AnswerItem(r, it->second, fault, reply.payload, note);
        return reply;
    }

    int64_t DelayOf(const std::string& name) const
    {
        const auto it = by_name_.find(name);
        return it == by_name_.end() ? 0 : it->second.delay_ms;
    }

private:
    int16_t AnswerItem(const Request& r, SimPrinter& p, const FaultRule* fault,
                       std::string& payload, std::string& note)
    {
        if (!r.item)
            return kMalformed;
        switch (*r.item) {
        case kItemFirmware:
            if (r.value)
                return kMalformed;
            payload += static_cast<char>(p.major);
            payload += static_cast<char>(p.minor);
            return kOk;
        case kItemReadTimer:
            if (r.value)
                return kMalformed;
            PutU32(payload, p.timer);
            return kOk;
        case kItemWriteTimer:
            if (!r.value)
                return kMalformed;
            if (fault && fault->kind == FaultKind::Refuse)
                return kOk;
            return Store(p, KeptTimer(static_cast<uint16_t>(*r.value & 0xFFFF), fault), note);
        default:
            return kUnknownItem;
        }
    }

    int16_t Store(SimPrinter& p, uint16_t timer, std::string& note)
    {
        const uint16_t old = p.timer;
        p.timer = timer;
        std::string error;
        if (!state_path_.empty() && !SaveStateAtomically(state_path_, State(), error)) {
            p.timer = old;
            note = " store-error=" + Quoted(error);
            return kNotSaved;
        }
        note = " stored=" + std::to_string(timer);
        return kOk;
    }

    TimerState State() const
    {
        TimerState state = others_;
        for (const auto& [name, p] : by_name_)
            state[name] = p.timer;
        return state;
    }

    std::map<std::string, SimPrinter> by_name_;
    TimerState others_;
    std::string state_path_;
};

bool RuleMatches(const FaultRule& rule, const Request& r)
{
    if (rule.remaining == 0)
        return false;
    if (rule.printer != "*" && rule.printer != r.printer)
        return false;
    return !rule.item || (r.item && *r.item == *rule.item);
}

// Rules from the command line and the config file, and rules from the
// control file, which is looked at again before every request.
class Faults {
public:
    Faults(std::vector<FaultRule> startup, std::string control_path, Log& log)
        : startup_(std::move(startup)), control_path_(std::move(control_path)), log_(log)
    {
    }

    // The rule that spoils this request, if any: control file rules first.
    // A counted rule is used up by this call.
    std::optional<FaultRule> Take(const Request& r)
    {
        Refresh();
        for (auto* rules : {&runtime_, &startup_}) {
            for (auto& rule : *rules) {
                if (!RuleMatches(rule, r))
                    continue;
                if (rule.remaining > 0)
                    --rule.remaining;
                return rule;
            }
        }
        return std::nullopt;
    }

private:
    // File timestamps move in clock ticks, so a file rewritten within one
    // tick can look unchanged; a recently changed file is therefore read
    // every time, and the rules replaced only when its text differs.
    void Refresh()
    {
        if (control_path_.empty())
            return;
        struct stat st {};
        if (stat(control_path_.c_str(), &st) != 0) {
            if (!text_.empty() || !runtime_.empty())
                log_.Line("control rules=0 reason=\"no control file\"");
            text_.clear();
            runtime_.clear();
            stamp_.reset();
            return;
        }
        const Stamp stamp{st.st_ino,          st.st_size,        st.st_mtim.tv_sec,
                          st.st_mtim.tv_nsec, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
        if (stamp_ && *stamp_ == stamp && !Recent(st))
            return;
        stamp_ = stamp;
        bool found = false;
        const std::string text = ReadWholeFile(control_path_, found);
        if (text == text_)
            return;
        text_ = text;
        std::vector<FaultRule> rules;
        std::string error;
        if (!ParseControl(text, rules, error)) {
            log_.Line("control error=" + Quoted(error) +
                      " kept=" + std::to_string(runtime_.size()));
            return;
        }
        runtime_ = rules;
        log_.Line("control rules=" + std::to_string(runtime_.size()));
    }

    static bool Recent(const struct stat& st)
    {
        struct timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        return now.tv_sec - st.st_mtim.tv_sec < 2 && now.tv_sec - st.st_ctim.tv_sec < 2;
    }

    using Stamp = std::tuple<ino_t, off_t, time_t, long, time_t, long>;
    std::vector<FaultRule> startup_;
    std::vector<FaultRule> runtime_;
    std::string control_path_;
    std::string text_;
    std::optional<Stamp> stamp_;
    Log& log_;
};

struct Conn {
    Fd fd;
    unsigned long id = 0;
    std::string in;
    std::string out;  // answer bytes not yet sent
    bool peer_eof = false;
    Clock::time_point active;  // the last byte moved either way
    Plan::End end = Plan::End::Keep;
    std::optional<Plan> pending;
    Clock::time_point due;
    std::string close_reason;  // set: the connection goes at the end of this turn
    bool reset = false;
};

std::string Errno(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

class Server {
public:
    Server(const Options& o, Log& log)
        : log_(log),
          printers_(o.settings.printers, o.state_path),
          faults_(o.settings.faults, o.control_path, log),
          idle_(std::chrono::milliseconds(o.idle_ms))
    {
    }

    bool Start(uint16_t port, std::string& error)
    {
        if (!printers_.Load(error))
            return false;
        listener_.reset(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (listener_.get() < 0) {
            error = Errno("socket");
            return false;
        }
        const int one = 1;
        setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listener_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            error = Errno(("bind 127.0.0.1:" + std::to_string(port)).c_str());
            return false;
        }
        if (listen(listener_.get(), SOMAXCONN) != 0) {
            error = Errno("listen");
            return false;
        }
        socklen_t len = sizeof addr;
        getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        spare_.reset(OpenSpare());
        return true;
    }

    uint16_t port() const { return port_; }

    // Runs until a stop signal; `wait_mask` is the signal mask to wait with
    // (the stop signals are blocked everywhere else).
    bool Run(const sigset_t& wait_mask)
    {
        std::vector<pollfd> fds;
        while (!g_stop_signal) {
            // A negative descriptor is skipped by poll but keeps its place.
            fds.assign(1, pollfd{Listening() ? listener_.get() : -1, POLLIN, 0});
            for (const auto& c : conns_)
                fds.push_back(pollfd{c->fd.get(), Events(*c), 0});
            timespec timeout{};
            const bool timed = NextTimeout(timeout);
            const int n = ppoll(fds.data(), fds.size(), timed ? &timeout : nullptr, &wait_mask);
            if (n < 0 && errno != EINTR) {
                log_.Line("stop reason=" + Quoted(Errno("poll")));
                return false;
            }
            if (g_stop_signal)
                break;
            const size_t polled = conns_.size();
            for (size_t i = 0; n > 0 && i < polled; ++i)
                if (fds[i + 1].revents)
                    Receive(*conns_[i], fds[i + 1].revents);
            for (auto& c : conns_)
                Progress(*c);
            Reap();
            // After the others are settled, so that a client that closes one
            // connection and opens the next finds them logged in that order.
            if (n > 0 && (fds[0].revents & POLLIN)) {
                AcceptAll();
                Reap();  // the ones turned away
            }
        }
        log_.Line(std::string("stop reason=") + (g_stop_signal == SIGINT ? "SIGINT" : "SIGTERM") +
                  " connections=" + std::to_string(conns_.size()));
        for (auto& c : conns_)
            c->close_reason = "shutdown";
        Reap();
        return true;
    }

private:
    static short Events(const Conn& c)
    {
        short events = 0;
        if (!c.peer_eof && c.end == Plan::End::Keep && c.in.size() < kMaxBuffered)
            events |= POLLIN;
        if (!c.out.empty())
            events |= POLLOUT;
        return events;
    }

    // When a connection needs a turn though nothing happens on it: its
    // delayed answer is due, or it will have been idle too long. A client
    // waiting for a delayed answer is not idle.
    std::optional<Clock::time_point> Deadline(const Conn& c) const
    {
        if (c.pending)
            return c.due;
        if (idle_ > Clock::duration::zero())
            return c.active + idle_;
        return std::nullopt;
    }

    bool IdleTooLong(const Conn& c) const
    {
        return !c.pending && idle_ > Clock::duration::zero() && Clock::now() - c.active >= idle_;
    }

    bool NextTimeout(timespec& timeout) const
    {
        std::optional<Clock::time_point> first = accept_retry_;
        for (const auto& c : conns_) {
            const auto due = Deadline(*c);
            if (due && (!first || *due < *first))
                first = due;
        }
        if (!first)
            return false;
        const auto wait = std::max(Clock::duration::zero(), *first - Clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
        timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        return true;
    }

    void AcceptAll()
    {
        for (;;) {
            sockaddr_in peer{};
            socklen_t len = sizeof peer;
            const int fd = accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &len,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    at_limit_ = false;  // every waiting client was taken
                else if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                    PauseAccepting();
                return;
            }
            auto c = std::make_unique<Conn>();
            c->fd.reset(fd);
            c->id = ++last_id_;
            c->active = Clock::now();
            char ip[INET_ADDRSTRLEN] = "?";
            inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
            log_.Line("open conn=" + std::to_string(c->id) + " peer=" + ip + ":" +
                      std::to_string(ntohs(peer.sin_port)));
            if (conns_.size() >= kMaxConnections)
                c->close_reason = "too-many-connections";
            conns_.push_back(std::move(c));
        }
    }

    // The listener stays readable while clients wait, so watching it when
    // no descriptor is free would spin. The clients wait in the backlog
    // instead; one line says so, however many attempts fail.
    void PauseAccepting()
    {
        const std::string reason = Quoted(Errno("accept"));
        accept_retry_ = Clock::now() + kAcceptRetry;
        if (at_limit_)
            return;
        at_limit_ = true;
        log_.Line("accept paused reason=" + reason +
                  " connections=" + std::to_string(conns_.size()));
    }

    bool Listening()
    {
        if (accept_retry_ && Clock::now() >= *accept_retry_)
            accept_retry_.reset();
        return !accept_retry_;
    }

    static int OpenSpare() { return open("/dev/null", O_RDONLY | O_CLOEXEC); }

    void Receive(Conn& c, short revents)
    {
        char buf[kReadChunk];
        while (c.close_reason.empty() && !c.peer_eof && c.in.size() < kMaxBuffered) {
            const size_t room = std::min(sizeof buf, kMaxBuffered - c.in.size());
            const ssize_t n = recv(c.fd.get(), buf, room, 0);
            if (n > 0) {
                c.in.append(buf, static_cast<size_t>(n));
                c.active = Clock::now();
                continue;
            }
            if (n == 0)
                c.peer_eof = true;
            else if (errno == EINTR)
                continue;
            else if (errno != EAGAIN && errno != EWOULDBLOCK)
                c.close_reason = Quoted(Errno("read"));
            break;
        }
        if (c.close_reason.empty() && (revents & POLLERR))
            c.close_reason = "socket-error";
    }

    // Answers what can be answered, sends what can be sent, and decides
    // whether the connection is finished.
    void Progress(Conn& c)
    {
        if (!c.close_reason.empty())
            return;
        if (c.pending && Clock::now() >= c.due) {
            Execute(c, *c.pending);
            c.pending.reset();
        }
        HandleFrames(c);
        while (Flush(c) && HandleFrames(c)) {
        }
        if (!c.close_reason.empty() || c.pending)
            return;
        if (IdleTooLong(c)) {
            c.close_reason = "idle";
            return;
        }
        if (!c.out.empty())
            return;
        if (c.end == Plan::End::Reset) {
            c.reset = true;
            c.close_reason = "fault-reset";
        } else if (c.end == Plan::End::Close) {
            c.close_reason = "fault-close";
        } else if (c.peer_eof) {
            c.close_reason = c.in.empty() ? "peer-closed" : "peer-closed-mid-frame";
        }
    }

    // Answers the whole requests in the input while there is room for the
    // answers; true when it answered any.
    bool HandleFrames(Conn& c)
    {
        bool any = false;
        while (!c.pending && c.end == Plan::End::Keep && c.close_reason.empty() && !c.in.empty() &&
               c.out.size() < kMaxQueuedAnswers && NextFrame(c))
            any = true;
        return any;
    }

    // Handles the first request in the input if it is whole; false when it
    // is not there yet or the input is garbage.
    bool NextFrame(Conn& c)
    {
        int32_t total_size = 0;
        const HeaderCheck check = CheckHeader(c.in, total_size);
        if (check == HeaderCheck::Incomplete)
            return false;
        if (check != HeaderCheck::Ok) {
            c.close_reason = std::string("garbage detail=") +
                             (check == HeaderCheck::BadMagic ? "bad-magic" : "bad-total-size") +
                             " raw=" + Hex(c.in.substr(0, kGarbageShown));
            return false;
        }
        const size_t frame_size = kHeaderSize + static_cast<size_t>(total_size);
        if (c.in.size() < frame_size)
            return false;
        const std::string frame = c.in.substr(0, frame_size);
        c.in.erase(0, frame_size);
        Plan plan = Handle(c, frame);
        if (plan.delay_ms > 0) {
            c.due = Clock::now() + std::chrono::milliseconds(plan.delay_ms);
            c.pending = std::move(plan);
        } else {
            Execute(c, plan);
        }
        return true;
    }

    // A request may need a descriptor of its own (state file, control file,
    // a new log file): the spare one is lent to it, so that a write is still
    // kept when clients hold every other descriptor.
    Plan Handle(const Conn& c, const std::string& frame)
    {
        spare_.reset();
        Plan plan = AnswerAndLog(c, frame);
        spare_.reset(OpenSpare());
        return plan;
    }

    Plan AnswerAndLog(const Conn& c, const std::string& frame)
    {
        const Request r = DecodeRequest(frame);
        std::string note;
        const std::optional<FaultRule> fault = faults_.Take(r);
        const Reply reply = printers_.Answer(r, fault ? &*fault : nullptr, note);
        Plan plan = MakePlan(reply, fault ? &*fault : nullptr);
        plan.delay_ms += printers_.DelayOf(r.printer);
        std::string line =
            "request conn=" + std::to_string(c.id) + " command=" + std::to_string(r.command) +
            " total_size=" + std::to_string(r.total_size) + " printer=" + Quoted(r.printer) +
            " locale=" + Quoted(r.locale) + " data=" + Hex(r.data) +
            " item=" + (r.item ? std::to_string(*r.item) : "-");
        if (r.value)
            line += " value=" + std::to_string(*r.value);
        line += " response=" + std::to_string(reply.code) +
                " status=" + std::to_string(reply.status) + " payload=" + Hex(reply.payload) +
                note + " fault=" + (fault ? Quoted(fault->text) : "none") +
                " answer=" + Hex(plan.bytes) + " raw=" + Hex(frame);
        log_.Line(line);
        return plan;
    }

    static void Execute(Conn& c, const Plan& plan)
    {
        c.out += plan.bytes;
        c.end = plan.end;
    }

    // True when everything queued has gone out.
    static bool Flush(Conn& c)
    {
        size_t done = 0;
        while (done < c.out.size()) {
            const ssize_t n =
                send(c.fd.get(), c.out.data() + done, c.out.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
                c.active = Clock::now();
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            c.close_reason = Quoted(Errno("write"));
            break;
        }
        c.out.erase(0, done);
        return c.out.empty() && c.close_reason.empty();
    }

    void Reap()
    {
        auto gone = std::stable_partition(conns_.begin(), conns_.end(),
                                          [](const auto& c) { return c->close_reason.empty(); });
        if (gone != conns_.end())
            accept_retry_.reset();  // a descriptor is free again
        for (auto it = gone; it != conns_.end(); ++it) {
            Conn& c = **it;
            if (c.reset) {
                const linger hard{1, 0};
                setsockopt(c.fd.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            }
            // Logged first: a client that sees the close finds the line.
            log_.Line("close conn=" + std::to_string(c.id) + " reason=" + c.close_reason);
            c.fd.reset();
        }
        conns_.erase(gone, conns_.end());
    }

    Log& log_;
    Printers printers_;
    Faults faults_;
    Fd listener_;
    Fd spare_;
    std::optional<Clock::time_point> accept_retry_;  // set: the listener is not watched
    bool at_limit_ = false;                          // out of descriptors, and logged
    uint16_t port_ = 0;
    Clock::duration idle_;  // zero: idle clients stay
    unsigned long last_id_ = 0;
    std::vector<std::unique_ptr<Conn>> conns_;
};

}  // namespace

int Serve(const Options& options)
{
    Log log(options.log_path, options.log_max);
    if (!log.ok()) {
        std::fprintf(stderr, "zeld-sim: %s: %s\n", options.log_path.c_str(), std::strerror(errno));
        return 1;
    }
    // Stop signals are let through only while waiting in ppoll, so one that
    // arrives between two turns is not lost.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigset_t wait_mask;
    sigprocmask(SIG_BLOCK, &stops, &wait_mask);
    sigdelset(&wait_mask, SIGTERM);
    sigdelset(&wait_mask, SIGINT);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Server server(options, log);
    std::string error;
    if (!server.Start(options.port, error)) {
        std::fprintf(stderr, "zeld-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    log.Line("start port=" + std::to_string(server.port()) +
             " printers=" + std::to_string(options.settings.printers.size()) +
             " state=" + Quoted(options.state_path) + " control=" + Quoted(options.control_path));
    return server.Run(wait_mask) ? 0 : 1;
}

}  // namespace zsim
