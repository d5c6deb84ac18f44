#include "wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace harness {

namespace {

// Larger than any reply the daemon sends: a broken peer, not one to read.
constexpr size_t kMaxPayload = 1 << 16;

std::string Sized(const std::string& text)
{
    return Le32(static_cast<uint32_t>(text.size())) + text;
}

}  // namespace

std::string Le16(uint16_t value)
{
    return {static_cast<char>(value), static_cast<char>(value >> 8)};
}

std::string Le32(uint32_t value)
{
    return Le16(static_cast<uint16_t>(value)) + Le16(static_cast<uint16_t>(value >> 16));
}

uint16_t ReadLe16(const std::string& bytes, size_t at)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                 static_cast<unsigned char>(bytes[at + 1]) << 8);
}

uint32_t ReadLe32(const std::string& bytes, size_t at)
{
    return ReadLe16(bytes, at) | static_cast<uint32_t>(ReadLe16(bytes, at + 2)) << 16;
}

std::string RequestFrame(uint32_t command, const std::string& printer, const std::string& data,
                         const std::string& locale)
{
    const std::string body = Sized(printer) + Sized(locale) + data;
    return kRequestMagic + Le32(command) + Sized(body);
}

std::string QueryFrame(const std::string& printer, uint32_t item, const std::string& locale)
{
    return RequestFrame(kPrinterCommand, printer, Le32(4) + Le32(item), locale);
}

std::string WriteFrame(const std::string& printer, uint32_t value, const std::string& locale)
{
    return RequestFrame(kPrinterCommand, printer, Le32(8) + Le32(kWriteTimerItem) + Le32(value),
                        locale);
}

std::string ResponseDeclaring(int16_t code, int32_t total_length, const std::string& payload,
                              int16_t status)
{
    return kResponseMagic + Le16(static_cast<uint16_t>(code)) +
           Le16(static_cast<uint16_t>(status)) + Le32(static_cast<uint32_t>(total_length)) +
           payload;
}

std::string Response(int16_t code, const std::string& payload, int16_t status)
{
    return ResponseDeclaring(code, static_cast<int32_t>(payload.size()), payload, status);
}

size_t FrameSize(const std::string& bytes)
{
    return bytes.size() < kHeaderSize ? 0 : kHeaderSize + ReadLe32(bytes, kLengthOffset);
}

ResponseHeader ReadResponseHeader(const std::string& bytes)
{
    ResponseHeader header;
    header.magic = bytes.substr(0, 4);
    header.code = static_cast<int16_t>(ReadLe16(bytes, 4));
    header.status = ReadLe16(bytes, 6);
    header.length = static_cast<int32_t>(ReadLe32(bytes, kLengthOffset));
    return header;
}

bool ReadExactly(int fd, std::string& bytes, size_t size)
{
    bytes.resize(size);
    for (size_t done = 0; done < size;) {
        const ssize_t n = read(fd, &bytes[done], size - done);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool RoundTrip(int fd, const std::string& frame, std::string* response)
{
    std::string header, payload;
    const bool done = write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size()) &&
                      ReadExactly(fd, header, kHeaderSize) &&
                      FrameSize(header) - kHeaderSize <= kMaxPayload &&
                      ReadExactly(fd, payload, FrameSize(header) - kHeaderSize);
    if (done && response)
        *response = header + payload;
    return done;
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

}  // namespace harness
