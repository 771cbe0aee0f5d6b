#include "pgstore.h"

#include "content.h"
#include "listfile.h"
#include "schema.h"

#include <ctime>
#include <map>

namespace vexor::server {

using pg::Connection;
using pg::Params;
using pg::Transaction;

namespace {

constexpr int MaxIdAttempts = 20;
// The advisory lock that orders the migrations of servers starting together
// ("vexor" in ASCII); it is held by one session only while it migrates.
constexpr std::int64_t MigrationLock = 0x766578'6f72;

const char* listKindName(ListKind kind)
{
    return kind == ListKind::Languages ? "languages" : "modules";
}

bool isImageType(std::string_view type)
{
    return type == "image/gif" || type == "image/png" || type == "image/jpeg";
}

UnixTime nowOr(UnixTime given)
{
    return given ? given : static_cast<UnixTime>(std::time(nullptr));
}

bool bannerExists(Connection& db, std::string_view id)
{
    return !db.run("SELECT 1 FROM banners WHERE id = $1", Params().text(id)).empty();
}

void writeLinks(Connection& db, std::string_view id, const std::vector<std::string>& targets)
{
    db.run("DELETE FROM banner_links WHERE banner_id = $1", Params().text(id));
    for (std::size_t i = 0; i < targets.size(); ++i) {
        db.run("INSERT INTO banner_links (banner_id, position, url) VALUES ($1, $2, $3)",
            Params().text(id).integer(static_cast<std::int64_t>(i)).text(targets[i]));
    }
}

std::vector<std::string> readLinks(Connection& db, std::string_view id)
{
    const auto rows = db.run("SELECT url FROM banner_links WHERE banner_id = $1 ORDER BY position", Params().text(id));
    std::vector<std::string> links;
    for (int row = 0; row < rows.rows(); ++row)
        links.push_back(rows.bytes(row, 0));
    return links;
}

Params& optionalInteger(Params& params, const std::optional<std::int64_t>& value)
{
    return value ? params.integer(*value) : params.null();
}

std::optional<std::int64_t> optionalInteger(const pg::Result& rows, int row, int column)
{
    if (rows.isNull(row, column))
        return std::nullopt;
    return rows.integer(row, column);
}

// The values of a line-up's own row, $1 to $5, in the order both the insert
// and the update name them.
Params lineupParams(const StoredLineup& lineup)
{
    Params params;
    params.text(lineup.name).integer(lineup.lineup.intervalMs);
    optionalInteger(params, lineup.validFrom);
    optionalInteger(params, lineup.validUntil);
    if (lineup.clientId)
        params.bytes(*lineup.clientId);
    else
        params.null();
    return params;
}

// Holds the migration lock for the life of the object.
class MigrationGuard {
public:
    explicit MigrationGuard(Connection& db)
        : m_db(db)
    {
        m_db.run("SELECT pg_advisory_lock($1)", Params().integer(MigrationLock));
    }
    ~MigrationGuard()
    {
        try {
            m_db.run("SELECT pg_advisory_unlock($1)", Params().integer(MigrationLock));
        } catch (const StoreError&) {
            // A session that broke has given the lock up with it.
        }
    }
    MigrationGuard(const MigrationGuard&) = delete;
    MigrationGuard& operator=(const MigrationGuard&) = delete;

private:
    Connection& m_db;
};

} // namespace

bool isPostgresLocation(std::string_view location)
{
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

PgStore::PgStore(const std::string& location)
    : m_pool(location)
{
    migrate();
}

void PgStore::migrate()
{
    auto db = m_pool.acquire();
    // CREATE TABLE IF NOT EXISTS is not safe against a second session doing
    // the same, so even the version table is made under the lock.
    const MigrationGuard guard(*db);
    db->exec(MigrationTableSql);
    const auto current = static_cast<int>(db->run("SELECT COALESCE(MAX(version), 0) FROM schema_migrations").integer(0, 0));
    const int known = migrations().back().version;
    if (current > known)
        throw StoreError("the store's schema is version " + std::to_string(current) + ", newer than this program's "
            + std::to_string(known));
    for (const auto& migration : migrations()) {
        if (migration.version <= current)
            continue;
        Transaction tx(*db, Transaction::Kind::Write);
        db->exec(dialectSql(migration.sql, Dialect::Postgresql));
        db->run("INSERT INTO schema_migrations (version, applied) VALUES ($1, $2)",
            Params().integer(migration.version).integer(nowOr(0)));
        tx.commit();
    }
}

std::vector<BannerInfo> PgStore::banners()
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Read);
    const auto rows = db->run("SELECT id, name, image_type, LENGTH(image), LENGTH(page), retired, created"
                              " FROM banners ORDER BY created, id");
    std::vector<BannerInfo> list;
    for (int r = 0; r < rows.rows(); ++r) {
        list.push_back({ rows.bytes(r, 0), rows.bytes(r, 1), rows.bytes(r, 2), static_cast<std::size_t>(rows.integer(r, 3)),
            static_cast<std::size_t>(rows.integer(r, 4)), readLinks(*db, rows.bytes(r, 0)), rows.integer(r, 5) != 0,
            rows.integer(r, 6) });
    }
    return list;
}

std::optional<Banner> PgStore::banner(std::string_view id)
{
    if (!pg::isText(id))
        return std::nullopt;
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Read);
    const auto rows
        = db->run("SELECT name, image_type, image, page, retired, created FROM banners WHERE id = $1", Params().text(id));
    if (rows.empty())
        return std::nullopt;
    return Banner { std::string(id), rows.bytes(0, 0), rows.bytes(0, 1), rows.bytes(0, 2), rows.bytes(0, 3),
        readLinks(*db, id), rows.integer(0, 4) != 0, rows.integer(0, 5) };
}

std::string PgStore::addBanner(Banner banner)
{
    if (!banner.id.empty() && (!isBannerId(banner.id) || banner.id == EmptySlotId))
        throw StoreRejected("a banner id is six letters or digits, not 000000");
    if (!isImageType(banner.imageType))
        throw StoreRejected("the image must be a GIF, PNG or JPEG");
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Write);
    if (banner.id.empty()) {
        for (int attempt = 0; attempt < MaxIdAttempts && (banner.id.empty() || bannerExists(*db, banner.id)); ++attempt)
            banner.id = randomBannerId();
    }
    if (bannerExists(*db, banner.id))
        throw StoreRejected("banner " + banner.id + " exists already");
    db->run("INSERT INTO banners (id, name, image_type, image, page, retired, created) VALUES ($1, $2, $3, $4, $5, $6, $7)",
        Params()
            .text(banner.id)
            .text(banner.name)
            .text(banner.imageType)
            .bytes(banner.image)
            .bytes(banner.page)
            .integer(banner.retired ? 1 : 0)
            .integer(nowOr(banner.created)));
    writeLinks(*db, banner.id, banner.linkTargets);
    tx.commit();
    return banner.id;
}

void PgStore::updateBanner(std::string_view id, const std::string& name, const std::vector<std::string>& linkTargets)
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Write);
    if (db->run("UPDATE banners SET name = $1 WHERE id = $2 RETURNING id", Params().text(name).text(id)).empty())
        throw StoreRejected("no banner " + std::string(id));
    writeLinks(*db, id, linkTargets);
    tx.commit();
}

void PgStore::retireBanner(std::string_view id, bool retired)
{
    auto db = m_pool.acquire();
    if (db->run("UPDATE banners SET retired = $1 WHERE id = $2 RETURNING id", Params().integer(retired ? 1 : 0).text(id))
            .empty())
        throw StoreRejected("no banner " + std::string(id));
}

std::vector<std::string> PgStore::linkTargets(std::string_view bannerId)
{
    if (!pg::isText(bannerId))
        return {};
    auto db = m_pool.acquire();
    return readLinks(*db, bannerId);
}

std::optional<BannerFile> PgStore::bannerImage(std::string_view id)
{
    if (!pg::isText(id))
        return std::nullopt;
    auto db = m_pool.acquire();
    const auto rows = db->run("SELECT image_type, image FROM banners WHERE id = $1", Params().text(id));
    if (rows.empty())
        return std::nullopt;
    return BannerFile { rows.bytes(0, 0), rows.bytes(0, 1) };
}

std::optional<std::string> PgStore::bannerPage(std::string_view id)
{
    return namedBytes("SELECT page FROM banners WHERE id = $1", id);
}

std::vector<StoredLineup> PgStore::lineups()
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Read);
    const auto rows = db->run("SELECT id, name, interval_ms, valid_from, valid_until, client_id, created FROM lineups"
                              " ORDER BY (valid_from IS NULL AND valid_until IS NULL AND client_id IS NULL) DESC, id");
    std::vector<StoredLineup> list;
    std::map<std::int64_t, std::size_t> byId;
    for (int r = 0; r < rows.rows(); ++r) {
        StoredLineup lineup;
        lineup.id = rows.integer(r, 0);
        lineup.name = rows.bytes(r, 1);
        lineup.lineup.ids.fill(std::string(EmptySlotId));
        lineup.lineup.intervalMs = static_cast<std::uint32_t>(rows.integer(r, 2));
        lineup.validFrom = optionalInteger(rows, r, 3);
        lineup.validUntil = optionalInteger(rows, r, 4);
        if (!rows.isNull(r, 5))
            lineup.clientId = rows.bytes(r, 5);
        lineup.created = rows.integer(r, 6);
        byId[lineup.id] = list.size();
        list.push_back(std::move(lineup));
    }
    const auto slots = db->run("SELECT lineup_id, slot, banner_id FROM lineup_slots WHERE banner_id IS NOT NULL");
    for (int r = 0; r < slots.rows(); ++r) {
        const auto it = byId.find(slots.integer(r, 0));
        const auto slot = slots.integer(r, 1);
        if (it != byId.end() && slot >= 0 && slot < SlotCount)
            list[it->second].lineup.ids[static_cast<std::size_t>(slot)] = slots.bytes(r, 2);
    }
    return list;
}

void PgStore::checkLineupSlots(Connection& db, const StoredLineup& lineup)
{
    if (lineup.lineup.intervalMs > MaxIntervalMs)
        throw StoreRejected("the interval is at most 16777215 milliseconds");
    if (lineup.validFrom && lineup.validUntil && *lineup.validUntil <= *lineup.validFrom)
        throw StoreRejected("the period ends before it begins");
    std::array<std::string, SlotCount> before;
    const auto old = db.run("SELECT slot, banner_id FROM lineup_slots WHERE lineup_id = $1 AND banner_id IS NOT NULL",
        Params().integer(lineup.id));
    for (int r = 0; r < old.rows(); ++r) {
        if (const auto slot = old.integer(r, 0); slot >= 0 && slot < SlotCount)
            before[static_cast<std::size_t>(slot)] = old.bytes(r, 1);
    }
    for (int slot = 0; slot < SlotCount; ++slot) {
        const auto& id = lineup.lineup.ids[slot];
        const std::string where = "slot " + std::to_string(slot) + ": ";
        if (!isBannerId(id))
            throw StoreRejected(where + "a banner id is six letters or digits");
        if (id == EmptySlotId)
            continue;
        // FOR SHARE: a banner retired by another server meanwhile waits for
        // this line-up, or this one sees it retired.
        const auto rows = db.run("SELECT retired FROM banners WHERE id = $1 FOR SHARE", Params().text(id));
        if (rows.empty())
            throw StoreRejected(where + "no banner " + id);
        // A banner retired after it was planned may stay where it is.
        if (rows.integer(0, 0) != 0 && before[slot] != id)
            throw StoreRejected(where + "banner " + id + " is retired");
    }
}

std::int64_t PgStore::saveLineup(const StoredLineup& lineup)
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Write);
    checkLineupSlots(*db, lineup);
    std::int64_t id = lineup.id;
    if (id == 0) {
        id = db->run("INSERT INTO lineups (name, interval_ms, valid_from, valid_until, client_id, created)"
                     " VALUES ($1, $2, $3, $4, $5, $6) RETURNING id",
                   lineupParams(lineup).integer(nowOr(lineup.created)))
                 .integer(0, 0);
    } else {
        const auto updated = db->run("UPDATE lineups SET name = $1, interval_ms = $2, valid_from = $3, valid_until = $4,"
                                     " client_id = $5 WHERE id = $6 RETURNING id",
            lineupParams(lineup).integer(id));
        if (updated.empty())
            throw StoreRejected("no line-up " + std::to_string(id));
        db->run("DELETE FROM lineup_slots WHERE lineup_id = $1", Params().integer(id));
    }
    for (int slot = 0; slot < SlotCount; ++slot) {
        Params params;
        params.integer(id).integer(slot);
        const auto& banner = lineup.lineup.ids[slot];
        db->run("INSERT INTO lineup_slots (lineup_id, slot, banner_id) VALUES ($1, $2, $3)",
            banner == EmptySlotId ? params.null() : params.text(banner));
    }
    tx.commit();
    return id;
}

void PgStore::deleteLineup(std::int64_t id)
{
    auto db = m_pool.acquire();
    db->run("DELETE FROM lineups WHERE id = $1", Params().integer(id));
}

std::optional<std::string> PgStore::languageFile(std::string_view fileName)
{
    return namedBytes("SELECT body FROM language_files WHERE file_name = $1", fileName);
}

void PgStore::putLanguageFile(std::string_view fileName, std::string_view text)
{
    if (!isPlainFileName(fileName))
        throw StoreRejected("\"" + std::string(fileName) + "\" is not a plain file name");
    putNamedBytes("INSERT INTO language_files (file_name, body) VALUES ($1, $2)"
                  " ON CONFLICT (file_name) DO UPDATE SET body = excluded.body",
        fileName, text);
}

std::optional<std::string> PgStore::listFile(ListKind kind)
{
    return namedBytes("SELECT body FROM list_files WHERE kind = $1", listKindName(kind));
}

void PgStore::putListFile(ListKind kind, std::string_view text)
{
    putNamedBytes(
        "INSERT INTO list_files (kind, body) VALUES ($1, $2) ON CONFLICT (kind) DO UPDATE SET body = excluded.body",
        listKindName(kind), text);
}

std::optional<std::string> PgStore::version()
{
    return namedBytes("SELECT body FROM texts WHERE name = $1", "version");
}

void PgStore::setVersion(std::string_view text)
{
    putNamedBytes("INSERT INTO texts (name, body) VALUES ($1, $2) ON CONFLICT (name) DO UPDATE SET body = excluded.body",
        "version", text);
}

std::optional<std::string> PgStore::webPage(std::string_view name)
{
    return namedBytes("SELECT body FROM web_pages WHERE name = $1", name);
}

void PgStore::putWebPage(std::string_view name, std::string_view html)
{
    putNamedBytes(
        "INSERT INTO web_pages (name, body) VALUES ($1, $2) ON CONFLICT (name) DO UPDATE SET body = excluded.body",
        name, html);
}

std::optional<std::string> PgStore::namedBytes(const char* sql, std::string_view name)
{
    // A name that is no text (a client's Latin-1 file name) names nothing
    // stored: every stored name went in as text.
    if (!pg::isText(name))
        return std::nullopt;
    auto db = m_pool.acquire();
    const auto rows = db->run(sql, Params().text(name));
    if (rows.empty())
        return std::nullopt;
    return rows.bytes(0, 0);
}

void PgStore::putNamedBytes(const char* sql, std::string_view name, std::string_view bytes)
{
    auto db = m_pool.acquire();
    db->run(sql, Params().text(name).bytes(bytes));
}

} // namespace vexor::server
