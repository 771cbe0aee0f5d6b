#include "reports.h"

#include "lineup.h"
#include "query.h"

#include "platform/asciitext.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vexor::server {

namespace {

constexpr std::size_t IdsLength = SlotCount * 6;
constexpr std::size_t MaxStartupDigits = 9;
constexpr std::size_t MaxTitle = 200;

// The entities a page may use in an attribute for "&".
std::string decodeAmpersands(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool replaced = false;
        for (const std::string_view entity : { "&amp;", "&#38;", "&#x26;" }) {
            if (text.substr(i).starts_with(entity)) {
                out += '&';
                i += entity.size() - 1;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += text[i];
    }
    return out;
}

// Every href attribute's value, quoted with " or '.
std::vector<std::string> hrefs(std::string_view page)
{
    std::vector<std::string> values;
    std::string lower(page);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (auto at = lower.find("href"); at != std::string::npos; at = lower.find("href", at + 4)) {
        auto i = at + 4;
        while (i < page.size() && std::isspace(static_cast<unsigned char>(page[i])))
            ++i;
        if (i >= page.size() || page[i] != '=')
            continue;
        ++i;
        while (i < page.size() && std::isspace(static_cast<unsigned char>(page[i])))
            ++i;
        if (i >= page.size() || (page[i] != '"' && page[i] != '\''))
            continue;
        const auto end = page.find(page[i], i + 1);
        if (end == std::string_view::npos)
            break;
        values.push_back(decodeAmpersands(page.substr(i + 1, end - i - 1)));
    }
    return values;
}

} // namespace

ReportCheck checkDisplayReport(const std::string* logoIds, const std::string* log)
{
    if (!logoIds || logoIds->size() != IdsLength)
        return { std::nullopt, "LOGOIDS" };
    if (!log || log->size() != IdsLength
        || !std::all_of(log->begin(), log->end(), [](char c) { return platform::hexValue(c) >= 0; }))
        return { std::nullopt, "LOG" };
    DisplayReport report;
    for (int slot = 0; slot < SlotCount; ++slot) {
        report.ids[slot] = logoIds->substr(static_cast<std::size_t>(slot) * 6, 6);
        if (!isBannerId(report.ids[slot]))
            return { std::nullopt, "LOGOIDS" };
        const char* digits = log->data() + slot * 6;
        std::from_chars(digits, digits + 6, report.counts[slot], 16);
    }
    return { report, {} };
}

std::optional<std::int64_t> startupCount(const std::string* value)
{
    if (!value || value->empty() || value->size() > MaxStartupDigits
        || !std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto count = std::stoll(*value);
    if (count <= 0)
        return std::nullopt;
    return count;
}

std::vector<std::string> clickTargets(std::string_view page, std::string_view bannerId)
{
    std::vector<std::string> targets;
    for (const auto& href : hrefs(page)) {
        const auto question = href.find('?');
        if (question == std::string::npos || !std::string_view(href).substr(0, question).ends_with("/click"))
            continue;
        const auto pairs = parseQuery(href);
        const std::string* banner = findValue(pairs, "b");
        const std::string* to = findValue(pairs, "to");
        if (banner && to && *banner == bannerId && !to->empty()
            && std::find(targets.begin(), targets.end(), *to) == targets.end())
            targets.push_back(*to);
    }
    return targets;
}

std::string pageTitle(std::string_view page)
{
    std::string lower(page);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto open = lower.find("<title>");
    if (open == std::string::npos)
        return {};
    const auto start = open + 7;
    const auto close = lower.find("</title>", start);
    if (close == std::string::npos)
        return {};
    std::string title(page.substr(start, std::min(close - start, MaxTitle)));
    std::replace_if(title.begin(), title.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
    return title;
}

} // namespace vexor::server
