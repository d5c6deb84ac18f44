#include "selection.h"

#include <fnmatch.h>
#include <strings.h>

#include "format.h"
#include "i18n.h"

namespace {

constexpr char kModelPrefix[] = "model:";
constexpr char kBlanks[] = " \t\r";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Whether every "[" of a pattern has its "]": fnmatch takes an unclosed one
// for itself, so the line would select nothing its writer meant.
bool BracketsClosed(const std::string& pattern)
{
    for (size_t open = pattern.find('['); open != std::string::npos;
         open = pattern.find('[', open + 1)) {
        size_t at = open + 1;
        if (at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^'))
            ++at;
        // A "]" first in the set is one of its characters.
        const size_t close = pattern.find(']', at + 1);
        if (close == std::string::npos)
            return false;
        open = close;
    }
    return true;
}

bool WellFormed(const std::string& selector)
{
    if (selector.empty() || selector.find('\0') != std::string::npos)
        return false;
    if (IsModelSelector(selector)) {
        const std::string model = selector.substr(sizeof kModelPrefix - 1);
        return !model.empty() && model.find_first_of(kBlanks) != 0;
    }
    // A queue name has no blanks: two words are two selectors.
    return selector.find_first_of(kBlanks) == std::string::npos && BracketsClosed(selector);
}

}  // namespace

bool IsModelSelector(const std::string& selector)
{
    return selector.compare(0, sizeof kModelPrefix - 1, kModelPrefix) == 0;
}

bool IsPattern(const std::string& word)
{
    return word.find_first_of("*?[") != std::string::npos;
}

bool Selects(const std::string& selector, const DiscoveredPrinter& queue)
{
    if (IsModelSelector(selector))
        return queue.model == selector.substr(sizeof kModelPrefix - 1);
    if (!IsPattern(selector))
        return strcasecmp(selector.c_str(), queue.name.c_str()) == 0;
    return fnmatch(selector.c_str(), queue.name.c_str(), FNM_CASEFOLD) == 0;
}

bool ParsePolicy(std::istream& in, const std::string& name, std::vector<PolicyLine>* lines,
                 std::string* error)
{
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (number == 1 && text.compare(0, sizeof kByteOrderMark - 1, kByteOrderMark) == 0)
            text.erase(0, sizeof kByteOrderMark - 1);
        text = Trim(text.substr(0, text.find('#')));
        if (text.empty())
            continue;
        const size_t blank = text.find_last_of(kBlanks);
        PolicyLine line;
        line.line = number;
        if (blank != std::string::npos)
            line.selector = Trim(text.substr(0, blank));
        const std::string value = blank == std::string::npos ? text : text.substr(blank + 1);
        if (!WellFormed(line.selector)) {
            *error = Printf(_("%s:%d: a line is a queue, pattern or model:NAME, then a value"),
                            name.c_str(), number);
            return false;
        }
        if (!ParseSetting(value, &line.setting)) {
            *error = Printf(_("%s:%d: \"%s\" is not a value: off, on, or 1 to 8 hours"),
                            name.c_str(), number, value.c_str());
            return false;
        }
        lines->push_back(line);
    }
    return true;
}

const Setting* PolicySetting(const std::vector<PolicyLine>& policy, const DiscoveredPrinter& queue)
{
    const Setting* found = nullptr;
    for (const PolicyLine& line : policy) {
        if (Selects(line.selector, queue))
            found = &line.setting;
    }
    return found;
}
