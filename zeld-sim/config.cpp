#include "config.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace zsim {
namespace {

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// Decimal, or hexadecimal after "0x"; the whole word must be the number.
bool ParseInt(const std::string& word, int64_t min, int64_t max, int64_t& out)
{
    if (word.empty() || word.size() > 20)
        return false;
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    const char* start = word.c_str() + (hex ? 2 : 0);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(start, &end, hex ? 16 : 10);
    if (errno != 0 || end == start || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

// "MAJOR.MINOR", each a byte written in decimal (as signed -128..127 or
// unsigned 0..255; the wire carries the same byte either way).
bool ParseFirmware(const std::string& word, int8_t& major, int8_t& minor)
{
    const auto dot = word.find('.');
    if (dot == std::string::npos)
        return false;
    int64_t a = 0;
    int64_t b = 0;
    if (!ParseInt(word.substr(0, dot), -128, 255, a) ||
        !ParseInt(word.substr(dot + 1), -128, 255, b))
        return false;
    major = static_cast<int8_t>(static_cast<uint8_t>(a & 0xFF));
    minor = static_cast<int8_t>(static_cast<uint8_t>(b & 0xFF));
    return true;
}

enum class Arg { None, Number, Bytes };

struct KindName {
    const char* name;
    FaultKind kind;
    Arg arg;
    int64_t min;
    int64_t max;  // for Arg::Bytes, the most bytes
};

constexpr int64_t kMaxDelayMs = 3600000;

// Payload sizes stop at 64 so that a rule cannot make the simulator build a
// huge answer; `length` only declares a size, so it may say anything.
constexpr std::array<KindName, 14> kKinds{{
    {"refuse", FaultKind::Refuse, Arg::Number, -32768, 32767},
    {"close-before", FaultKind::CloseBefore, Arg::None, 0, 0},
    {"close-after-header", FaultKind::CloseAfterHeader, Arg::None, 0, 0},
    {"half-payload", FaultKind::HalfPayload, Arg::None, 0, 0},
    {"length", FaultKind::Length, Arg::Number, INT32_MIN, INT32_MAX},
    {"payload", FaultKind::Payload, Arg::Number, 0, 64},
    {"delay", FaultKind::Delay, Arg::Number, 0, kMaxDelayMs},
    {"silent", FaultKind::Silent, Arg::None, 0, 0},
    {"reset", FaultKind::Reset, Arg::None, 0, 0},
    {"bytes", FaultKind::Bytes, Arg::Bytes, 0, kMaxFaultBytes},
    {"stray", FaultKind::Stray, Arg::Bytes, 0, kMaxFaultBytes},
    {"repeat", FaultKind::Repeat, Arg::None, 0, 0},
    {"store", FaultKind::Store, Arg::Number, 0, 0xFFFF},
    {"store-xor", FaultKind::StoreXor, Arg::Number, 0, 0xFFFF},
}};

const KindName* FindKind(const std::string& name)
{
    for (const auto& k : kKinds)
        if (name == k.name)
            return &k;
    return nullptr;
}

std::string Trimmed(const std::string& line)
{
    const auto hash = line.find('#');
    const std::string body = line.substr(0, hash);
    const auto first = body.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return body.substr(first, body.find_last_not_of(" \t\r") - first + 1);
}

// Calls `handle(keyword, rest, error)` for every non-empty line; adds the
// line number to the first error.
template <typename Handler>
bool ForEachLine(const std::string& text, std::string& error, Handler handle)
{
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string body = Trimmed(line);
        if (body.empty())
            continue;
        const auto space = body.find_first_of(" \t");
        const std::string keyword = body.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : body.substr(space + 1);
        if (!handle(keyword, rest, error)) {
            error = "line " + std::to_string(number) + ": " + error;
            return false;
        }
    }
    return true;
}

int HexValue(char c)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    const char* at = std::strchr(kDigits, std::tolower(static_cast<unsigned char>(c)));
    return c != '\0' && at ? static_cast<int>(at - kDigits) : -1;
}

// "-" for no bytes, else two hex digits a byte.
bool ParseHex(const std::string& word, size_t max_bytes, std::string& out)
{
    out.clear();
    if (word == "-")
        return true;
    if (word.empty() || word.size() % 2 != 0 || word.size() / 2 > max_bytes)
        return false;
    for (size_t i = 0; i < word.size(); i += 2) {
        const int high = HexValue(word[i]);
        const int low = HexValue(word[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high << 4 | low);
    }
    return true;
}

bool AllDigits(const std::string& word)
{
    return !word.empty() && word.size() <= 6 &&
           std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isdigit(c); });
}

struct Range {
    size_t open;
    size_t close;
    int64_t first;
    int64_t last;
    size_t width;  // zero-padded to this many digits; 0: not padded
};

// The first "{A..B}" in `word`; other braces are part of the name.
std::optional<Range> FindRange(const std::string& word)
{
    for (size_t open = word.find('{'); open != std::string::npos; open = word.find('{', open + 1)) {
        const size_t close = word.find('}', open);
        if (close == std::string::npos)
            return std::nullopt;
        const std::string inner = word.substr(open + 1, close - open - 1);
        const size_t dots = inner.find("..");
        if (dots == std::string::npos)
            continue;
        const std::string a = inner.substr(0, dots);
        const std::string b = inner.substr(dots + 2);
        Range r{open, close, 0, 0, 0};
        if (!AllDigits(a) || !AllDigits(b) || !ParseInt(a, 0, 999999, r.first) ||
            !ParseInt(b, 0, 999999, r.last))
            continue;
        // As the shell does it: a leading zero on either end pads them all.
        if ((a.size() > 1 && a[0] == '0') || (b.size() > 1 && b[0] == '0'))
            r.width = std::max(a.size(), b.size());
        return r;
    }
    return std::nullopt;
}

bool ExpandNames(const std::string& word, std::vector<std::string>& out, std::string& error)
{
    const auto range = FindRange(word);
    if (!range) {
        out = {word};
        return true;
    }
    if (range->first > range->last) {
        error = "range in \"" + word + "\" counts down";
        return false;
    }
    std::vector<std::string> tails;
    if (!ExpandNames(word.substr(range->close + 1), tails, error))
        return false;
    const auto count = static_cast<uint64_t>(range->last - range->first + 1) * tails.size();
    if (count > kMaxExpandedNames) {
        error =
            "\"" + word + "\" names more than " + std::to_string(kMaxExpandedNames) + " printers";
        return false;
    }
    const std::string head = word.substr(0, range->open);
    out.clear();
    for (int64_t i = range->first; i <= range->last; ++i) {
        std::string number = std::to_string(i);
        if (number.size() < range->width)
            number.insert(0, range->width - number.size(), '0');
        for (const auto& tail : tails)
            out.push_back(head + number + tail);
    }
    return true;
}

bool ParsePrinter(const std::vector<std::string>& w, SimPrinter& out, std::string& error)
{
    int64_t timer = 0;
    if (!ParseFirmware(w[1], out.major, out.minor)) {
        error = "bad firmware version \"" + w[1] + "\" (want MAJOR.MINOR)";
        return false;
    }
    if (!ParseInt(w[2], 0, 0xFFFF, timer)) {
        error = "bad timer \"" + w[2] + "\" (want 0 to 65535, or 0x0 to 0xFFFF)";
        return false;
    }
    out.timer = static_cast<uint16_t>(timer);
    if (w.size() == 5 && !ParseInt(w[4], 0, kMaxDelayMs, out.delay_ms)) {
        error = "bad delay \"" + w[4] + "\" (want 0 to " + std::to_string(kMaxDelayMs) +
                " milliseconds)";
        return false;
    }
    return true;
}

bool ParseArg(const KindName& kind, const std::string& word, FaultRule& rule, std::string& error)
{
    const std::string name = kind.name;
    if (kind.arg == Arg::Bytes) {
        if (ParseHex(word, static_cast<size_t>(kind.max), rule.bytes))
            return true;
        error = "fault " + name + " wants up to " + std::to_string(kind.max) +
                " bytes in hex (such as 0400), or -";
        return false;
    }
    if (ParseInt(word, kind.min, kind.max, rule.arg))
        return true;
    error = "fault " + name + " wants a number from " + std::to_string(kind.min) + " to " +
            std::to_string(kind.max);
    return false;
}

bool ParseFault(const std::string& text, FaultRule& out, std::string& error)
{
    const auto w = Words(text);
    error = "fault wants PRINTER ITEM KIND [ARG] [count N]: \"" + text + "\"";
    if (w.size() < 3)
        return false;
    FaultRule rule;
    rule.printer = w[0];
    rule.text = text;
    if (w[1] != "*") {
        int64_t item = 0;
        if (!ParseInt(w[1], INT32_MIN, INT32_MAX, item))
            return false;
        rule.item = static_cast<int32_t>(item);
    }
    const KindName* kind = FindKind(w[2]);
    if (!kind) {
        error = "unknown fault \"" + w[2] + "\"";
        return false;
    }
    rule.kind = kind->kind;
    size_t next = 3;
    if (kind->arg != Arg::None) {
        if (!ParseArg(*kind, w.size() > next ? w[next] : "", rule, error))
            return false;
        ++next;
    }
    if (w.size() == next + 2 && w[next] == "count") {
        int64_t count = 0;
        if (!ParseInt(w[next + 1], 1, INT32_MAX, count))
            return false;
        rule.remaining = static_cast<int>(count);
        next += 2;
    }
    if (w.size() != next)
        return false;
    out = rule;
    error.clear();
    return true;
}

}  // namespace

bool ParsePrinters(const std::string& text, std::vector<SimPrinter>& out, std::string& error)
{
    const auto w = Words(text);
    if (w.size() != 3 && !(w.size() == 5 && w[3] == "delay")) {
        error = "printer wants NAME MAJOR.MINOR TIMER [delay MS]: \"" + text + "\"";
        return false;
    }
    SimPrinter printer;
    std::vector<std::string> names;
    if (!ParsePrinter(w, printer, error) || !ExpandNames(w[0], names, error))
        return false;
    for (const auto& name : names) {
        printer.name = name;
        out.push_back(printer);
    }
    return true;
}

bool ParseFaults(const std::string& text, std::vector<FaultRule>& out, std::string& error)
{
    FaultRule rule;
    std::vector<std::string> names;
    if (!ParseFault(text, rule, error) || !ExpandNames(rule.printer, names, error))
        return false;
    for (const auto& name : names) {
        rule.printer = name;
        out.push_back(rule);
    }
    return true;
}

namespace {

bool ParseSettings(const std::string& text, bool printers_allowed, Settings& out,
                   std::string& error)
{
    Settings settings;
    const bool ok = ForEachLine(
        text, error, [&](const std::string& keyword, const std::string& rest, std::string& err) {
            if (keyword == "printer" && printers_allowed)
                return ParsePrinters(rest, settings.printers, err);
            if (keyword == "fault")
                return ParseFaults(rest, settings.faults, err);
            err = "unknown keyword \"" + keyword +
                  (printers_allowed ? "\" (want printer or fault)" : "\" (want fault)");
            return false;
        });
    if (ok)
        out = settings;
    return ok;
}

}  // namespace

bool ParseConfig(const std::string& text, Settings& out, std::string& error)
{
    return ParseSettings(text, true, out, error);
}

bool ParseControl(const std::string& text, std::vector<FaultRule>& out, std::string& error)
{
    Settings settings;
    if (!ParseSettings(text, false, settings, error))
        return false;
    out = settings.faults;
    return true;
}

std::vector<SimPrinter> DefaultPrinters()
{
    // One queue per supported model, plus a second M220 and an M240C whose
    // firmware (01.02) is below that model's minimum (01.03).
    return {
        {"Brelko-M210", 1, 2, 4},       {"Brelko-M220", 1, 1, 0x8002},
        {"Brelko-M230", 2, 10, 8},      {"Brelko-M240C", 1, 3, 1},
        {"Brelko-M250C", 1, 0, 0x8008}, {"Brelko-M220-Office", 1, 5, 3},
        {"Brelko-M240C-Old", 1, 2, 4},
    };
}

namespace {

// A request may name a printer with any bytes, but a state line ends its
// name at a blank and its text at '#'. Bytes outside printable ASCII, and
// '#' and '%', are therefore written "%XX", so every name reads back as it
// was; a '%' not followed by two hex digits is kept as it stands, so names
// written before escaping existed read as they always did.
bool PlainInName(unsigned char c)
{
    return c > ' ' && c < 0x7F && c != '#' && c != '%';
}

std::string EscapeName(const std::string& name)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : name) {
        if (PlainInName(c)) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        out += kDigits[c >> 4];
        out += kDigits[c & 0xF];
    }
    return out;
}

std::string UnescapeName(const std::string& word)
{
    std::string out;
    for (size_t i = 0; i < word.size(); ++i) {
        const int high = word[i] == '%' && i + 2 < word.size() ? HexValue(word[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(word[i + 2]) : -1;
        if (low < 0) {
            out += word[i];
            continue;
        }
        out += static_cast<char>(high << 4 | low);
        i += 2;
    }
    return out;
}

}  // namespace

bool ParseState(const std::string& text, TimerState& out, std::string& error)
{
    TimerState state;
    const bool ok = ForEachLine(
        text, error, [&](const std::string& name, const std::string& rest, std::string& err) {
            int64_t timer = 0;
            if (!ParseInt(Trimmed(rest), 0, 0xFFFF, timer)) {
                err = "want NAME TIMER, timer 0 to 65535";
                return false;
            }
            state[UnescapeName(name)] = static_cast<uint16_t>(timer);
            return true;
        });
    if (ok)
        out = state;
    return ok;
}

std::string FormatState(const TimerState& state)
{
    std::string out = "# zeld-sim state: queue name, auto shutdown timer\n";
    for (const auto& [name, timer] : state)
        out += EscapeName(name) + " " + std::to_string(timer) + "\n";
    return out;
}

bool SaveStateAtomically(const std::string& path, const TimerState& state, std::string& error)
{
    const std::string text = FormatState(state);
    const std::string tmp = path + ".tmp." + std::to_string(getpid());
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = tmp + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    if (!ok)
        error = tmp + ": " + std::strerror(errno);
    if (close(fd) != 0 && ok) {
        ok = false;
        error = tmp + ": " + std::strerror(errno);
    }
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = path + ": " + std::strerror(errno);
    }
    if (!ok)
        unlink(tmp.c_str());
    return ok;
}

}  // namespace zsim
