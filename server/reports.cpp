#include "reports.h"

#include "lineup.h"
#include "query.h"

#include "platform/asciitext.h"

#include <algorithm>
#include <array>
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

bool isUtf8Text(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead == 0)
            return false;
        const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        std::uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        static constexpr std::array<std::uint32_t, 5> Least { 0, 0, 0x80, 0x800, 0x10000 };
        if (code < Least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

namespace {

// Windows-1252's characters at 0x80 to 0x9F; the five it leaves undefined
// keep their C1 code points. Every other byte is its own code point.
constexpr std::array<char16_t, 32> Cp1252High { 0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178 };

std::string cp1252ToUtf8(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const char32_t code = byte >= 0x80 && byte < 0xA0 ? Cp1252High[byte - 0x80] : byte;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

} // namespace

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
    std::replace_if(title.begin(), title.end(),
        [](char c) { return c == '\r' || c == '\n' || c == '\t' || c == '\0'; }, ' ');
    if (isUtf8Text(title))
        return title;
    // A UTF-8 title cut at MaxTitle in the middle of a character loses the
    // character's start; any other title is of the client's 8-bit kind, read
    // as Windows-1252.
    for (std::size_t drop = 1; close - start > MaxTitle && drop <= 3 && drop < title.size(); ++drop) {
        if (isUtf8Text(std::string_view(title).substr(0, title.size() - drop)))
            return title.substr(0, title.size() - drop);
    }
    return cp1252ToUtf8(title);
}

} // namespace vexor::server
