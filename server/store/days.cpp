#include "days.h"

#include "store.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace vexor::server {

namespace chr = std::chrono;

namespace {

std::optional<unsigned> digits(std::string_view text)
{
    unsigned value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || text.front() == '+' || text.front() == '-')
        return std::nullopt;
    return value;
}

} // namespace

std::string utcDay(std::int64_t time)
{
    return dayFromNumber(time >= 0 ? time / 86400 : (time - 86399) / 86400);
}

std::optional<std::int64_t> dayNumber(std::string_view day)
{
    if (day.size() != 10 || day[4] != '-' || day[7] != '-')
        return std::nullopt;
    const auto y = digits(day.substr(0, 4));
    const auto m = digits(day.substr(5, 2));
    const auto d = digits(day.substr(8, 2));
    if (!y || !m || !d || *y < 1970)
        return std::nullopt;
    const chr::year_month_day date { chr::year(static_cast<int>(*y)), chr::month(*m), chr::day(*d) };
    if (!date.ok())
        return std::nullopt;
    return chr::sys_days(date).time_since_epoch().count();
}

std::string dayFromNumber(std::int64_t number)
{
    const chr::year_month_day date { chr::sys_days(chr::days(number)) };
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
        static_cast<unsigned>(date.day()));
    return text;
}

std::pair<std::int64_t, std::int64_t> dayRange(std::string_view from, std::string_view to)
{
    const auto first = dayNumber(from);
    const auto last = dayNumber(to);
    if (!first || !last)
        throw StoreRejected("a day is written YYYY-MM-DD");
    if (*last < *first)
        throw StoreRejected("the period ends before it begins");
    if (*last - *first >= MaxDays)
        throw StoreRejected("a period covers at most " + std::to_string(MaxDays) + " days");
    return { *first, *last };
}

} // namespace vexor::server
