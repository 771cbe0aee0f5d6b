#include "lineup.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <stdexcept>

namespace vexor::server {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t ShownValueLength = 20;

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::vector<std::string_view> splitValues(std::string_view text)
{
    std::vector<std::string_view> values;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '#') {
            while (i < text.size() && text[i] != '\n' && text[i] != '\r')
                ++i;
        } else if (isSeparator(text[i])) {
            ++i;
        } else {
            const auto start = i;
            while (i < text.size() && !isSeparator(text[i]) && text[i] != '#')
                ++i;
            values.push_back(text.substr(start, i - start));
        }
    }
    return values;
}

// For error messages: short, and without bytes that would garble a terminal.
std::string shown(std::string_view value)
{
    std::string out;
    for (const char c : value.substr(0, ShownValueLength))
        out += (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) ? '?' : c;
    if (value.size() > ShownValueLength)
        out += "...";
    return "\"" + out + "\"";
}

std::optional<std::uint32_t> parseInterval(std::string_view value)
{
    std::uint32_t ms = 0;
    const auto* end = value.data() + value.size();
    const auto [ptr, ec] = std::from_chars(value.data(), end, ms);
    if (ec != std::errc() || ptr != end || ms > MaxIntervalMs)
        return std::nullopt;
    return ms;
}

} // namespace

bool isBannerId(std::string_view id)
{
    return id.size() == EmptySlotId.size() && std::all_of(id.begin(), id.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80;
    });
}

LineupParse parseLineup(std::string_view text)
{
    if (text.starts_with(Utf8Bom))
        text.remove_prefix(Utf8Bom.size());
    const auto values = splitValues(text);
    if (values.size() != SlotCount + 1)
        return { std::nullopt,
            "expected ten banner ids and an interval, found " + std::to_string(values.size()) + " values" };
    Lineup lineup;
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (!isBannerId(values[slot]))
            return { std::nullopt,
                "value " + std::to_string(slot + 1) + ": " + shown(values[slot])
                    + " is not a banner id (six letters or digits)" };
        lineup.ids[slot] = std::string(values[slot]);
    }
    const auto interval = parseInterval(values[SlotCount]);
    if (!interval)
        return { std::nullopt,
            "value 11: " + shown(values[SlotCount]) + " is not an interval (0 to 16777215 milliseconds)" };
    lineup.intervalMs = *interval;
    return { lineup, {} };
}

std::string countAnswer(const Lineup& lineup)
{
    std::string answer;
    answer.reserve(SlotCount * EmptySlotId.size() + 6);
    for (const auto& id : lineup.ids)
        answer += id;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%06X", static_cast<unsigned>(std::min(lineup.intervalMs, MaxIntervalMs)));
    answer += hex;
    return answer;
}

LineupRotation::LineupRotation(std::vector<Lineup> lineups, std::uint64_t every)
    : m_lineups(std::move(lineups))
    , m_every(every)
{
    if (m_lineups.empty())
        throw std::invalid_argument("LineupRotation needs at least one line-up");
}

const Lineup& LineupRotation::next()
{
    const auto served = m_served.fetch_add(1, std::memory_order_relaxed);
    if (m_every == 0)
        return m_lineups.front();
    return m_lineups[(served / m_every) % m_lineups.size()];
}

} // namespace vexor::server
