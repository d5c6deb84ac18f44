#include "protocol.h"

#include <algorithm>

namespace zsim {
namespace {

std::string Header(int16_t code, uint16_t status, int32_t total_length)
{
    std::string out(kReplyMagic, 4);
    PutU16(out, static_cast<uint16_t>(code));
    PutU16(out, status);
    PutU32(out, static_cast<uint32_t>(total_length));
    return out;
}

// The data part of command 19: a count of the bytes that follow it, the
// item, and for a write the value. Anything else leaves `item` empty.
void DecodeItem(Request& r)
{
    const auto* d = reinterpret_cast<const unsigned char*>(r.data.data());
    if (r.data.size() < 8 || GetU32(d) != r.data.size() - 4)
        return;
    r.item = GetI32(d + 4);
    if (r.data.size() == 12)
        r.value = GetU32(d + 8);
}

}  // namespace

HeaderCheck CheckHeader(const std::string& input, int32_t& total_size)
{
    if (input.compare(0, 4, kRequestMagic, std::min<size_t>(4, input.size())) != 0)
        return HeaderCheck::BadMagic;
    if (input.size() < kHeaderSize)
        return HeaderCheck::Incomplete;
    total_size = GetI32(reinterpret_cast<const unsigned char*>(input.data()) + 8);
    if (total_size < kMinTotalSize || total_size > kMaxTotalSize)
        return HeaderCheck::BadSize;
    return HeaderCheck::Ok;
}

Request DecodeRequest(const std::string& frame)
{
    Request r;
    const auto* p = reinterpret_cast<const unsigned char*>(frame.data());
    r.command = GetI32(p + 4);
    r.total_size = GetI32(p + 8);
    // Offsets are checked against what is left before each field is taken,
    // in 64 bits so that a size near INT32_MAX cannot wrap.
    const int64_t end = static_cast<int64_t>(frame.size());
    int64_t at = kHeaderSize;
    const int64_t size_printer = GetI32(p + at);
    at += 4;
    if (size_printer < 0 || size_printer > end - at - 4)
        return r;
    r.printer.assign(frame, static_cast<size_t>(at), static_cast<size_t>(size_printer));
    at += size_printer;
    const int64_t size_locale = GetI32(p + at);
    at += 4;
    if (size_locale < 0 || size_locale > end - at)
        return r;
    r.locale.assign(frame, static_cast<size_t>(at), static_cast<size_t>(size_locale));
    at += size_locale;
    r.data.assign(frame, static_cast<size_t>(at), std::string::npos);
    r.framed = true;
    if (r.command == kCommandPrinterItem)
        DecodeItem(r);
    return r;
}

std::string EncodeReply(const Reply& reply)
{
    return Header(reply.code, reply.status, static_cast<int32_t>(reply.payload.size())) +
           reply.payload;
}

Plan MakePlan(const Reply& reply, const FaultRule* fault)
{
    Plan plan;
    const int32_t length = static_cast<int32_t>(reply.payload.size());
    if (!fault) {
        plan.bytes = EncodeReply(reply);
        return plan;
    }
    switch (fault->kind) {
    case FaultKind::Refuse:
        plan.bytes = Header(static_cast<int16_t>(fault->arg), reply.status, length) + reply.payload;
        break;
    case FaultKind::CloseBefore:
        plan.end = Plan::End::Close;
        break;
    case FaultKind::CloseAfterHeader:
        plan.bytes = Header(reply.code, reply.status, length);
        plan.end = Plan::End::Close;
        break;
    case FaultKind::HalfPayload:
        plan.bytes = EncodeReply(reply).substr(0, kHeaderSize + reply.payload.size() / 2);
        plan.end = Plan::End::Close;
        break;
    case FaultKind::Length:
        plan.bytes =
            Header(reply.code, reply.status, static_cast<int32_t>(fault->arg)) + reply.payload;
        break;
    case FaultKind::Payload: {
        std::string payload = reply.payload;
        payload.resize(static_cast<size_t>(fault->arg), '\0');
        plan.bytes =
            Header(reply.code, reply.status, static_cast<int32_t>(payload.size())) + payload;
        break;
    }
    case FaultKind::Delay:
        plan.bytes = EncodeReply(reply);
        plan.delay_ms = fault->arg;
        break;
    case FaultKind::Silent:
        break;
    case FaultKind::Reset:
        plan.end = Plan::End::Reset;
        break;
    case FaultKind::Bytes:
        plan.bytes = Header(reply.code, reply.status, static_cast<int32_t>(fault->bytes.size())) +
                     fault->bytes;
        break;
    case FaultKind::Stray:
        // Well-formed and accepted, so a client that reads one frame too few
        // takes it for the answer to its next request.
        plan.bytes = EncodeReply(reply) + EncodeReply(Reply{kOk, reply.status, fault->bytes});
        break;
    case FaultKind::Repeat:
        plan.bytes = EncodeReply(reply) + EncodeReply(reply);
        break;
    case FaultKind::Store:
    case FaultKind::StoreXor:
        plan.bytes = EncodeReply(reply);
        break;
    }
    return plan;
}

uint16_t KeptTimer(uint16_t sent, const FaultRule* fault)
{
    if (fault && fault->kind == FaultKind::Store)
        return static_cast<uint16_t>(fault->arg);
    if (fault && fault->kind == FaultKind::StoreXor)
        return static_cast<uint16_t>(sent ^ fault->arg);
    return sent;
}

std::string Hex(const std::string& bytes)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

std::string Quoted(const std::string& text)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kDigits[c >> 4];
            out += kDigits[c & 0xF];
        }
    }
    return out + "\"";
}

}  // namespace zsim
