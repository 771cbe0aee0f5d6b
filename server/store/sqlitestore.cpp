#include "sqlitestore.h"

#include "content.h"
#include "listfile.h"
#include "schema.h"

#include <ctime>
#include <map>

namespace vexor::server {

using sqlite::Connection;
using sqlite::Transaction;

namespace {

constexpr int MaxIdAttempts = 20;

const char* listKindName(ListKind kind)
{
    return kind == ListKind::Languages ? "languages" : "modules";
}

bool isImageType(std::string_view type)
{
    return type == "image/gif" || type == "image/png" || type == "image/jpeg";
}

bool bannerExists(Connection& db, std::string_view id)
{
    auto st = db.prepare("SELECT 1 FROM banners WHERE id = ?");
    st.bindText(1, id);
    return st.step();
}

void writeLinks(Connection& db, std::string_view id, const std::vector<std::string>& targets)
{
    db.prepare("DELETE FROM banner_links WHERE banner_id = ?").bindText(1, id).run();
    for (std::size_t i = 0; i < targets.size(); ++i) {
        db.prepare("INSERT INTO banner_links (banner_id, position, url) VALUES (?, ?, ?)")
            .bindText(1, id)
            .bind(2, static_cast<std::int64_t>(i))
            .bindText(3, targets[i])
            .run();
    }
}

std::vector<std::string> readLinks(Connection& db, std::string_view id)
{
    std::vector<std::string> links;
    auto st = db.prepare("SELECT url FROM banner_links WHERE banner_id = ? ORDER BY position");
    st.bindText(1, id);
    while (st.step())
        links.push_back(st.bytes(0));
    return links;
}

void bindOptional(sqlite::Statement& st, int index, const std::optional<std::int64_t>& value)
{
    if (value)
        st.bind(index, *value);
    else
        st.bindNull(index);
}

std::optional<std::int64_t> optionalInteger(const sqlite::Statement& st, int column)
{
    if (st.isNull(column))
        return std::nullopt;
    return st.integer(column);
}

} // namespace

SqliteStore::SqliteStore(const std::string& path)
    : m_pool(path)
{
    migrate();
}

void SqliteStore::migrate()
{
    auto db = m_pool.acquire();
    db->exec(MigrationTableSql);
    const auto applied = [&db] {
        auto st = db->prepare("SELECT COALESCE(MAX(version), 0) FROM schema_migrations");
        return st.step() ? static_cast<int>(st.integer(0)) : 0;
    };
    const int current = applied();
    const int known = migrations().back().version;
    if (current > known)
        throw StoreError("the store's schema is version " + std::to_string(current) + ", newer than this program's "
            + std::to_string(known));
    for (const auto& migration : migrations()) {
        if (migration.version <= current)
            continue;
        Transaction tx(*db, Transaction::Kind::Write);
        // A server that started at the same time may have applied it while
        // this one waited for the write lock.
        if (applied() >= migration.version)
            continue;
        db->exec(dialectSql(migration.sql, Dialect::Sqlite));
        db->prepare("INSERT INTO schema_migrations (version, applied) VALUES (?, ?)")
            .bind(1, migration.version)
            .bind(2, static_cast<std::int64_t>(std::time(nullptr)))
            .run();
        tx.commit();
    }
}

std::vector<BannerInfo> SqliteStore::banners()
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Read);
    std::vector<BannerInfo> list;
    auto st = db->prepare(
        "SELECT id, name, image_type, LENGTH(image), LENGTH(page), retired, created FROM banners ORDER BY created, id");
    while (st.step()) {
        list.push_back({ st.bytes(0), st.bytes(1), st.bytes(2), static_cast<std::size_t>(st.integer(3)),
            static_cast<std::size_t>(st.integer(4)), {}, st.integer(5) != 0, st.integer(6) });
    }
    for (auto& info : list)
        info.linkTargets = readLinks(*db, info.id);
    return list;
}

std::optional<Banner> SqliteStore::banner(std::string_view id)
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Read);
    auto st = db->prepare("SELECT name, image_type, image, page, retired, created FROM banners WHERE id = ?");
    st.bindText(1, id);
    if (!st.step())
        return std::nullopt;
    return Banner { std::string(id), st.bytes(0), st.bytes(1), st.bytes(2), st.bytes(3), readLinks(*db, id),
        st.integer(4) != 0, st.integer(5) };
}

std::string SqliteStore::addBanner(Banner banner)
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
    db->prepare("INSERT INTO banners (id, name, image_type, image, page, retired, created) VALUES (?, ?, ?, ?, ?, ?, ?)")
        .bindText(1, banner.id)
        .bindText(2, banner.name)
        .bindText(3, banner.imageType)
        .bindBlob(4, banner.image)
        .bindBlob(5, banner.page)
        .bind(6, banner.retired ? 1 : 0)
        .bind(7, banner.created ? banner.created : static_cast<UnixTime>(std::time(nullptr)))
        .run();
    writeLinks(*db, banner.id, banner.linkTargets);
    tx.commit();
    return banner.id;
}

void SqliteStore::updateBanner(std::string_view id, const std::string& name, const std::vector<std::string>& linkTargets)
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Write);
    db->prepare("UPDATE banners SET name = ? WHERE id = ?").bindText(1, name).bindText(2, id).run();
    if (db->changes() == 0)
        throw StoreRejected("no banner " + std::string(id));
    writeLinks(*db, id, linkTargets);
    tx.commit();
}

void SqliteStore::retireBanner(std::string_view id, bool retired)
{
    auto db = m_pool.acquire();
    db->prepare("UPDATE banners SET retired = ? WHERE id = ?").bind(1, retired ? 1 : 0).bindText(2, id).run();
    if (db->changes() == 0)
        throw StoreRejected("no banner " + std::string(id));
}

std::vector<std::string> SqliteStore::linkTargets(std::string_view bannerId)
{
    auto db = m_pool.acquire();
    return readLinks(*db, bannerId);
}

std::optional<BannerFile> SqliteStore::bannerImage(std::string_view id)
{
    auto db = m_pool.acquire();
    auto st = db->prepare("SELECT image_type, image FROM banners WHERE id = ?");
    st.bindText(1, id);
    if (!st.step())
        return std::nullopt;
    return BannerFile { st.bytes(0), st.bytes(1) };
}

std::optional<std::string> SqliteStore::bannerPage(std::string_view id)
{
    return namedBytes("SELECT page FROM banners WHERE id = ?", id);
}

std::vector<StoredLineup> SqliteStore::lineups()
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Read);
    std::vector<StoredLineup> list;
    std::map<std::int64_t, std::size_t> byId;
    auto st = db->prepare("SELECT id, name, interval_ms, valid_from, valid_until, client_id, created FROM lineups"
                          " ORDER BY (valid_from IS NULL AND valid_until IS NULL AND client_id IS NULL) DESC, id");
    while (st.step()) {
        StoredLineup lineup;
        lineup.id = st.integer(0);
        lineup.name = st.bytes(1);
        lineup.lineup.ids.fill(std::string(EmptySlotId));
        lineup.lineup.intervalMs = static_cast<std::uint32_t>(st.integer(2));
        lineup.validFrom = optionalInteger(st, 3);
        lineup.validUntil = optionalInteger(st, 4);
        if (!st.isNull(5))
            lineup.clientId = st.bytes(5);
        lineup.created = st.integer(6);
        byId[lineup.id] = list.size();
        list.push_back(std::move(lineup));
    }
    auto slots = db->prepare("SELECT lineup_id, slot, banner_id FROM lineup_slots WHERE banner_id IS NOT NULL");
    while (slots.step()) {
        const auto it = byId.find(slots.integer(0));
        const auto slot = slots.integer(1);
        if (it != byId.end() && slot >= 0 && slot < SlotCount)
            list[it->second].lineup.ids[static_cast<std::size_t>(slot)] = slots.bytes(2);
    }
    return list;
}

void SqliteStore::checkLineupSlots(Connection& db, const StoredLineup& lineup)
{
    if (lineup.lineup.intervalMs > MaxIntervalMs)
        throw StoreRejected("the interval is at most 16777215 milliseconds");
    if (lineup.validFrom && lineup.validUntil && *lineup.validUntil <= *lineup.validFrom)
        throw StoreRejected("the period ends before it begins");
    std::array<std::string, SlotCount> before;
    auto old = db.prepare("SELECT slot, banner_id FROM lineup_slots WHERE lineup_id = ? AND banner_id IS NOT NULL");
    old.bind(1, lineup.id);
    while (old.step()) {
        if (const auto slot = old.integer(0); slot >= 0 && slot < SlotCount)
            before[static_cast<std::size_t>(slot)] = old.bytes(1);
    }
    for (int slot = 0; slot < SlotCount; ++slot) {
        const auto& id = lineup.lineup.ids[slot];
        const std::string where = "slot " + std::to_string(slot) + ": ";
        if (!isBannerId(id))
            throw StoreRejected(where + "a banner id is six letters or digits");
        if (id == EmptySlotId)
            continue;
        auto st = db.prepare("SELECT retired FROM banners WHERE id = ?");
        st.bindText(1, id);
        if (!st.step())
            throw StoreRejected(where + "no banner " + id);
        // A banner retired after it was planned may stay where it is.
        if (st.integer(0) != 0 && before[slot] != id)
            throw StoreRejected(where + "banner " + id + " is retired");
    }
}

std::int64_t SqliteStore::saveLineup(const StoredLineup& lineup)
{
    auto db = m_pool.acquire();
    Transaction tx(*db, Transaction::Kind::Write);
    checkLineupSlots(*db, lineup);
    std::int64_t id = lineup.id;
    if (id == 0) {
        auto st = db->prepare("INSERT INTO lineups (name, interval_ms, valid_from, valid_until, client_id, created)"
                              " VALUES (?, ?, ?, ?, ?, ?) RETURNING id");
        st.bindText(1, lineup.name).bind(2, lineup.lineup.intervalMs);
        bindOptional(st, 3, lineup.validFrom);
        bindOptional(st, 4, lineup.validUntil);
        if (lineup.clientId)
            st.bindBlob(5, *lineup.clientId);
        st.bind(6, lineup.created ? lineup.created : static_cast<UnixTime>(std::time(nullptr)));
        st.step();
        id = st.integer(0);
    } else {
        auto st = db->prepare(
            "UPDATE lineups SET name = ?, interval_ms = ?, valid_from = ?, valid_until = ?, client_id = ? WHERE id = ?");
        st.bindText(1, lineup.name).bind(2, lineup.lineup.intervalMs);
        bindOptional(st, 3, lineup.validFrom);
        bindOptional(st, 4, lineup.validUntil);
        if (lineup.clientId)
            st.bindBlob(5, *lineup.clientId);
        st.bind(6, id).run();
        if (db->changes() == 0)
            throw StoreRejected("no line-up " + std::to_string(id));
        db->prepare("DELETE FROM lineup_slots WHERE lineup_id = ?").bind(1, id).run();
    }
    for (int slot = 0; slot < SlotCount; ++slot) {
        auto st = db->prepare("INSERT INTO lineup_slots (lineup_id, slot, banner_id) VALUES (?, ?, ?)");
        st.bind(1, id).bind(2, slot);
        if (lineup.lineup.ids[slot] != EmptySlotId)
            st.bindText(3, lineup.lineup.ids[slot]);
        st.run();
    }
    tx.commit();
    return id;
}

void SqliteStore::deleteLineup(std::int64_t id)
{
    auto db = m_pool.acquire();
    db->prepare("DELETE FROM lineups WHERE id = ?").bind(1, id).run();
}

std::optional<std::string> SqliteStore::languageFile(std::string_view fileName)
{
    return namedBytes("SELECT body FROM language_files WHERE file_name = ?", fileName);
}

void SqliteStore::putLanguageFile(std::string_view fileName, std::string_view text)
{
    if (!isPlainFileName(fileName))
        throw StoreRejected("\"" + std::string(fileName) + "\" is not a plain file name");
    putNamedBytes("INSERT INTO language_files (file_name, body) VALUES (?, ?)"
                  " ON CONFLICT (file_name) DO UPDATE SET body = excluded.body",
        fileName, text);
}

std::optional<std::string> SqliteStore::listFile(ListKind kind)
{
    return namedBytes("SELECT body FROM list_files WHERE kind = ?", listKindName(kind));
}

void SqliteStore::putListFile(ListKind kind, std::string_view text)
{
    putNamedBytes("INSERT INTO list_files (kind, body) VALUES (?, ?) ON CONFLICT (kind) DO UPDATE SET body = excluded.body",
        listKindName(kind), text);
}

std::optional<std::string> SqliteStore::version()
{
    return namedBytes("SELECT body FROM texts WHERE name = ?", "version");
}

void SqliteStore::setVersion(std::string_view text)
{
    putNamedBytes("INSERT INTO texts (name, body) VALUES (?, ?) ON CONFLICT (name) DO UPDATE SET body = excluded.body",
        "version", text);
}

std::optional<std::string> SqliteStore::webPage(std::string_view name)
{
    return namedBytes("SELECT body FROM web_pages WHERE name = ?", name);
}

void SqliteStore::putWebPage(std::string_view name, std::string_view html)
{
    putNamedBytes("INSERT INTO web_pages (name, body) VALUES (?, ?) ON CONFLICT (name) DO UPDATE SET body = excluded.body",
        name, html);
}

std::optional<std::string> SqliteStore::namedBytes(const char* sql, std::string_view name)
{
    auto db = m_pool.acquire();
    auto st = db->prepare(sql);
    st.bindText(1, name);
    if (!st.step())
        return std::nullopt;
    return st.bytes(0);
}

void SqliteStore::putNamedBytes(const char* sql, std::string_view name, std::string_view bytes)
{
    auto db = m_pool.acquire();
    db->prepare(sql).bindText(1, name).bindBlob(2, bytes).run();
}

} // namespace vexor::server
