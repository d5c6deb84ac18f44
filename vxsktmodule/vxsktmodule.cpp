#include "vxsktmodule.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "vxsktmodule_seam.h"

VxsktAllocator vxskt_allocator = {std::calloc, buftool_new};

namespace {

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
// kReceiveTimeout; the daemon may have to ask the printer first.
constexpr auto kSendTimeout = milliseconds(2000);
constexpr auto kReceiveTimeout = milliseconds(5000);

// End-of-stream reads passed over within one read of n bytes.
constexpr int kMaxEndOfStreamReads = 10;

// The largest real payload is 4 bytes; a larger declared length is treated
// like a payload that cannot be allocated.
constexpr int32_t kMaxPayload = 1 << 20;

constexpr int kStagingSize = 512;
constexpr int kFrameSize = 2048;
constexpr int kResponseHeaderSize = 12;
constexpr int kFixedFrameBytes = 20;  // magic, command, total_size, both lengths
constexpr int32_t kCommandNoData = 1;
constexpr char kMagic[4] = {'z', 'e', 'l', '0'};
constexpr const char* kDefaultHost = "localhost";
constexpr const char* kPortVariable = "ZELD_PORT";

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

// Milliseconds left until `deadline`, rounded up; 0 or less when it passed.
int remaining_ms(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    return static_cast<int>(left.count());
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

// The port: ZELD_PORT when it begins with a digit (its leading digits),
// else the caller's. Only the low 16 bits are used.
uint16_t choose_port(int port_num)
{
    const char* value = std::getenv(kPortVariable);
    if (value == nullptr || value[0] < '0' || value[0] > '9') {
        return static_cast<uint16_t>(port_num);
    }
    uint16_t port = 0;
    for (const char* p = value; *p >= '0' && *p <= '9'; ++p) {
        port = static_cast<uint16_t>(port * 10 + (*p - '0'));
    }
    return port;
}

// The first IPv4 address of `host`.
bool resolve(const char* host, in_addr* address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// Finishes a connect within kConnectTimeout, then turns the socket into a
// blocking one whose reads and writes time out on their own.
bool connect_bounded(int fd, const sockaddr_in& to)
{
    const auto deadline = Clock::now() + kConnectTimeout;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        // EINTR: the connection goes on in the background, like EINPROGRESS.
        if (errno != EINPROGRESS && errno != EINTR) {
            return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (!wait_ready(fd, POLLOUT, deadline) ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            return false;
        }
    }
    const timeval receive_tv = to_timeval(kReceiveTimeout);
    const timeval send_tv = to_timeval(kSendTimeout);
    return fcntl(fd, F_SETFL, 0) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receive_tv, sizeof receive_tv) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_tv, sizeof send_tv) == 0;
}

// One connection attempt; the connected socket, or -1.
int try_connect(const char* host, int port_num)
{
    in_addr address{};
    if (!resolve(host, &address)) {
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(choose_port(port_num));
    to.sin_addr = address;
    if (!connect_bounded(fd, to)) {
        close_fd(fd);
        return -1;
    }
    return fd;
}

int open_socket(const char* host, int port_num)
{
    const auto budget_end = Clock::now() + kOpenBudget;
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        if (attempt > 0 && Clock::now() >= budget_end) {
            break;
        }
        const int fd = try_connect(host, port_num);
        if (fd >= 0) {
            return fd;
        }
        sleep_for(kConnectPause);
    }
    return -1;
}

enum class Direction { kReceive, kSend };

// Moves exactly `size` bytes. The first call may block on the socket's own
// time-out, set once at connect; any further call waits only for what is
// left until `deadline`. A peer that has gone fails with -1, never with
// SIGPIPE.
int transfer(int fd, char* data, int size, Direction direction, bool may_block,
             Clock::time_point deadline)
{
    int done = 0;
    int ends = 0;
    bool block = may_block;
    while (done < size) {
        const int flags = block ? 0 : MSG_DONTWAIT;
        const ssize_t n = direction == Direction::kReceive
                              ? recv(fd, data + done, size - done, flags)
                              : send(fd, data + done, size - done, flags | MSG_NOSIGNAL);
        const bool blocked = block;
        block = false;
        if (n > 0) {
            done += static_cast<int>(n);
        } else if (n == 0) {
            // A send that moves nothing would only spin.
            if (direction == Direction::kSend || ++ends > kMaxEndOfStreamReads) {
                return -1;
            }
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // After a blocking call this is the socket's own time-out.
            const short events = direction == Direction::kReceive ? POLLIN : POLLOUT;
            if (blocked || !wait_ready(fd, events, deadline)) {
                return -1;
            }
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return 0;
}

int socket_read(int fd, char* data, int size, bool may_block, Clock::time_point deadline)
{
    return transfer(fd, data, size, Direction::kReceive, may_block, deadline);
}

int socket_write(int fd, char* data, int size)
{
    return transfer(fd, data, size, Direction::kSend, true, Clock::now() + kSendTimeout);
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
        buftool_write(frame, reinterpret_cast<const char*>(buftool_data(vxskt->send_data)),
                      staged);
    }
    return true;
}

void drop_payload(VxsktModule* vxskt)
{
    buftool_destroy(vxskt->recv_data);
    vxskt->recv_data = nullptr;
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

}  // namespace

// Opens a connection to the daemon for one printer ("queue" or
// "queue@host", cut at the "@" in place) and one locale.
VxsktModule* vxsktNew(char* printer, char* locale, char* /*folder_path*/, int port_num)
{
    if (printer == nullptr || locale == nullptr) {
        return nullptr;
    }
    auto* vxskt = static_cast<VxsktModule*>(vxskt_allocator.zero_alloc(1, sizeof(VxsktModule)));
    if (vxskt == nullptr) {
        return nullptr;
    }
    vxskt->socket_fd = -1;
    char* at = std::strchr(printer, '@');
    char* host = at != nullptr ? copy_string(at + 1, std::strlen(at + 1)) : nullptr;
    const size_t queue_length = at != nullptr ? static_cast<size_t>(at - printer) : std::strlen(printer);
    const size_t locale_length = std::strlen(locale);
    vxskt->printer = copy_string(printer, queue_length);
    vxskt->locale = copy_string(locale, locale_length);
    vxskt->send_data = vxskt_allocator.new_buffer(kStagingSize, 0);
    if ((at != nullptr && host == nullptr) || vxskt->printer == nullptr ||
        vxskt->locale == nullptr || vxskt->send_data == nullptr) {
        std::free(host);
        release(vxskt);
        return nullptr;
    }
    if (at != nullptr) {
        *at = '\0';
    }
    vxskt->socket_fd = open_socket(host != nullptr ? host : kDefaultHost, port_num);
    std::free(host);
    if (vxskt->socket_fd < 0) {
        release(vxskt);
        return nullptr;
    }
    std::memcpy(vxskt->req_header, kMagic, sizeof kMagic);
    vxskt->size_printer = static_cast<int>(queue_length);
    vxskt->size_locale = static_cast<int>(locale_length);
    return vxskt;
}

// Closes the connection and frees everything the record owns.
void vxsktDestroy(VxsktModule* vxskt)
{
    if (vxskt != nullptr) {
        release(vxskt);
    }
}

// Sends one request frame with the staged data part; the staging buffer is
// empty afterwards whatever happens.
int vxsktWrite(VxsktModule* vxskt, int32_t command)
{
    BufTool* frame = vxskt_allocator.new_buffer(kFrameSize, 0);
    vxskt->req_command = command;
    int result = -1;
    if (frame != nullptr && build_frame(vxskt, frame)) {
        result = socket_write(vxskt->socket_fd, reinterpret_cast<char*>(buftool_data(frame)),
                              buftool_pos(frame));
    }
    buftool_destroy(frame);
    buftool_set_pos(vxskt->send_data, 0);
    return result;
}

// Reads one response: its header, then its payload. Returns the payload
// length, 0 when none is held, -1 when the transport failed.
int vxsktRead(VxsktModule* vxskt)
{
    const auto deadline = Clock::now() + kReceiveTimeout;
    BufTool* header = vxskt_allocator.new_buffer(kResponseHeaderSize, 0);
    if (header == nullptr ||
        socket_read(vxskt->socket_fd, reinterpret_cast<char*>(buftool_data(header)),
                    kResponseHeaderSize, true, deadline) != 0) {
        buftool_destroy(header);
        return -1;
    }
    char magic[4];
    buftool_read(header, magic, sizeof magic);
    buftool_read_short(header, &vxskt->response_code);
    buftool_read_short(header, &vxskt->status_code);
    buftool_read_long(header, &vxskt->total_length);
    buftool_destroy(header);

    drop_payload(vxskt);
    const int32_t length = vxskt->total_length;
    if (length <= 0 || length > kMaxPayload) {
        return 0;
    }
    vxskt->recv_data = vxskt_allocator.new_buffer(length + 1, 0);
    if (vxskt->recv_data == nullptr) {
        return 0;
    }
    if (socket_read(vxskt->socket_fd, reinterpret_cast<char*>(buftool_data(vxskt->recv_data)),
                    length, false, deadline) != 0) {
        drop_payload(vxskt);
        return -1;
    }
    return length;
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

// Reads the next item of the payload. 0 when read; -1 when no payload is
// held, the cursor has reached its end, or a block's size is negative.
// A read that finds too few bytes left in the payload buffer leaves `pData`
// as it was and still succeeds; an unknown type reads nothing.
int vxsktGetResData(VxsktModule* vxskt, void* pData, int nType, int nSize)
{
    BufTool* payload = vxskt->recv_data;
    if (payload == nullptr || buftool_pos(payload) >= vxskt->total_length ||
        (nType == VXSKT_RES_BLOCK && nSize < 0)) {
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
        buftool_read(payload, static_cast<char*>(pData), nSize);
        break;
    case VXSKT_RES_WHOLE:
        buftool_read(payload, static_cast<char*>(pData), vxskt->total_length);
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
