#include "json_output.h"

#include <cstdint>
#include <cstdio>

#include "commands.h"
#include "printerops.h"

namespace {

// The length of the UTF-8 sequence at `text[i]`, or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF included).
size_t Utf8Length(const std::string& text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned first = byte(i);
    if (first < 0x80)
        return 1;
    const size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
    if (length == 0 || first > 0xF4 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    const unsigned second = byte(i + 1);
    if ((first == 0xE0 && second < 0xA0) || (first == 0xED && second >= 0xA0) ||
        (first == 0xF0 && second < 0x90) || (first == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

std::string Escape(unsigned char c)
{
    switch (c) {
    case '"':
        return "\\\"";
    case '\\':
        return "\\\\";
    case '\n':
        return "\\n";
    case '\t':
        return "\\t";
    default:
        break;
    }
    char code[8];
    std::snprintf(code, sizeof code, "\\u%04x", c);
    return c < 0x20 ? std::string(code) : std::string(1, static_cast<char>(c));
}

std::string Bool(bool value)
{
    return value ? "true" : "false";
}

// "key": value pairs of one object, in the order added.
class Object {
public:
    Object& Add(const std::string& key, const std::string& raw_value)
    {
        text_ += (text_.empty() ? "" : ", ") + JsonString(key) + ": " + raw_value;
        return *this;
    }
    Object& Text(const std::string& key, const std::string& value)
    {
        return Add(key, JsonString(value));
    }
    std::string str() const { return "{" + text_ + "}"; }

private:
    std::string text_;
};

std::string Array(const std::vector<std::string>& items)
{
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i)
        text += (i ? ",\n    " : "\n    ") + items[i];
    return text + (items.empty() ? "]" : "\n  ]");
}

std::string Document(const char* command, const std::string& extra,
                     const std::vector<std::string>& printers)
{
    return "{\n  \"command\": \"" + std::string(command) + "\"," + extra +
           "\n  \"printers\": " + Array(printers) + "\n}\n";
}

std::string Timer(uint16_t timer)
{
    return Object()
        .Add("enabled", Bool(!(timer & TIMER_OFF)))
        .Add("hours", std::to_string(timer & TIMER_HOURS))
        .Add("raw", std::to_string(timer))
        .str();
}

Object Printer(const std::string& queue, const std::string& model, const std::string& driver)
{
    Object object;
    object.Text("queue", queue).Text("model", model).Text("driver", driver);
    return object;
}

std::string ListEntry(const DiscoveredPrinter& queue)
{
    const std::string reason = ListingReason(queue);
    Object object = Printer(queue.name, queue.model, queue.driver);
    object.Add("driver_supported", Bool(DriverVersionSupported(queue.driver.c_str())))
        .Add("listed", Bool(reason.empty()));
    if (!reason.empty())
        object.Text("reason", reason);
    if (PpdFailed(queue) && !queue.detail.empty())
        object.Text("detail", queue.detail);
    const std::string near = NearModel(queue);
    if (!near.empty())
        object.Text("supported_model", near);
    return object.str();
}

const char* ResultName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::kRead:
        return "read";
    case Outcome::kUnchanged:
        return "unchanged";
    case Outcome::kChanged:
        return "changed";
    case Outcome::kWouldChange:
        return "would-change";
    case Outcome::kUnconfirmed:
        return "unconfirmed";
    case Outcome::kFailed:
        return "failed";
    case Outcome::kNotDone:
        break;
    }
    return "not-done";
}

std::string OptionalTimer(const std::optional<uint16_t>& timer)
{
    return timer ? Timer(*timer) : "null";
}

std::string ResultEntry(const PrinterResult& result, Command command)
{
    Object object = Printer(result.queue, result.model, result.driver);
    object.Add("firmware", result.firmware.empty() ? "null" : JsonString(result.firmware))
        .Add("min_firmware", result.min_firmware.empty() ? "null" : JsonString(result.min_firmware))
        .Add("timer", OptionalTimer(result.timer));
    if (CommandOf(command).wants_value)
        object.Add("wanted", OptionalTimer(result.wanted))
            .Add("after", OptionalTimer(result.held))
            .Add("reply_lost", Bool(result.reply_lost));
    object.Text("result", ResultName(result.outcome));
    const Failure& failure = result.failure;
    if (failure.kind != FailureKind::kNone)
        object.Text("error", FailureCode(failure.kind));
    if (!failure.detail.empty())
        object.Text("detail", failure.detail);
    if (failure.kind == FailureKind::kRefused)
        object.Add("daemon_code", std::to_string(failure.daemon_code));
    return object.str();
}

}  // namespace

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const size_t length = Utf8Length(text, i);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
        } else if (length == 1) {
            out += Escape(static_cast<unsigned char>(text[i++]));
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out + "\"";
}

std::string ListJson(const Inventory& inventory, bool all)
{
    std::vector<std::string> printers;
    for (const DiscoveredPrinter& queue : inventory.listed)
        printers.push_back(ListEntry(queue));
    for (const DiscoveredPrinter& queue : all ? inventory.others : std::vector<DiscoveredPrinter>{})
        printers.push_back(ListEntry(queue));
    return Document("list", "", printers);
}

// Whether any printer was written, and how many came out each way: what a
// configuration tool asks first.
std::string Summary(const std::vector<PrinterResult>& results)
{
    int counts[5] = {};
    for (const PrinterResult& result : results) {
        switch (result.outcome) {
        case Outcome::kChanged:
            ++counts[0];
            break;
        case Outcome::kUnchanged:
            ++counts[1];
            break;
        case Outcome::kWouldChange:
            ++counts[2];
            break;
        case Outcome::kUnconfirmed:
            ++counts[3];
            break;
        case Outcome::kRead:
            break;
        case Outcome::kFailed:
        case Outcome::kNotDone:
            ++counts[4];
            break;
        }
    }
    // An unconfirmed write may have taken: a tool must not call it unchanged.
    const bool changed = counts[0] + counts[3] > 0;
    Object summary;
    summary.Add("changed", std::to_string(counts[0]))
        .Add("unchanged", std::to_string(counts[1]))
        .Add("would_change", std::to_string(counts[2]))
        .Add("unconfirmed", std::to_string(counts[3]))
        .Add("failed", std::to_string(counts[4]));
    return "\n  \"changed\": " + Bool(changed) + ",\n  \"summary\": " + summary.str() + ",";
}

std::string ResultsJson(Command command, bool dry_run, const std::vector<PrinterResult>& results)
{
    std::vector<std::string> printers;
    for (const PrinterResult& result : results)
        printers.push_back(ResultEntry(result, command));
    std::string extra;
    const CommandRow& row = CommandOf(command);
    if (row.writes)
        extra += "\n  \"dry_run\": " + Bool(dry_run) + ",";
    if (row.wants_value)
        extra += Summary(results);
    return Document(CommandOf(command).name, extra, printers);
}
