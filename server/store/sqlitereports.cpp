// SqliteStore: what the clients report, the statistics read from it, and the
// console's users and sessions.
#include "sqlitestore.h"

#include "days.h"

#include <map>

namespace vexor::server {

using sqlite::Transaction;

namespace {

const char* eventSql(ClientEvent event)
{
    // The column is chosen here, never from the request.
    switch (event) {
    case ClientEvent::Startup:
        return "INSERT INTO client_days (day, client_id, startups) VALUES (?, ?, ?)"
               " ON CONFLICT (day, client_id) DO UPDATE SET startups = startups + excluded.startups";
    case ClientEvent::Install:
        return "INSERT INTO client_days (day, client_id, installs) VALUES (?, ?, ?)"
               " ON CONFLICT (day, client_id) DO UPDATE SET installs = installs + excluded.installs";
    case ClientEvent::VersionCheck:
        break;
    }
    return "INSERT INTO client_days (day, client_id, version_checks) VALUES (?, ?, ?)"
           " ON CONFLICT (day, client_id) DO UPDATE SET version_checks = version_checks + excluded.version_checks";
}

} // namespace

void SqliteStore::recordEvent(ClientEvent event, std::string_view clientId, std::string_view day, std::int64_t count)
{
    if (count <= 0)
        return;
    auto db = m_pool.acquire();
    db->prepare(eventSql(event)).bindText(1, day).bindBlob(2, clientId).bind(3, count).run();
}

void SqliteStore::recordDisplays(const DisplayReport& report, std::string_view clientId, std::string_view day)
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Write);
    db->prepare("INSERT INTO client_days (day, client_id, reports) VALUES (?, ?, 1)"
                " ON CONFLICT (day, client_id) DO UPDATE SET reports = reports + 1")
        .bindText(1, day)
        .bindBlob(2, clientId)
        .run();
    for (int slot = 0; slot < SlotCount; ++slot) {
        const auto& id = report.ids[slot];
        const auto count = static_cast<std::int64_t>(report.counts[slot]);
        if (id == EmptySlotId || count == 0)
            continue;
        db->prepare("INSERT INTO display_days (day, client_id, banner_id, displays) VALUES (?, ?, ?, ?)"
                    " ON CONFLICT (day, client_id, banner_id) DO UPDATE SET displays = displays + excluded.displays")
            .bindText(1, day)
            .bindBlob(2, clientId)
            .bindText(3, id)
            .bind(4, count)
            .run();
        db->prepare("INSERT INTO banner_days (day, banner_id, displays) VALUES (?, ?, ?)"
                    " ON CONFLICT (day, banner_id) DO UPDATE SET displays = displays + excluded.displays")
            .bindText(1, day)
            .bindText(2, id)
            .bind(3, count)
            .run();
    }
    tx.commit();
}

void SqliteStore::recordClick(std::string_view bannerId, std::string_view day)
{
    auto db = m_pool.acquire();
    db->prepare("INSERT INTO banner_days (day, banner_id, clicks) VALUES (?, ?, 1)"
                " ON CONFLICT (day, banner_id) DO UPDATE SET clicks = clicks + 1")
        .bindText(1, day)
        .bindText(2, bannerId)
        .run();
}

void SqliteStore::recordRejected(std::string_view clientId, std::string_view day, std::string_view reason)
{
    auto db = m_pool.acquire();
    db->prepare("INSERT INTO rejected_days (day, client_id, reason, rejected) VALUES (?, ?, ?, 1)"
                " ON CONFLICT (day, client_id, reason) DO UPDATE SET rejected = rejected + 1")
        .bindText(1, day)
        .bindBlob(2, clientId)
        .bindText(3, reason)
        .run();
}

std::vector<DayTotals> SqliteStore::dayTotals(std::string_view from, std::string_view to)
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
    auto shown = db->prepare("SELECT day, SUM(displays), SUM(clicks) FROM banner_days WHERE day BETWEEN ? AND ? GROUP BY day");
    shown.bindText(1, from).bindText(2, to);
    while (shown.step()) {
        auto& totals = row(shown.bytes(0));
        totals.displays = shown.integer(1);
        totals.clicks = shown.integer(2);
    }
    auto clients = db->prepare(
        "SELECT day, SUM(startups), SUM(installs), COUNT(*) FROM client_days WHERE day BETWEEN ? AND ? GROUP BY day");
    clients.bindText(1, from).bindText(2, to);
    while (clients.step()) {
        auto& totals = row(clients.bytes(0));
        totals.startups = clients.integer(1);
        totals.installs = clients.integer(2);
        totals.clients = clients.integer(3);
    }
    return days;
}

std::vector<BannerDay> SqliteStore::bannerDays(std::string_view from, std::string_view to, std::string_view bannerId)
{
    dayRange(from, to);
    auto db = m_pool.acquire();
    auto st = db->prepare("SELECT day, banner_id, displays, clicks FROM banner_days"
                          " WHERE day BETWEEN ? AND ? AND (? = '' OR banner_id = ?) AND (displays > 0 OR clicks > 0)"
                          " ORDER BY day, banner_id");
    st.bindText(1, from).bindText(2, to).bindText(3, bannerId).bindText(4, bannerId);
    std::vector<BannerDay> rows;
    while (st.step())
        rows.push_back({ st.bytes(0), st.bytes(1), st.integer(2), st.integer(3) });
    return rows;
}

std::int64_t SqliteStore::rejectedReports(std::string_view from, std::string_view to)
{
    dayRange(from, to);
    auto db = m_pool.acquire();
    auto st = db->prepare("SELECT COALESCE(SUM(rejected), 0) FROM rejected_days WHERE day BETWEEN ? AND ?");
    st.bindText(1, from).bindText(2, to);
    return st.step() ? st.integer(0) : 0;
}

std::int64_t SqliteStore::distinctClients(std::string_view from, std::string_view to)
{
    dayRange(from, to);
    auto db = m_pool.acquire();
    auto st = db->prepare("SELECT COUNT(DISTINCT client_id) FROM client_days WHERE day BETWEEN ? AND ?");
    st.bindText(1, from).bindText(2, to);
    return st.step() ? st.integer(0) : 0;
}

void SqliteStore::setUser(std::string_view user, std::string_view passwordHash)
{
    if (user.empty())
        throw StoreRejected("a user name is needed");
    auto db = m_pool.acquire();
    db->prepare("INSERT INTO users (name, password_hash) VALUES (?, ?)"
                " ON CONFLICT (name) DO UPDATE SET password_hash = excluded.password_hash")
        .bindText(1, user)
        .bindText(2, passwordHash)
        .run();
}

std::optional<std::string> SqliteStore::passwordHash(std::string_view user)
{
    return namedBytes("SELECT password_hash FROM users WHERE name = ?", user);
}

bool SqliteStore::hasUsers()
{
    auto db = m_pool.acquire();
    return db->prepare("SELECT 1 FROM users LIMIT 1").step();
}

void SqliteStore::recordFailedLogin(std::string_view user, UnixTime now)
{
    auto db = m_pool.acquire();
    db->prepare("INSERT INTO failed_logins (user_name, at) VALUES (?, ?)").bindText(1, user).bind(2, now).run();
}

int SqliteStore::failedLoginsSince(std::string_view user, UnixTime since)
{
    auto db = m_pool.acquire();
    auto st = db->prepare("SELECT COUNT(*) FROM failed_logins WHERE user_name = ? AND at >= ?");
    st.bindText(1, user).bind(2, since);
    return st.step() ? static_cast<int>(st.integer(0)) : 0;
}

void SqliteStore::clearFailedLogins(std::string_view user)
{
    auto db = m_pool.acquire();
    db->prepare("DELETE FROM failed_logins WHERE user_name = ?").bindText(1, user).run();
}

void SqliteStore::saveSession(const ConsoleSession& session)
{
    auto db = m_pool.acquire();
    db->prepare("INSERT INTO sessions (token, user_name, csrf_token, expires) VALUES (?, ?, ?, ?)"
                " ON CONFLICT (token) DO UPDATE SET user_name = excluded.user_name,"
                " csrf_token = excluded.csrf_token, expires = excluded.expires")
        .bindText(1, session.token)
        .bindText(2, session.user)
        .bindText(3, session.csrfToken)
        .bind(4, session.expires)
        .run();
}

std::optional<ConsoleSession> SqliteStore::session(std::string_view token, UnixTime now)
{
    auto db = m_pool.acquire();
    auto st = db->prepare("SELECT user_name, csrf_token, expires FROM sessions WHERE token = ? AND expires > ?");
    st.bindText(1, token).bind(2, now);
    if (!st.step())
        return std::nullopt;
    return ConsoleSession { std::string(token), st.bytes(0), st.bytes(1), st.integer(2) };
}

void SqliteStore::deleteSession(std::string_view token)
{
    auto db = m_pool.acquire();
    db->prepare("DELETE FROM sessions WHERE token = ?").bindText(1, token).run();
}

void SqliteStore::forgetLogins(UnixTime now, UnixTime failuresBefore)
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Write);
    db->prepare("DELETE FROM sessions WHERE expires <= ?").bind(1, now).run();
    db->prepare("DELETE FROM failed_logins WHERE at < ?").bind(1, failuresBefore).run();
    tx.commit();
}

} // namespace vexor::server
