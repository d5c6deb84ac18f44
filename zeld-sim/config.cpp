#include "config.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    if (!ParseInt(word.substr(0, dot), -128, 255, a) || !ParseInt(word.substr(dot + 1), -128, 255, b))
        return false;
    major = static_cast<int8_t>(static_cast<uint8_t>(a & 0xFF));
    minor = static_cast<int8_t>(static_cast<uint8_t>(b & 0xFF));
    return true;
}

struct KindName {
    const char* name;
    FaultKind kind;
    bool takes_arg;
    int64_t min;
    int64_t max;
};

// Payload sizes stop at 64 so that a rule cannot make the simulator build a
// huge answer; `length` only declares a size, so it may say anything.
constexpr std::array<KindName, 9> kKinds{{
    {"refuse", FaultKind::Refuse, true, -32768, 32767},
    {"close-before", FaultKind::CloseBefore, false, 0, 0},
    {"close-after-header", FaultKind::CloseAfterHeader, false, 0, 0},
    {"half-payload", FaultKind::HalfPayload, false, 0, 0},
    {"length", FaultKind::Length, true, INT32_MIN, INT32_MAX},
    {"payload", FaultKind::Payload, true, 0, 64},
    {"delay", FaultKind::Delay, true, 0, 3600000},
    {"silent", FaultKind::Silent, false, 0, 0},
    {"reset", FaultKind::Reset, false, 0, 0},
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

}  // namespace

bool ParsePrinter(const std::string& text, SimPrinter& out, std::string& error)
{
    const auto w = Words(text);
    int64_t timer = 0;
    if (w.size() != 3) {
        error = "printer wants NAME MAJOR.MINOR TIMER: \"" + text + "\"";
        return false;
    }
    if (!ParseFirmware(w[1], out.major, out.minor)) {
        error = "bad firmware version \"" + w[1] + "\" (want MAJOR.MINOR)";
        return false;
    }
    if (!ParseInt(w[2], 0, 0xFFFF, timer)) {
        error = "bad timer \"" + w[2] + "\" (want 0 to 65535, or 0x0 to 0xFFFF)";
        return false;
    }
    out.name = w[0];
    out.timer = static_cast<uint16_t>(timer);
    return true;
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
    if (kind->takes_arg) {
        if (w.size() <= next || !ParseInt(w[next], kind->min, kind->max, rule.arg)) {
            error = "fault " + w[2] + " wants a number from " + std::to_string(kind->min) + " to " +
                    std::to_string(kind->max);
            return false;
        }
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

namespace {

bool ParseSettings(const std::string& text, bool printers_allowed, Settings& out, std::string& error)
{
    Settings settings;
    const bool ok = ForEachLine(text, error, [&](const std::string& keyword, const std::string& rest,
                                                 std::string& err) {
        if (keyword == "printer" && printers_allowed) {
            SimPrinter p;
            if (!ParsePrinter(rest, p, err))
                return false;
            settings.printers.push_back(p);
            return true;
        }
        if (keyword == "fault") {
            FaultRule r;
            if (!ParseFault(rest, r, err))
                return false;
            settings.faults.push_back(r);
            return true;
        }
        err = "unknown keyword \"" + keyword + (printers_allowed ? "\" (want printer or fault)" : "\" (want fault)");
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
        {"Brelko-M210", 1, 2, 4},
        {"Brelko-M220", 1, 1, 0x8002},
        {"Brelko-M230", 2, 10, 8},
        {"Brelko-M240C", 1, 3, 1},
        {"Brelko-M250C", 1, 0, 0x8008},
        {"Brelko-M220-Office", 1, 5, 3},
        {"Brelko-M240C-Old", 1, 2, 4},
    };
}

bool ParseState(const std::string& text, TimerState& out, std::string& error)
{
    TimerState state;
    const bool ok = ForEachLine(text, error, [&](const std::string& name, const std::string& rest,
                                                 std::string& err) {
        int64_t timer = 0;
        if (!ParseInt(Trimmed(rest), 0, 0xFFFF, timer)) {
            err = "want NAME TIMER, timer 0 to 65535";
            return false;
        }
        state[name] = static_cast<uint16_t>(timer);
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
        out += name + " " + std::to_string(timer) + "\n";
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
