#include "vxsktmodule.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vxsktmodule_seam.h"

VxsktAllocator vxskt_allocator = {std::calloc, buftool_new};

namespace {

VxsktTrace g_trace = nullptr;

void trace(const VxsktModule* vxskt, bool sent, BufTool* bytes, int size)
{
    if (g_trace != nullptr && size > 0) {
        g_trace(vxskt, sent, buftool_data(bytes), size);
    }
}

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Opening a connection: ten attempts with a short pause after each failed
// one. Each connect waits at most kConnectTimeout, and no attempt starts
// once kOpenBudget has passed (a slow name server could otherwise stretch
// the ten resolutions).
constexpr int kConnectAttempts = 10;
constexpr auto kConnectPause = milliseconds(10);
constexpr auto kConnectTimeout = milliseconds(1500);
constexpr auto kOpenBudget = milliseconds(15000);

// One exchange: the whole request frame must be sent within kSendTimeout,
// the whole response (header and payload) must arrive within
// kReceiveTimeout; the daemon may have to ask the printer first. A
// connection with an overall deadline waits for the response until that
// deadline instead: its owner has said how long a printer may take.
constexpr auto kSendTimeout = milliseconds(2000);
constexpr auto kReceiveTimeout = milliseconds(5000);
// How far off a deadline is taken at its word; keeps the clock from
// overflowing on a caller's value far in the future.
constexpr auto kLongestDeadline = std::chrono::hours(24);

// End-of-stream reads passed over within one read of n bytes.
constexpr int kMaxEndOfStreamReads = 10;

// The largest real payload is 4 bytes; a larger declared length is treated
// like a payload that cannot be allocated.
constexpr int32_t kMaxPayload = 1 << 20;

// A response of the usual size (header and a payload of a few bytes) comes
// in with the header in one receive; a longer payload takes a second.
constexpr int kFirstReceiveSize = 64;

constexpr int kStagingSize = 512;
constexpr int kFrameSize = 2048;
constexpr int kResponseHeaderSize = 12;
constexpr int kFixedFrameBytes = 20;  // magic, command, total_size, both lengths
constexpr int32_t kCommandNoData = 1;
constexpr char kMagic[4] = {'z', 'e', 'l', '0'};
constexpr const char* kDefaultHost = "localhost";
constexpr const char* kPortVariable = "ZELD_PORT";
constexpr long kMaxPort = 65535;

// Where and how to connect.
struct Target {
    const char* host;
    bool numeric_only;  // a literal address, never looked up
    uint16_t port;
    int64_t deadline_ms;
};

char* copy_string(const char* text, size_t length)
{
    auto* copy = static_cast<char*>(vxskt_allocator.zero_alloc(length + 1, 1));
    if (copy != nullptr) {
        std::memcpy(copy, text, length);
    }
    return copy;
}

void close_fd(int fd)
{
    // Not retried on EINTR: Linux releases the descriptor either way.
    if (fd >= 0) {
        close(fd);
    }
}

void sleep_for(milliseconds pause)
{
    timespec left{0, static_cast<long>(std::chrono::nanoseconds(pause).count())};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// Per thread: each printer's connection is worked on by one thread.
thread_local VxsktFailure g_failure{VXSKT_OK, 0};

// Records why the call under way failed and returns -1 for it.
int failed(VxsktFailureKind kind, int error = 0)
{
    g_failure = VxsktFailure{kind, error};
    return -1;
}

// Milliseconds left until `deadline`, rounded up; 0 or less when it passed.
int remaining_ms(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    return static_cast<int>(left.count());
}

// When a wait bounded by `bound` must end: `bound` from now, or the overall
// deadline when that comes first (0: none). Compared in milliseconds, so
// that no caller's value, however far off, overflows the clock's own unit.
Clock::time_point until(int64_t deadline_ms, milliseconds bound)
{
    const auto now = Clock::now();
    const int64_t now_ms = std::chrono::duration_cast<milliseconds>(now.time_since_epoch()).count();
    if (deadline_ms == 0 || deadline_ms >= now_ms + bound.count()) {
        return now + bound;
    }
    return deadline_ms <= now_ms ? now : Clock::time_point(milliseconds(deadline_ms));
}

timeval to_timeval(milliseconds span)
{
    return timeval{static_cast<time_t>(span.count() / 1000),
                   static_cast<suseconds_t>(span.count() % 1000 * 1000)};
}

// Waits until `fd` is ready for `events` or `deadline` passes.
bool wait_ready(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const int left = remaining_ms(deadline);
        if (left <= 0) {
            return false;
        }
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, left);
        if (n > 0) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
    }
}

// A ZELD_PORT value that names no port; said once per process, however
// many connections are opened.
void warn_bad_port(const char* value, int port_num)
{
    static std::atomic<bool> warned{false};
    if (warned.exchange(true)) {
        return;
    }
    // Only the digits: the rest of the value could hold a line break.
    const int digits = static_cast<int>(std::strspn(value, "0123456789"));
    std::fprintf(stderr, "%s: %s %.*s is not a port from 1 to %ld; using port %d\n",
                 program_invocation_short_name, kPortVariable, std::min(digits, 40), value,
                 kMaxPort, port_num);
}

// A ZELD_PORT value without a number at its start; said once per process.
// The value itself is not repeated: it could hold anything.
void warn_no_port(int port_num)
{
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true)) {
        std::fprintf(stderr, "%s: %s does not begin with a port number; using port %d\n",
                     program_invocation_short_name, kPortVariable, port_num);
    }
}

struct AddrInfoFree {
    void operator()(addrinfo* found) const { freeaddrinfo(found); }
};
using AddrList = std::unique_ptr<addrinfo, AddrInfoFree>;

// The stream addresses of `host`, both families, in the resolver's order;
// null when there are none. `numeric_only` asks for a literal address,
// which never waits.
addrinfo* lookup_now(const char* host, bool numeric_only)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = numeric_only ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0) {
        return nullptr;
    }
    return found;
}

// A name lookup that its caller may stop waiting for. getaddrinfo cannot
// be bounded, so it runs on a thread of its own; caller and thread each
// hold the record, and whichever lets go last frees it (and the answer,
// when nobody took it).
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<int> holders{2};
    bool done = false;
    char* host = nullptr;
    addrinfo* found = nullptr;
};

void let_go(Lookup* lookup)
{
    if (lookup->holders.fetch_sub(1) != 1) {
        return;
    }
    if (lookup->found != nullptr) {
        freeaddrinfo(lookup->found);
    }
    std::free(lookup->host);
    delete lookup;
}

void* run_lookup(void* arg)
{
    auto* lookup = static_cast<Lookup*>(arg);
    addrinfo* found = lookup_now(lookup->host, false);
    {
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->found = found;
        lookup->done = true;
    }
    lookup->finished.notify_one();
    let_go(lookup);
    return nullptr;
}

bool start_detached(Lookup* lookup)
{
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
        return false;
    }
    pthread_t thread;
    const bool started = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0 &&
                         pthread_create(&thread, &attr, run_lookup, lookup) == 0;
    pthread_attr_destroy(&attr);
    return started;
}

// Resolves `host`, waiting no longer than `end`.
addrinfo* lookup_until(const char* host, Clock::time_point end)
{
    auto* lookup = new (std::nothrow) Lookup;
    if (lookup == nullptr) {
        return nullptr;
    }
    lookup->host = strdup(host);
    if (lookup->host == nullptr || !start_detached(lookup)) {
        lookup->holders = 1;
        let_go(lookup);
        return nullptr;
    }
    addrinfo* found = nullptr;
    {
        std::unique_lock<std::mutex> lock(lookup->mutex);
        if (lookup->finished.wait_until(lock, end, [lookup] { return lookup->done; })) {
            std::swap(found, lookup->found);
        }
    }
    let_go(lookup);
    return found;
}

// The addresses of `host`. Without an overall deadline a slow name server
// is bounded only by the attempts (kOpenBudget); with one, a literal
// address is taken at once and a name is given until `end`.
AddrList resolve(const char* host, bool numeric_only, bool bounded, Clock::time_point end)
{
    if (numeric_only || !bounded) {
        return AddrList(lookup_now(host, numeric_only));
    }
    if (addrinfo* literal = lookup_now(host, true)) {
        return AddrList(literal);
    }
    return AddrList(lookup_until(host, end));
}

// Connects to one address by `end`. A blocking connect bounded by the
// socket's send time-out costs one call less than a non-blocking connect
// and its poll; Linux honours the time-out for connect.
int connect_until(const addrinfo& address, uint16_t port, Clock::time_point end)
{
    const int left = remaining_ms(end);
    if (left <= 0) {
        return failed(VXSKT_DEADLINE);
    }
    sockaddr_storage to{};
    std::memcpy(&to, address.ai_addr, address.ai_addrlen);
    if (to.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&to)->sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in*>(&to)->sin_port = htons(port);
    }
    const int fd = socket(address.ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval bound = to_timeval(milliseconds(left));
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) != 0) {
        const int error = errno;
        close_fd(fd);
        return failed(VXSKT_CONNECT, error);
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to), address.ai_addrlen) == 0) {
        return fd;
    }
    // A signal leaves the connection going on in the background.
    int error = 0;
    socklen_t length = sizeof error;
    if (errno == EINTR && wait_ready(fd, POLLOUT, end) &&
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
        return fd;
    }
    const int why = error != 0 ? error : errno;
    close_fd(fd);
    // A connect that ran out of time says EINPROGRESS or EAGAIN.
    if (why == EINPROGRESS || why == EAGAIN || why == EINTR)
        return failed(VXSKT_DEADLINE);
    return failed(VXSKT_CONNECT, why);
}

// One connection attempt: each address of the host in the resolver's
// order, each connect bounded by kConnectTimeout and the deadline, which
// also bounds the lookup (`budget_end`).
int try_connect(const Target& target, Clock::time_point budget_end)
{
    const AddrList found =
        resolve(target.host, target.numeric_only, target.deadline_ms != 0, budget_end);
    if (!found) {
        return failed(Clock::now() >= budget_end ? VXSKT_DEADLINE : VXSKT_RESOLVE);
    }
    for (const addrinfo* address = found.get(); address != nullptr; address = address->ai_next) {
        const int fd =
            connect_until(*address, target.port, until(target.deadline_ms, kConnectTimeout));
        if (fd >= 0) {
            return fd;
        }
    }
    return -1;
}

int open_socket(const Target& target)
{
    const auto budget_end = until(target.deadline_ms, kOpenBudget);
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        if (attempt > 0 && Clock::now() >= budget_end) {
            break;
        }
        const int fd = try_connect(target, budget_end);
        if (fd >= 0) {
            return fd;
        }
        sleep_for(std::min(kConnectPause, milliseconds(std::max(0, remaining_ms(budget_end)))));
    }
    return -1;
}

enum class Direction { kReceive, kSend };

// A daemon that writes its reply in two parts with Nagle's algorithm on
// holds the second part back until the first is acknowledged, and the
// delayed acknowledgement would make it wait up to 40 ms. Asking for a
// quick acknowledgement once part of a reply is in sends the owed one at
// once; it does not stick, so it is asked for again before each further
// receive. A reply that comes in one piece owes nothing and costs no call.
void acknowledge_now(int fd)
{
#ifdef TCP_QUICKACK
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    (void)fd;
#endif
}

// Moves at least `size` bytes and, receiving, at most `room`; returns the
// number moved. With `may_block` the first call may block on the socket's
// own time-out; any other wait lasts only for what is left until
// `deadline`. `partial`: part of the reply being received is in already.
// A peer that has gone fails with -1, never with SIGPIPE.
int transfer(int fd, char* data, int size, int room, Direction direction, bool may_block,
             bool partial, Clock::time_point deadline)
{
    int done = 0;
    int ends = 0;
    bool block = may_block;
    while (done < size) {
        const int flags = block ? 0 : MSG_DONTWAIT;
        const bool receiving = direction == Direction::kReceive;
        if (receiving && (partial || done > 0)) {
            acknowledge_now(fd);
        }
        const ssize_t n = receiving ? recv(fd, data + done, room - done, flags)
                                    : send(fd, data + done, size - done, flags | MSG_NOSIGNAL);
        block = false;
        if (n > 0) {
            done += static_cast<int>(n);
        } else if (n == 0) {
            // A send that moves nothing would only spin.
            if (!receiving || ++ends > kMaxEndOfStreamReads) {
                return failed(VXSKT_CLOSED);
            }
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A receive that blocked has met the socket's own time-out,
            // which is never longer than the time left: whatever is left
            // of it is waited for here.
            if (!wait_ready(fd, receiving ? POLLIN : POLLOUT, deadline)) {
                return failed(VXSKT_DEADLINE);
            }
        } else if (errno != EINTR) {
            return failed(VXSKT_CLOSED, errno);
        }
    }
    return done;
}

// Throws away whatever the daemon sent that no request is waiting for (a
// stray frame, a payload that was not taken in), so that the response read
// after the next request can only be that request's answer. Never waits; a
// peer that has closed is found out by the exchange itself. False when the
// peer keeps sending until `end`.
bool discard_unread(int fd, Clock::time_point end)
{
    char sink[4096];
    for (;;) {
        const ssize_t n = recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n > 0 && Clock::now() >= end) {
            return false;
        }
        if (n == 0 || (n < 0 && errno != EINTR)) {
            return true;
        }
    }
}

// Receives at least `size` and at most `room` bytes; the count, or -1.
int socket_read(int fd, char* data, int size, int room, bool may_block, bool partial,
                Clock::time_point deadline)
{
    return transfer(fd, data, size, room, Direction::kReceive, may_block, partial, deadline);
}

int socket_write(VxsktModule* vxskt, char* data, int size)
{
    // No new request once the deadline has passed: its answer could not
    // be waited for.
    const auto deadline = until(vxskt->deadline_ms, kSendTimeout);
    if (remaining_ms(deadline) <= 0 || !discard_unread(vxskt->socket_fd, deadline)) {
        return failed(VXSKT_DEADLINE);
    }
    const int sent =
        transfer(vxskt->socket_fd, data, size, size, Direction::kSend, false, false, deadline);
    return sent < 0 ? -1 : 0;
}

// Whether the first receive of a response may block on the socket's own
// receive time-out instead of a poll: a call less per exchange. It may when
// that time-out ends by `end`; otherwise one is set that does, at most
// kReceiveTimeout, so that the exchanges after it on this connection find
// it short enough too.
bool may_block_receiving(VxsktModule* vxskt, Clock::time_point end)
{
    const int left = remaining_ms(end);
    if (left <= 0) {
        return false;
    }
    if (vxskt->receive_timeout_set > 0 && vxskt->receive_timeout_set <= left) {
        return true;
    }
    const int bound = std::min(left, static_cast<int>(kReceiveTimeout.count()));
    const timeval span = to_timeval(milliseconds(bound));
    if (setsockopt(vxskt->socket_fd, SOL_SOCKET, SO_RCVTIMEO, &span, sizeof span) != 0) {
        return false;
    }
    vxskt->receive_timeout_set = bound;
    return true;
}

// When the response to a request must have come in full.
Clock::time_point receive_until(const VxsktModule* vxskt)
{
    if (vxskt->deadline_ms == 0) {
        return Clock::now() + kReceiveTimeout;
    }
    return until(vxskt->deadline_ms, kLongestDeadline);
}

bool has_room(VxsktModule* vxskt, int size)
{
    const int staged = buftool_pos(vxskt->send_data);
    return size >= 0 && staged <= kStagingSize - size;
}

// Assembles the request frame for `command` into `frame`; false when it
// does not fit.
bool build_frame(VxsktModule* vxskt, BufTool* frame)
{
    const int staged = buftool_pos(vxskt->send_data);
    const int data_size = vxskt->req_command == kCommandNoData ? 4 : staged;
    const int fixed = kFixedFrameBytes + data_size;
    if (vxskt->size_printer > kFrameSize - fixed ||
        vxskt->size_locale > kFrameSize - fixed - vxskt->size_printer) {
        return false;
    }
    const int32_t total_size = vxskt->size_printer + vxskt->size_locale + 8 + data_size;
    buftool_write(frame, vxskt->req_header, sizeof vxskt->req_header);
    buftool_write_long(frame, vxskt->req_command);
    buftool_write_long(frame, total_size);
    buftool_write_long(frame, vxskt->size_printer);
    buftool_write(frame, vxskt->printer, vxskt->size_printer);
    buftool_write_long(frame, vxskt->size_locale);
    buftool_write(frame, vxskt->locale, vxskt->size_locale);
    if (vxskt->req_command == kCommandNoData) {
        buftool_write_long(frame, 0);
    } else {
        buftool_write(frame, reinterpret_cast<const char*>(buftool_data(vxskt->send_data)), staged);
    }
    return true;
}

void drop_payload(VxsktModule* vxskt)
{
    buftool_destroy(vxskt->recv_data);
    vxskt->recv_data = nullptr;
}

// The bytes an item of payload type `nType` takes; 0 for a type that reads
// nothing.
int item_size(const VxsktModule* vxskt, int nType, int nSize)
{
    switch (nType) {
    case VXSKT_RES_BYTE:
        return 1;
    case VXSKT_RES_SHORT:
        return 2;
    case VXSKT_RES_LONG:
        return 4;
    case VXSKT_RES_BLOCK:
        return nSize;
    case VXSKT_RES_WHOLE:
        return vxskt->total_length;
    default:
        return 0;
    }
}

// Releases whatever part of a record was made; the socket only when open.
void release(VxsktModule* vxskt)
{
    std::free(vxskt->printer);
    std::free(vxskt->locale);
    close_fd(vxskt->socket_fd);
    buftool_destroy(vxskt->send_data);
    buftool_destroy(vxskt->recv_data);
    std::free(vxskt);
}

// A record for `queue_length` bytes of `printer` and for `locale`, not yet
// connected; null when memory ran out.
VxsktModule* new_record(const char* printer, size_t queue_length, const char* locale)
{
    auto* vxskt = static_cast<VxsktModule*>(vxskt_allocator.zero_alloc(1, sizeof(VxsktModule)));
    if (vxskt == nullptr) {
        return nullptr;
    }
    vxskt->socket_fd = -1;
    const size_t locale_length = std::strlen(locale);
    vxskt->printer = copy_string(printer, queue_length);
    vxskt->locale = copy_string(locale, locale_length);
    vxskt->send_data = vxskt_allocator.new_buffer(kStagingSize, 0);
    if (vxskt->printer == nullptr || vxskt->locale == nullptr || vxskt->send_data == nullptr) {
        release(vxskt);
        return nullptr;
    }
    std::memcpy(vxskt->req_header, kMagic, sizeof kMagic);
    vxskt->size_printer = static_cast<int>(queue_length);
    vxskt->size_locale = static_cast<int>(locale_length);
    return vxskt;
}

// The host part of a name, after the "@": empty means the local host (null
// in `*host`); "[address]" is a literal address (brackets let an IPv6
// address stand beside a port or a name). False for an unclosed bracket
// or when memory ran out.
bool split_host(const char* text, char** host, bool* numeric_only)
{
    size_t length = std::strlen(text);
    if (length == 0) {
        return true;
    }
    if (text[0] == '[') {
        if (length < 2 || text[length - 1] != ']') {
            return false;
        }
        ++text;
        length -= 2;
        *numeric_only = true;
    }
    *host = copy_string(text, length);
    return *host != nullptr;
}

}  // namespace

int64_t vxsktNowMs(void)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
}

// The port: ZELD_PORT when it begins with a digit (the number its leading
// digits make), else the caller's. A number outside 1..65535 is ignored:
// cut to 16 bits it would reach some other port, perhaps another service.
int vxsktDaemonPort(int port_num)
{
    const char* value = std::getenv(kPortVariable);
    if (value == nullptr || value[0] == '\0') {
        return port_num;
    }
    if (value[0] < '0' || value[0] > '9') {
        warn_no_port(port_num);
        return port_num;
    }
    long port = 0;
    for (const char* p = value; *p >= '0' && *p <= '9' && port <= kMaxPort; ++p) {
        port = port * 10 + (*p - '0');
    }
    if (port < 1 || port > kMaxPort) {
        warn_bad_port(value, port_num);
        return port_num;
    }
    return static_cast<int>(port);
}

// Opens a connection to the daemon for one printer ("queue" or
// "queue@host", cut at the first "@" in place) and one locale.
VxsktModule* vxsktNew(char* printer, char* locale, char* folder_path, int port_num)
{
    return vxsktNewUntil(printer, locale, folder_path, port_num, 0);
}

VxsktModule* vxsktNewUntil(char* printer, char* locale, char* /*folder_path*/, int port_num,
                           int64_t deadline_ms)
{
    g_failure = VxsktFailure{VXSKT_OK, 0};
    if (printer == nullptr || locale == nullptr) {
        return nullptr;
    }
    char* at = std::strchr(printer, '@');
    const size_t queue_length =
        at != nullptr ? static_cast<size_t>(at - printer) : std::strlen(printer);
    // A request without a queue name could reach no printer.
    if (queue_length == 0) {
        return nullptr;
    }
    VxsktModule* vxskt = new_record(printer, queue_length, locale);
    if (vxskt == nullptr) {
        return nullptr;
    }
    Target target{kDefaultHost, false, 0, deadline_ms};
    char* host = nullptr;
    if (at != nullptr && !split_host(at + 1, &host, &target.numeric_only)) {
        release(vxskt);
        return nullptr;
    }
    if (at != nullptr) {
        *at = '\0';
    }
    if (host != nullptr) {
        target.host = host;
    }
    target.port = static_cast<uint16_t>(vxsktDaemonPort(port_num));
    vxskt->deadline_ms = deadline_ms;
    vxskt->socket_fd = open_socket(target);
    std::free(host);
    if (vxskt->socket_fd < 0) {
        release(vxskt);
        return nullptr;
    }
    return vxskt;
}

// Closes the connection and frees everything the record owns.
void vxsktDestroy(VxsktModule* vxskt)
{
    if (vxskt != nullptr) {
        release(vxskt);
    }
}

// Sends one request frame with the staged data part, after dropping what is
// waiting unread; the staging buffer is empty afterwards whatever happens.
int vxsktWrite(VxsktModule* vxskt, int32_t command)
{
    g_failure = VxsktFailure{VXSKT_OK, 0};
    BufTool* frame = vxskt_allocator.new_buffer(kFrameSize, 0);
    vxskt->req_command = command;
    int result = -1;
    if (frame != nullptr && build_frame(vxskt, frame)) {
        trace(vxskt, true, frame, buftool_pos(frame));
        result =
            socket_write(vxskt, reinterpret_cast<char*>(buftool_data(frame)), buftool_pos(frame));
    }
    buftool_destroy(frame);
    buftool_set_pos(vxskt->send_data, 0);
    return result;
}

// Reads one response: its header, then its payload. Returns the payload
// length, 0 when none is held, -1 when the transport failed. Bytes that the
// first receive takes in beyond this response could only be a frame nobody
// asked for, which the next request would drop anyway.
int vxsktRead(VxsktModule* vxskt)
{
    const auto deadline = receive_until(vxskt);
    BufTool* first = vxskt_allocator.new_buffer(kFirstReceiveSize, 0);
    const int got =
        first == nullptr
            ? -1
            : socket_read(vxskt->socket_fd, reinterpret_cast<char*>(buftool_data(first)),
                          kResponseHeaderSize, kFirstReceiveSize,
                          may_block_receiving(vxskt, deadline), false, deadline);
    if (got < 0) {
        buftool_destroy(first);
        return -1;
    }
    trace(vxskt, false, first, kResponseHeaderSize);
    char magic[4];
    buftool_read(first, magic, sizeof magic);
    buftool_read_short(first, &vxskt->response_code);
    buftool_read_short(first, &vxskt->status_code);
    buftool_read_long(first, &vxskt->total_length);

    drop_payload(vxskt);
    const int32_t length = vxskt->total_length;
    if (length <= 0 || length > kMaxPayload) {
        buftool_destroy(first);
        return 0;
    }
    vxskt->recv_data = vxskt_allocator.new_buffer(length + 1, 0);
    if (vxskt->recv_data == nullptr) {
        buftool_destroy(first);
        return 0;
    }
    char* payload = reinterpret_cast<char*>(buftool_data(vxskt->recv_data));
    const int have = std::min(got - kResponseHeaderSize, static_cast<int>(length));
    std::memcpy(payload, buftool_data(first) + kResponseHeaderSize, static_cast<size_t>(have));
    buftool_destroy(first);
    if (have < length && socket_read(vxskt->socket_fd, payload + have, length - have, length - have,
                                     false, true, deadline) < 0) {
        drop_payload(vxskt);
        return -1;
    }
    trace(vxskt, false, vxskt->recv_data, length);
    return length;
}

VxsktFailure vxsktLastFailure(void)
{
    return g_failure;
}

void vxsktSetTrace(VxsktTrace hook)
{
    g_trace = hook;
}

int vxsktSetReqByte(VxsktModule* vxskt, char ch)
{
    if (!has_room(vxskt, 1)) {
        return -1;
    }
    buftool_write_byte(vxskt->send_data, ch);
    return 0;
}

int vxsktSetReqShort(VxsktModule* vxskt, int16_t st)
{
    if (!has_room(vxskt, 2)) {
        return -1;
    }
    buftool_write_short(vxskt->send_data, st);
    return 0;
}

int vxsktSetReqLong(VxsktModule* vxskt, int32_t lg)
{
    if (!has_room(vxskt, 4)) {
        return -1;
    }
    buftool_write_long(vxskt->send_data, lg);
    return 0;
}

int vxsktSetReqData(VxsktModule* vxskt, const void* pData, int nSize)
{
    if (!has_room(vxskt, nSize) || (pData == nullptr && nSize > 0)) {
        return -1;
    }
    buftool_write(vxskt->send_data, static_cast<const char*>(pData), nSize);
    return 0;
}

int vxsktResetReqData(VxsktModule* vxskt)
{
    buftool_set_pos(vxskt->send_data, 0);
    return 0;
}

// Reads the next item of the payload. 0 when read (an unknown type reads
// nothing); -1 when no payload is held, the cursor has reached its end, or
// the item does not fit in what is left. A failed read leaves `pData` and
// the cursor as they were: a short reply must never pass for a value.
int vxsktGetResData(VxsktModule* vxskt, void* pData, int nType, int nSize)
{
    BufTool* payload = vxskt->recv_data;
    if (payload == nullptr) {
        return -1;
    }
    const int left = vxskt->total_length - buftool_pos(payload);
    const int size = item_size(vxskt, nType, nSize);
    if (left <= 0 || size < 0 || size > left) {
        return -1;
    }
    switch (nType) {
    case VXSKT_RES_BYTE:
        buftool_read_byte(payload, static_cast<char*>(pData));
        break;
    case VXSKT_RES_SHORT:
        buftool_read_short(payload, static_cast<int16_t*>(pData));
        break;
    case VXSKT_RES_LONG:
        buftool_read_long(payload, static_cast<int32_t*>(pData));
        break;
    case VXSKT_RES_BLOCK:
    case VXSKT_RES_WHOLE:
        buftool_read(payload, static_cast<char*>(pData), size);
        break;
    default:
        break;
    }
    return 0;
}

// Moves the payload cursor to `nOffset`. 0 when moved; -1 when there is no
// payload, the cursor has already reached its end, or the offset lies
// outside it.
int vxsktSeekResData(VxsktModule* vxskt, int nOffset)
{
    BufTool* payload = vxskt->recv_data;
    if (payload == nullptr || buftool_pos(payload) >= vxskt->total_length || nOffset < 0 ||
        nOffset >= vxskt->total_length) {
        return -1;
    }
    buftool_set_pos(payload, nOffset);
    return 0;
}

// The length of the payload held; -1 when none is held: no response read
// yet, or the last one declared none, one above the cap, or lost it.
int vxsktGetResSize(VxsktModule* vxskt)
{
    return vxskt->recv_data != nullptr ? vxskt->total_length : -1;
}

int vxsktGetSocketFD(VxsktModule* vxskt)
{
    return vxskt->socket_fd;
}

int32_t vxsktGetReqCommand(VxsktModule* vxskt)
{
    return vxskt->req_command;
}

int16_t vxsktGetResCode(VxsktModule* vxskt)
{
    return vxskt->response_code;
}

uint16_t vxsktGetStatusCode(VxsktModule* vxskt)
{
    return static_cast<uint16_t>(vxskt->status_code);
}

// The payload held, followed by one zero byte, owned by the connection
// until its next read; null when none is held.
unsigned char* vxsktGetStatusData(VxsktModule* vxskt)
{
    return vxskt->recv_data != nullptr ? buftool_data(vxskt->recv_data) : nullptr;
}

// The payload length the last response header declared, even when the
// payload itself could not be read.
int32_t vxsktGetStatusLen(VxsktModule* vxskt)
{
    return vxskt->total_length;
}
