#include "selection.h"

#include <fnmatch.h>
#include <strings.h>

#include "format.h"
#include "i18n.h"

namespace {

constexpr char kModelPrefix[] = "model:";
constexpr char kBlanks[] = " \t\r";

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

bool IsPattern(const std::string& word)
{
    return word.find_first_of("*?[") != std::string::npos;
}

bool Selects(const std::string& selector, const Queue& queue)
{
    if (selector.compare(0, sizeof kModelPrefix - 1, kModelPrefix) == 0)
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
        text = Trim(text.substr(0, text.find('#')));
        if (text.empty())
            continue;
        const size_t blank = text.find_last_of(kBlanks);
        PolicyLine line;
        line.line = number;
        if (blank != std::string::npos)
            line.selector = Trim(text.substr(0, blank));
        const std::string value = blank == std::string::npos ? text : text.substr(blank + 1);
        if (line.selector.empty() || line.selector == kModelPrefix) {
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

const Setting* PolicySetting(const std::vector<PolicyLine>& policy, const Queue& queue)
{
    const Setting* found = nullptr;
    for (const PolicyLine& line : policy) {
        if (Selects(line.selector, queue))
            found = &line.setting;
    }
    return found;
}
