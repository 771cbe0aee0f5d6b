#include "forms.h"
#include "page.h"

#include <map>

// Displays and clicks per banner per day for a chosen period, and the same
// figures as CSV.
namespace vexor::server::console {

namespace {

struct Period {
    std::string from {}, to {}, banner {};
    std::string fromError {}, toError {}, bannerError {};
    bool ok() const { return fromError.empty() && toError.empty() && bannerError.empty(); }
};

// Reads from, to and banner of the query; a missing period is the last 30
// days up to today.
Period readPeriod(const Page& page)
{
    const auto today = dayOf(page.now);
    Period period { page.param("from"), page.param("to"), page.param("banner") };
    if (period.from.empty())
        period.from = addDays(today, -29);
    if (period.to.empty())
        period.to = today;
    period.fromError = checkDay(period.from).error;
    period.toError = checkDay(period.to).error;
    if (period.ok() && period.to < period.from)
        period.toError = "the last day is before the first";
    else if (period.ok() && daysBetween(period.from, period.to).size() > 3660)
        period.toError = "at most ten years at a time";
    if (!period.banner.empty() && !page.store.banner(period.banner))
        period.bannerError = "there is no banner " + period.banner;
    return period;
}

Html bannerOptions(Page& page, const std::string& chosen)
{
    Html options = templateNamed("statistics.option").render({ { "id", "" }, { "caption", "All banners" },
        { "selected", chosen.empty() ? "selected" : "" } });
    for (const auto& banner : page.store.banners())
        options += templateNamed("statistics.option").render({ { "id", banner.id },
            { "caption", banner.id + " " + banner.name + (banner.retired ? " (retired)" : "") },
            { "selected", banner.id == chosen ? "selected" : "" } });
    return options;
}

void statistics(Page& page)
{
    const auto period = readPeriod(page);
    Html dayRows, rows;
    std::int64_t displays = 0, clicks = 0;
    if (period.ok()) {
        const auto days = page.store.bannerDays(period.from, period.to, period.banner);
        std::map<std::string, std::pair<std::int64_t, std::int64_t>> perDay;
        for (const auto& row : days) {
            rows += templateNamed("statistics.row").render({ { "day", row.day }, { "banner", row.bannerId },
                { "displays", row.displays }, { "clicks", row.clicks }, { "rate", rateText(row.clicks, row.displays) } });
            perDay[row.day].first += row.displays;
            perDay[row.day].second += row.clicks;
            displays += row.displays;
            clicks += row.clicks;
        }
        for (const auto& day : daysBetween(period.from, period.to))
            dayRows += templateNamed("statistics.dayrow").render({ { "day", day },
                { "displays", perDay[day].first }, { "clicks", perDay[day].second } });
    }
    const auto body = templateNamed("statistics").render({ { "from", period.from }, { "to", period.to },
        { "options", bannerOptions(page, period.banner) }, { "fromError", fieldError("from", period.fromError) },
        { "toError", fieldError("to", period.toError) }, { "bannerError", fieldError("banner", period.bannerError) },
        { "dayRows", dayRows }, { "rows", rows }, { "displays", displays }, { "clicks", clicks },
        { "rate", rateText(clicks, displays) }, { "banner", period.banner.empty() ? "all banners" : period.banner },
        { "bannerId", period.banner } });
    page.show("Statistics", "statistics", body, period.ok() ? 200 : 400);
}

void exportDisplays(Page& page)
{
    const auto period = readPeriod(page);
    if (!period.ok()) {
        page.res.status = 400;
        const auto& error = !period.fromError.empty() ? "from: " + period.fromError
            : !period.toError.empty()                 ? "to: " + period.toError
                                                      : "banner: " + period.bannerError;
        return page.res.set_content(error + "\n", "text/plain; charset=utf-8");
    }
    std::string csv = "date,banner_id,displays,clicks\r\n";
    for (const auto& row : page.store.bannerDays(period.from, period.to, period.banner))
        csv += row.day + "," + row.bannerId + "," + std::to_string(row.displays) + "," + std::to_string(row.clicks) + "\r\n";
    page.res.set_header("Content-Disposition",
        "attachment; filename=\"displays-" + period.from + "-" + period.to + ".csv\"");
    page.res.set_content(csv, "text/csv; charset=utf-8");
}

} // namespace

void addStatisticsPages(Routes& routes)
{
    routes.get("/console/statistics", statistics);
    routes.get("/console/export/displays.csv", exportDisplays);
}

} // namespace vexor::server::console
