// What the simulator holds: its printers, its fault rules and the state file
// that keeps written timers across restarts. Everything here is text in,
// records out; no sockets.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zsim {

struct SimPrinter {
    std::string name;  // CUPS queue name, no "@host"
    int8_t major = 0;
    int8_t minor = 0;
    uint16_t timer = 0;    // bit 15: off; bits 0-14: hours
    int64_t delay_ms = 0;  // before every answer about this printer
};

enum class FaultKind {
    Refuse,            // arg: response_code
    CloseBefore,       // close without answering
    CloseAfterHeader,  // the 12-byte header, then close
    HalfPayload,       // header and the first half of the payload, then close
    Length,            // arg: declared total_length; the payload follows
    Payload,           // arg: number of payload bytes actually sent
    Delay,             // arg: milliseconds before the normal answer
    Silent,            // never answer this request
    Reset,             // close with RST (SO_LINGER 0)
    Bytes,             // bytes: the payload sent instead of the real one
    Stray,             // bytes: payload of one more frame after the answer
    Repeat,            // the answer, twice
    Store,             // arg: the timer kept instead of the one written
    StoreXor,          // arg: bits flipped in the timer written before it is kept
};

struct FaultRule {
    std::string printer;          // "*" matches every printer
    std::optional<int32_t> item;  // nullopt matches every request
    FaultKind kind = FaultKind::Refuse;
    int64_t arg = 0;
    std::string bytes;
    int remaining = -1;  // requests left to spoil; -1 for all of them
    std::string text;    // as written, for the log
};

struct Settings {
    std::vector<SimPrinter> printers;
    std::vector<FaultRule> faults;
};

// The longest payload a fault rule may carry, and the most printers one
// line may name: bounds on what a config can make the simulator build.
constexpr size_t kMaxFaultBytes = 256;
constexpr size_t kMaxExpandedNames = 4096;

// One line's worth of printers or rules, appended to `out`. A name may hold
// a range, "lp{1..64}" or "lp{01..64}", giving one printer (or rule) per
// number. Each returns false with a message in `error` on malformed text.
bool ParsePrinters(const std::string& text, std::vector<SimPrinter>& out, std::string& error);
bool ParseFaults(const std::string& text, std::vector<FaultRule>& out, std::string& error);
// "printer ..." and "fault ..." lines, blank lines and "#" comments.
bool ParseConfig(const std::string& text, Settings& out, std::string& error);
// Only "fault ..." lines (and comments): the run-time control file.
bool ParseControl(const std::string& text, std::vector<FaultRule>& out, std::string& error);

// The printers offered when neither a config file nor --printer is given;
// they match the demo's CUPS queues.
std::vector<SimPrinter> DefaultPrinters();

// State file: one "NAME TIMER" line per printer, timer in decimal; in NAME,
// blanks, '#', '%' and bytes outside printable ASCII are written "%XX".
using TimerState = std::map<std::string, uint16_t>;
bool ParseState(const std::string& text, TimerState& out, std::string& error);
std::string FormatState(const TimerState& state);
// Writes a temporary file beside `path`, flushes it to disk and renames it
// over `path`, so a reader sees the old state or the new one, never half.
bool SaveStateAtomically(const std::string& path, const TimerState& state, std::string& error);

}  // namespace zsim
