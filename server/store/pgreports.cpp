// PgStore: what the clients report, the statistics read from it, and the
// console's users and sessions.
#include "pgstore.h"

#include "days.h"

#include <map>

namespace vexor::server {

using pg::Params;
using pg::Transaction;

namespace {

const char* eventSql(ClientEvent event)
{
    // The column is chosen here, never from the request.
    switch (event) {
    case ClientEvent::Startup:
        return "INSERT INTO client_days (day, client_id, startups) VALUES ($1, $2, $3)"
               " ON CONFLICT (day, client_id) DO UPDATE SET startups = client_days.startups + excluded.startups";
    case ClientEvent::Install:
        return "INSERT INTO client_days (day, client_id, installs) VALUES ($1, $2, $3)"
               " ON CONFLICT (day, client_id) DO UPDATE SET installs = client_days.installs + excluded.installs";
    case ClientEvent::VersionCheck:
        break;
    }
    return "INSERT INTO client_days (day, client_id, version_checks) VALUES ($1, $2, $3)"
           " ON CONFLICT (day, client_id) DO UPDATE SET version_checks = client_days.version_checks + excluded.version_checks";
}

} // namespace

void PgStore::recordEvent(ClientEvent event, std::string_view clientId, std::string_view day, std::int64_t count)
{
    if (count <= 0)
        return;
    auto db = m_pool.acquire();
    db->run(eventSql(event), Params().text(day).bytes(clientId).integer(count));
}

// One statement, one round trip: the client's row, then the banners' rows of
// both tables from two arrays ($3 the ids, $4 the counts). The sub-statements
// run in the same order on every server and each inserts its rows in the
// order of the ids, so servers recording reports that share banners take the
// rows' locks in one order and wait for each other instead of deadlocking.
// Each is an upsert: the row as it is when the lock is granted is added to.
constexpr const char* DisplaysSql =
    "WITH client AS ("
    " INSERT INTO client_days (day, client_id, reports) VALUES ($1, $2, 1)"
    " ON CONFLICT (day, client_id) DO UPDATE SET reports = client_days.reports + 1 RETURNING 1),"
    " shown AS (SELECT id, n FROM unnest($3::text[], $4::bigint[]) AS s(id, n) ORDER BY id),"
    " per_client AS ("
    " INSERT INTO display_days (day, banner_id, client_id, displays) SELECT $1, id, $2, n FROM shown ORDER BY id"
    " ON CONFLICT (day, banner_id, client_id) DO UPDATE SET displays = display_days.displays + excluded.displays"
    " RETURNING 1)"
    " INSERT INTO banner_days (day, banner_id, displays) SELECT $1, id, n FROM shown ORDER BY id"
    " ON CONFLICT (day, banner_id) DO UPDATE SET displays = banner_days.displays + excluded.displays";

void PgStore::recordDisplays(const DisplayReport& report, std::string_view clientId, std::string_view day)
{
    // Each banner once (a statement may not update a row twice), in id order.
    std::map<std::string, std::int64_t> shown;
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (report.ids[slot] != EmptySlotId && report.counts[slot] != 0)
            shown[report.ids[slot]] += report.counts[slot];
    }
    // Array literals; every element quoted, so no id can add one.
    std::string ids = "{";
    std::string counts = "{";
    for (const auto& [id, count] : shown) {
        const char* comma = ids.size() > 1 ? "," : "";
        ids += comma + std::string("\"");
        for (const char c : id)
            ids += (c == '"' || c == '\\') ? std::string { '\\', c } : std::string(1, c);
        ids += '"';
        counts += comma + std::to_string(count);
    }
    auto db = m_pool.acquire();
    db->run(DisplaysSql, Params().text(day).bytes(clientId).text(ids + "}").text(counts + "}"));
}

void PgStore::recordClick(std::string_view bannerId, std::string_view day)
{
    auto db = m_pool.acquire();
    db->run("INSERT INTO banner_days (day, banner_id, clicks) VALUES ($1, $2, 1)"
            " ON CONFLICT (day, banner_id) DO UPDATE SET clicks = banner_days.clicks + 1",
        Params().text(day).text(bannerId));
}

void PgStore::recordRejected(std::string_view clientId, std::string_view day, std::string_view reason)
{
    auto db = m_pool.acquire();
    db->run("INSERT INTO rejected_days (day, client_id, reason, rejected) VALUES ($1, $2, $3, 1)"
            " ON CONFLICT (day, client_id, reason) DO UPDATE SET rejected = rejected_days.rejected + 1",
        Params().text(day).bytes(clientId).text(reason));
}

std::vector<DayTotals> PgStore::dayTotals(std::string_view from, std::string_view to)
{
    const auto [first, last] = dayRange(from, to);
    std::vector<DayTotals> days;
    for (auto n = first; n <= last; ++n)
        days.push_back({ dayFromNumber(n) });
    const auto row = [&](const std::string& day) -> DayTotals& {
        return days[static_cast<std::size_t>(*dayNumber(day) - first)];
    };
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Read);
    const auto shown = db->run(
        "SELECT day, SUM(displays), SUM(clicks) FROM banner_days WHERE day BETWEEN $1 AND $2 GROUP BY day",
        Params().text(from).text(to));
    for (int r = 0; r < shown.rows(); ++r) {
        auto& totals = row(shown.bytes(r, 0));
        totals.displays = shown.integer(r, 1);
        totals.clicks = shown.integer(r, 2);
    }
    const auto clients = db->run("SELECT day, SUM(startups), SUM(installs), COUNT(*) FROM client_days"
                                 " WHERE day BETWEEN $1 AND $2 GROUP BY day",
        Params().text(from).text(to));
    for (int r = 0; r < clients.rows(); ++r) {
        auto& totals = row(clients.bytes(r, 0));
        totals.startups = clients.integer(r, 1);
        totals.installs = clients.integer(r, 2);
        totals.clients = clients.integer(r, 3);
    }
    return days;
}

std::vector<BannerDay> PgStore::bannerDays(std::string_view from, std::string_view to, std::string_view bannerId)
{
    dayRange(from, to);
    if (!pg::isText(bannerId))
        return {};
    auto db = m_pool.acquire();
    const auto rows = db->run("SELECT day, banner_id, displays, clicks FROM banner_days"
                              " WHERE day BETWEEN $1 AND $2 AND ($3 = '' OR banner_id = $3)"
                              " AND (displays > 0 OR clicks > 0) ORDER BY day, banner_id",
        Params().text(from).text(to).text(bannerId));
    std::vector<BannerDay> list;
    for (int r = 0; r < rows.rows(); ++r)
        list.push_back({ rows.bytes(r, 0), rows.bytes(r, 1), rows.integer(r, 2), rows.integer(r, 3) });
    return list;
}

std::int64_t PgStore::rejectedReports(std::string_view from, std::string_view to)
{
    dayRange(from, to);
    auto db = m_pool.acquire();
    return db->run("SELECT COALESCE(SUM(rejected), 0) FROM rejected_days WHERE day BETWEEN $1 AND $2",
                 Params().text(from).text(to))
        .integer(0, 0);
}

std::int64_t PgStore::distinctClients(std::string_view from, std::string_view to)
{
    dayRange(from, to);
    auto db = m_pool.acquire();
    return db->run("SELECT COUNT(DISTINCT client_id) FROM client_days WHERE day BETWEEN $1 AND $2",
                 Params().text(from).text(to))
        .integer(0, 0);
}

void PgStore::setUser(std::string_view user, std::string_view passwordHash)
{
    if (user.empty())
        throw StoreRejected("a user name is needed");
    auto db = m_pool.acquire();
    db->run("INSERT INTO users (name, password_hash) VALUES ($1, $2)"
            " ON CONFLICT (name) DO UPDATE SET password_hash = excluded.password_hash",
        Params().text(user).text(passwordHash));
}

std::optional<std::string> PgStore::passwordHash(std::string_view user)
{
    return namedBytes("SELECT password_hash FROM users WHERE name = $1", user);
}

bool PgStore::hasUsers()
{
    auto db = m_pool.acquire();
    return !db->run("SELECT 1 FROM users LIMIT 1").empty();
}

void PgStore::recordFailedLogin(std::string_view user, UnixTime now)
{
    // A name that no text can be is no user's: nothing to lock out.
    if (!pg::isText(user))
        return;
    auto db = m_pool.acquire();
    db->run("INSERT INTO failed_logins (user_name, at) VALUES ($1, $2)", Params().text(user).integer(now));
}

int PgStore::failedLoginsSince(std::string_view user, UnixTime since)
{
    if (!pg::isText(user))
        return 0;
    auto db = m_pool.acquire();
    return static_cast<int>(
        db->run("SELECT COUNT(*) FROM failed_logins WHERE user_name = $1 AND at >= $2", Params().text(user).integer(since))
            .integer(0, 0));
}

void PgStore::clearFailedLogins(std::string_view user)
{
    if (!pg::isText(user))
        return;
    auto db = m_pool.acquire();
    db->run("DELETE FROM failed_logins WHERE user_name = $1", Params().text(user));
}

void PgStore::saveSession(const ConsoleSession& session)
{
    auto db = m_pool.acquire();
    db->run("INSERT INTO sessions (token, user_name, csrf_token, expires) VALUES ($1, $2, $3, $4)"
            " ON CONFLICT (token) DO UPDATE SET user_name = excluded.user_name,"
            " csrf_token = excluded.csrf_token, expires = excluded.expires",
        Params().text(session.token).text(session.user).text(session.csrfToken).integer(session.expires));
}

std::optional<ConsoleSession> PgStore::session(std::string_view token, UnixTime now)
{
    if (!pg::isText(token))
        return std::nullopt;
    auto db = m_pool.acquire();
    const auto rows = db->run("SELECT user_name, csrf_token, expires FROM sessions WHERE token = $1 AND expires > $2",
        Params().text(token).integer(now));
    if (rows.empty())
        return std::nullopt;
    return ConsoleSession { std::string(token), rows.bytes(0, 0), rows.bytes(0, 1), rows.integer(0, 2) };
}

void PgStore::deleteSession(std::string_view token)
{
    if (!pg::isText(token))
        return;
    auto db = m_pool.acquire();
    db->run("DELETE FROM sessions WHERE token = $1", Params().text(token));
}

void PgStore::forgetLogins(UnixTime now, UnixTime failuresBefore)
{
    auto db = m_pool.acquire();
    db->run("DELETE FROM sessions WHERE expires <= $1", Params().integer(now));
    db->run("DELETE FROM failed_logins WHERE at < $1", Params().integer(failuresBefore));
}

} // namespace vexor::server
