#include "forms.h"
#include "page.h"

#include <algorithm>
#include <map>

// The overview: what the clients reported today, in the last 7 and the last
// 30 days, as tables (the figures) and charts drawn from those tables.
namespace vexor::server::console {

namespace {

struct Period {
    const char* caption;
    int days;
};
constexpr Period Periods[] = { { "Today", 1 }, { "Last 7 days", 7 }, { "Last 30 days", 30 } };

// Every day of the period, days without reports as zeros.
std::vector<DayTotals> fullDays(const std::vector<DayTotals>& stored, const std::string& from, const std::string& to)
{
    std::map<std::string, DayTotals, std::less<>> byDay;
    for (const auto& day : stored)
        byDay[day.day] = day;
    std::vector<DayTotals> out;
    for (const auto& day : daysBetween(from, to)) {
        auto found = byDay.find(day);
        out.push_back(found != byDay.end() ? found->second : DayTotals { day });
    }
    return out;
}

DayTotals sum(const std::vector<DayTotals>& days, std::size_t last)
{
    DayTotals total;
    for (std::size_t i = days.size() - std::min(last, days.size()); i < days.size(); ++i) {
        total.displays += days[i].displays;
        total.clicks += days[i].clicks;
        total.startups += days[i].startups;
        total.installs += days[i].installs;
    }
    return total;
}

Html summaryTable(Store& store, const std::vector<DayTotals>& days, const std::string& today)
{
    DayTotals totals[3];
    for (int i = 0; i < 3; ++i) {
        totals[i] = sum(days, std::size_t(Periods[i].days));
        // Distinct ids do not add up across days: the store counts them.
        totals[i].clients = store.distinctClients(addDays(today, 1 - Periods[i].days), today);
    }
    using Getter = std::string (*)(const DayTotals&);
    static constexpr std::pair<const char*, Getter> Rows[] = {
        { "Displays", [](const DayTotals& t) { return std::to_string(t.displays); } },
        { "Clicks", [](const DayTotals& t) { return std::to_string(t.clicks); } },
        { "Click-through rate", [](const DayTotals& t) { return rateText(t.clicks, t.displays); } },
        { "Start-ups", [](const DayTotals& t) { return std::to_string(t.startups); } },
        { "Installations", [](const DayTotals& t) { return std::to_string(t.installs); } },
        { "Client ids (distinct)", [](const DayTotals& t) { return std::to_string(t.clients); } } };
    Html rows;
    for (const auto& [caption, get] : Rows)
        rows += templateNamed("overview.summaryrow").render({ { "caption", caption }, { "today", get(totals[0]) },
            { "week", get(totals[1]) }, { "month", get(totals[2]) } });
    return rows;
}

Html dayTable(const std::vector<DayTotals>& days, int count, const char* caption, const char* id)
{
    const auto first = days.end() - std::min<std::ptrdiff_t>(count, std::ptrdiff_t(days.size()));
    Html rows;
    for (auto day = first; day != days.end(); ++day)
        rows += templateNamed("overview.dayrow").render({ { "day", day->day }, { "displays", day->displays },
            { "clicks", day->clicks }, { "rate", rateText(day->clicks, day->displays) },
            { "startups", day->startups }, { "installs", day->installs }, { "clients", day->clients } });
    return templateNamed("overview.days").render({ { "caption", caption }, { "id", id }, { "rows", rows } });
}

void overview(Page& page)
{
    const auto today = dayOf(page.now);
    const auto from = addDays(today, -29);
    const auto days = fullDays(page.store.dayTotals(from, today), from, today);
    const auto body = templateNamed("overview").render({ { "today", today }, { "summary", summaryTable(page.store, days, today) },
        { "week", dayTable(days, 7, "Last 7 days", "days7") }, { "month", dayTable(days, 30, "Last 30 days", "days30") },
        { "rejected", page.store.rejectedReports(from, today) } });
    page.show("Overview", "overview", body);
}

} // namespace

void addOverviewPages(Routes& routes)
{
    routes.get("/console/", overview);
}

} // namespace vexor::server::console
