#include "resolution.h"

#include <algorithm>
#include <set>

#include "format.h"
#include "i18n.h"

namespace {

// One queue whatever its letter case, as CUPS compares names.
std::string Identity(const std::string& name)
{
    std::string identity = name;
    for (char& c : identity) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return identity;
}

// The entries in the order of their first mention, each queue once.
class Entries {
public:
    void Queue(const DiscoveredPrinter& queue, const Setting& setting)
    {
        if (seen_.insert(Identity(queue.name)).second)
            list_.push_back(Entry{&queue, Begin(queue), setting});
    }
    // A queue that is there but cannot be worked on.
    void Rejected(const DiscoveredPrinter& queue)
    {
        if (!seen_.insert(Identity(queue.name)).second)
            return;
        PrinterResult result = Begin(queue);
        if (PpdFailed(queue)) {
            result = Unworked(result, Outcome::kFailed, FailureKind::kPpdFailed);
            result.failure.detail = queue.detail;
        } else {
            result = Unworked(result, Outcome::kFailed, FailureKind::kUnsupportedModel);
        }
        list_.push_back(Entry{nullptr, result, Setting{}});
    }
    void Unknown(const std::string& name)
    {
        if (!seen_.insert(Identity(name)).second)
            return;
        PrinterResult result;
        result.queue = name;
        list_.push_back(Entry{
            nullptr, Unworked(result, Outcome::kFailed, FailureKind::kUnknownQueue), Setting{}});
    }
    std::vector<Entry> Take() { return std::move(list_); }

private:
    std::vector<Entry> list_;
    std::set<std::string> seen_;
};

// The queue names on standard input, one a line.
void ReadNames(std::istream& in, std::vector<std::string>* words)
{
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            words->push_back(line);
    }
}

// One word of get or set: a queue named, or the queues a pattern matches.
// False when a pattern matches none.
bool AddWord(const std::string& word, const Options& options, const Inventory& inventory,
             Entries* entries)
{
    const auto kept = [&](const DiscoveredPrinter& queue) {
        return options.model.empty() || queue.model == options.model;
    };
    if (!IsPattern(word)) {
        if (const DiscoveredPrinter* queue = FindQueue(inventory.listed, word)) {
            if (kept(*queue))
                entries->Queue(*queue, options.setting);
        } else if (const DiscoveredPrinter* other = FindQueue(inventory.others, word)) {
            entries->Rejected(*other);
        } else {
            entries->Unknown(word);
        }
        return true;
    }
    bool matched = false;
    for (const DiscoveredPrinter& queue : inventory.listed) {
        if (!Selects(word, queue))
            continue;
        matched = true;
        if (kept(queue))
            entries->Queue(queue, options.setting);
    }
    // A queue whose PPD could not be read may be one the pattern meant.
    for (const DiscoveredPrinter& queue : inventory.others) {
        if (PpdFailed(queue) && Selects(word, queue)) {
            matched = true;
            entries->Rejected(queue);
        }
    }
    return matched;
}

bool Excluded(const Options& options, const Entry& entry)
{
    DiscoveredPrinter named;
    named.name = entry.result.queue;
    const DiscoveredPrinter& queue = entry.queue ? *entry.queue : named;
    return std::any_of(options.excludes.begin(), options.excludes.end(),
                       [&](const std::string& pattern) { return Selects(pattern, queue); });
}

}  // namespace

Resolution ResolveNames(const Options& options, const Inventory& inventory, std::istream& names_in)
{
    Resolution resolution;
    std::vector<std::string> words;
    for (const std::string& word : options.queues)
        word == "-" ? ReadNames(names_in, &words) : words.push_back(word);
    const bool writes = CommandOf(options.command).writes;
    Entries entries;
    // No names given: every listed queue, and those whose PPD could not be
    // read, which --model cannot tell from the others. No names on standard
    // input are no names: "-" never means every printer.
    if (options.all || options.queues.empty()) {
        for (const DiscoveredPrinter& queue : inventory.listed) {
            if (options.model.empty() || queue.model == options.model)
                entries.Queue(queue, options.setting);
        }
        for (const DiscoveredPrinter& queue : inventory.others) {
            if (PpdFailed(queue))
                entries.Rejected(queue);
        }
    }
    for (const std::string& word : words) {
        if (AddWord(word, options, inventory, &entries))
            continue;
        if (writes || !options.quiet)
            resolution.warnings.push_back(
                Printf(_("no listed queue matches \"%s\""), word.c_str()));
        if (writes) {
            resolution.usage_error = true;
            return resolution;
        }
    }
    resolution.entries = entries.Take();
    auto& list = resolution.entries;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const Entry& entry) { return Excluded(options, entry); }),
               list.end());
    if (list.empty() && writes) {
        resolution.warnings.push_back(_("the selection holds no queue: nothing written"));
        resolution.usage_error = true;
    }
    return resolution;
}

Resolution ResolvePolicy(const std::vector<PolicyLine>& policy, const std::string& source,
                         const Inventory& inventory)
{
    Resolution resolution;
    Entries entries;
    std::vector<bool> used(policy.size(), false);
    for (const DiscoveredPrinter& queue : inventory.listed) {
        const Setting* setting = nullptr;
        for (size_t i = 0; i < policy.size(); ++i) {
            if (!Selects(policy[i].selector, queue))
                continue;
            setting = &policy[i].setting;
            used[i] = true;
        }
        if (setting)
            entries.Queue(queue, *setting);
    }
    // Among the others: one whose PPD could not be read is a failed printer
    // wherever a line could have chosen it, by name or by model; one that
    // is no supported printer only where a line names it.
    for (const DiscoveredPrinter& queue : inventory.others) {
        bool chosen = false;
        for (size_t i = 0; i < policy.size(); ++i) {
            const std::string& selector = policy[i].selector;
            const bool names = !IsPattern(selector) && !IsModelSelector(selector) &&
                               SameQueue(selector, queue.name);
            const bool could =
                PpdFailed(queue) && (IsModelSelector(selector) || Selects(selector, queue));
            if (names || could)
                chosen = used[i] = true;
        }
        if (chosen)
            entries.Rejected(queue);
    }
    for (size_t i = 0; i < policy.size(); ++i) {
        if (used[i])
            continue;
        resolution.warnings.push_back(
            Printf(_("%s:%d: selects no queue"), source.c_str(), policy[i].line));
        resolution.unmatched = true;
    }
    resolution.entries = entries.Take();
    return resolution;
}

size_t QueueCount(const Resolution& resolution)
{
    return static_cast<size_t>(std::count_if(resolution.entries.begin(), resolution.entries.end(),
                                             [](const Entry& entry) { return entry.queue; }));
}

bool AnyRejected(const Resolution& resolution)
{
    return QueueCount(resolution) < resolution.entries.size();
}
