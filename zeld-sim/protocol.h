// The daemon's side of the frames: taking a request apart, putting an answer
// together, and turning an answer plus a fault rule into the bytes that go
// out. Little-endian throughout, whatever the host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config.h"

namespace zsim {

constexpr size_t kHeaderSize = 12;
constexpr char kRequestMagic[] = "zel0";
constexpr char kReplyMagic[] = "zelr";
// Real requests stay under 800 bytes; anything declaring more than this is
// not a client of ours and is dropped before its body is waited for.
constexpr int32_t kMaxTotalSize = 64 * 1024;
// The smallest body: size_printer and size_locale.
constexpr int32_t kMinTotalSize = 8;

constexpr int32_t kCommandPrinterItem = 19;
constexpr int32_t kItemFirmware = 106520;
constexpr int32_t kItemReadTimer = 106523;
constexpr int32_t kItemWriteTimer = 102415;

// response_code values of this simulator.
enum ResponseCode : int16_t {
    kOk = 0,
    kUnknownCommand = 1,
    kUnknownPrinter = 2,
    kUnknownItem = 3,
    kMalformed = 4,
    kNotSaved = 5,
};
// status_code values: the printer's state as the daemon sees it.
constexpr uint16_t kStatusReady = 0x0000;
constexpr uint16_t kStatusNoPrinter = 0xFFFF;

inline uint32_t GetU32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline int32_t GetI32(const unsigned char* p)
{
    return static_cast<int32_t>(GetU32(p));
}
inline void PutU16(std::string& out, uint16_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
inline void PutU32(std::string& out, uint32_t v)
{
    PutU16(out, static_cast<uint16_t>(v & 0xFFFF));
    PutU16(out, static_cast<uint16_t>(v >> 16));
}

enum class HeaderCheck { Ok, Incomplete, BadMagic, BadSize };
// Looks at the start of a client's input, which may hold less than a
// header: a wrong first byte is garbage at once. On Ok, `total_size` tells
// how many bytes follow the 12-byte header.
HeaderCheck CheckHeader(const std::string& input, int32_t& total_size);

struct Request {
    int32_t command = 0;
    int32_t total_size = 0;
    bool framed = false;  // size_printer and size_locale fit in total_size
    std::string printer;
    std::string locale;
    std::string data;  // the data part
    // For command 19 with a consistent data part: the item, and for a
    // write the value.
    std::optional<int32_t> item;
    std::optional<uint32_t> value;
};
// `frame` is a whole request whose header passed CheckHeader.
Request DecodeRequest(const std::string& frame);

struct Reply {
    int16_t code = kOk;
    uint16_t status = kStatusReady;
    std::string payload;
};

std::string EncodeReply(const Reply& reply);

// What to do with one answer, faults applied.
struct Plan {
    enum class End { Keep, Close, Reset };
    std::string bytes;
    End end = End::Keep;
    int64_t delay_ms = 0;
};
// `fault` may be null. A refusal keeps the payload the answer would have
// had, so clients meet a nonzero response_code with bytes behind it.
Plan MakePlan(const Reply& reply, const FaultRule* fault);

// The timer a printer keeps when a write asks for `sent`; `fault` (may be
// null) can make it keep another one while it still answers 0.
uint16_t KeptTimer(uint16_t sent, const FaultRule* fault);

std::string Hex(const std::string& bytes);
// Printable ASCII as is, everything else (and quote, backslash) escaped.
std::string Quoted(const std::string& text);

}  // namespace zsim
