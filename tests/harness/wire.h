// The daemon's wire format as every test-side peer of the protocol sees it:
// the numbers a request carries, frames built byte for byte, little-endian
// integers, and a port on which no daemon answers. The test side keeps its
// own codec on purpose: sharing the program's framing would hide a framing
// bug from the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace harness {

// The one command the program sends, and the items it asks about.
constexpr uint32_t kPrinterCommand = 19;
constexpr uint32_t kFirmwareItem = 106520;
constexpr uint32_t kReadTimerItem = 106523;
constexpr uint32_t kWriteTimerItem = 102415;

// The locale string of a program running in English.
constexpr char kEnglishLocale[] = "en_GB.UTF-8";

// Frames open with a magic and end their 12-byte header with the length of
// what follows.
constexpr char kRequestMagic[] = "zel0";
constexpr char kResponseMagic[] = "ZEL0";
constexpr size_t kHeaderSize = 12;
constexpr size_t kLengthOffset = 8;

std::string Le16(uint16_t value);
std::string Le32(uint32_t value);
// The integer at `at`, least significant byte first; `bytes` must hold it.
uint16_t ReadLe16(const std::string& bytes, size_t at);
uint32_t ReadLe32(const std::string& bytes, size_t at);

// A request: magic, command, total size, then the printer and the locale
// (each as a length and its bytes) and the data part as given.
std::string RequestFrame(uint32_t command, const std::string& printer, const std::string& data,
                         const std::string& locale = kEnglishLocale);
// The program's query of `item` (data part: 4, item).
std::string QueryFrame(const std::string& printer, uint32_t item,
                       const std::string& locale = kEnglishLocale);
// The program's write of the timer (data part: 8, item, value).
std::string WriteFrame(const std::string& printer, uint32_t value,
                       const std::string& locale = kEnglishLocale);

// A response: magic, response code, status code, total length, payload.
std::string Response(int16_t code, const std::string& payload, int16_t status = 0);
// The same with a declared length that need not match the payload.
std::string ResponseDeclaring(int16_t code, int32_t total_length, const std::string& payload,
                              int16_t status = 0);

// The size of the whole frame whose header opens `bytes`, or 0 while fewer
// than a header's bytes are there.
size_t FrameSize(const std::string& bytes);

// A response header taken apart.
struct ResponseHeader {
    std::string magic;
    int16_t code = 0;
    uint16_t status = 0;
    int32_t length = 0;
};
// `bytes` must hold a whole header.
ResponseHeader ReadResponseHeader(const std::string& bytes);

// Reads exactly `size` bytes from the blocking socket `fd`; false when it
// fails or ends first.
bool ReadExactly(int fd, std::string& bytes, size_t size);
// Writes `frame` to the blocking socket `fd` and reads one whole response
// back into `response` (when given); false when the socket fails first.
bool RoundTrip(int fd, const std::string& frame, std::string* response = nullptr);

// A loopback port that refuses every connection for as long as this lives:
// bound, never listening, so no other test's server can take it meanwhile.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

}  // namespace harness
