// The stores, SQLite and PostgreSQL, through one table: each row starts
// from a fresh file or database, makes its calls and compares what the store
// then holds, written out by describe().
#include "sqlitestore.h"

#include "cachedstore.h"
#include "days.h"
#include "httpexchange.h"
#include "importer.h"
#include "../support/vendorserver.h"
#include "pgstore.h"
#include "postgres.h"
#include "query.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <future>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vexor::server {
namespace {

using test::TempDir;

const std::string Day = "2026-12-08";

// The cluster the PostgreSQL cases share: made by the first that needs it,
// stopped when the test program ends.
class PostgresEnvironment : public ::testing::Environment {
public:
    static testkit::PostgresCluster& cluster()
    {
        if (!s_cluster) {
            s_dir = std::make_unique<TempDir>();
            s_cluster = std::make_unique<testkit::PostgresCluster>(s_dir->path());
        }
        return *s_cluster;
    }
    void TearDown() override
    {
        s_cluster.reset();
        s_dir.reset();
    }

private:
    static inline std::unique_ptr<TempDir> s_dir;
    static inline std::unique_ptr<testkit::PostgresCluster> s_cluster;
};

[[maybe_unused]] const auto* const postgresEnvironment = ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

enum class Engine { Sqlite, Postgresql };

void PrintTo(Engine engine, std::ostream* out)
{
    *out << (engine == Engine::Sqlite ? "SQLite" : "PostgreSQL");
}

// Skips only where PostgreSQL is not installed at all: a cluster that does
// not come up fails the case.
#define VEXOR_NEED_POSTGRES()                                                                                          \
    do {                                                                                                               \
        if (testkit::PostgresCluster::binaries().empty())                                                             \
            GTEST_SKIP() << "PostgreSQL is not installed (Debian package postgresql)";                                \
        ASSERT_TRUE(PostgresEnvironment::cluster().ready()) << PostgresEnvironment::cluster().diagnostics();          \
    } while (false)

class StoreTest : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        if (GetParam() == Engine::Postgresql)
            VEXOR_NEED_POSTGRES();
    }

    // Where a store of its own lies: a new file, or a new database.
    std::string freshLocation()
    {
        if (GetParam() == Engine::Sqlite)
            return m_dir / ("store" + std::to_string(++m_stores) + ".db");
        const auto url = PostgresEnvironment::cluster().createDatabase();
        EXPECT_NE(url, "") << PostgresEnvironment::cluster().diagnostics();
        return url;
    }

    // Statements on the store's database, behind the store's back.
    void execute(const std::string& location, const std::string& sql)
    {
        if (GetParam() == Engine::Sqlite)
            sqlite::Connection(location).exec(sql);
        else
            pg::Connection(location).exec(sql);
    }

private:
    TempDir m_dir;
    int m_stores = 0;
};

INSTANTIATE_TEST_SUITE_P(Engines, StoreTest, ::testing::Values(Engine::Sqlite, Engine::Postgresql),
    [](const ::testing::TestParamInfo<Engine>& info) { return info.param == Engine::Sqlite ? "Sqlite" : "Postgresql"; });

Banner banner(std::string id, std::vector<std::string> links = {})
{
    return { std::move(id), "name", "image/gif", "GIF89a", "<p>", std::move(links), false, 0 };
}

StoredLineup lineup(std::vector<std::string> ids, std::uint32_t interval = 5000)
{
    StoredLineup stored;
    stored.lineup.ids.fill(std::string(EmptySlotId));
    for (std::size_t i = 0; i < ids.size(); ++i)
        stored.lineup.ids[i] = ids[i];
    stored.lineup.intervalMs = interval;
    return stored;
}

DisplayReport report(std::vector<std::pair<std::string, std::uint32_t>> slots)
{
    DisplayReport r;
    r.ids.fill(std::string(EmptySlotId));
    for (std::size_t i = 0; i < slots.size(); ++i) {
        r.ids[i] = slots[i].first;
        r.counts[i] = slots[i].second;
    }
    return r;
}

// What the store holds, one part per line, empty parts left out.
std::string describe(Store& store)
{
    std::string out;
    for (const auto& b : store.banners()) {
        out += "banner " + b.id + " " + b.name + " " + std::to_string(b.imageBytes) + (b.retired ? " retired" : "");
        for (const auto& link : b.linkTargets)
            out += " " + link;
        out += "\n";
    }
    for (const auto& l : store.lineups()) {
        out += "lineup " + std::to_string(l.id) + (l.standing() ? " standing" : " planned") + " ";
        for (const auto& id : l.lineup.ids)
            out += id == EmptySlotId ? "-" : id.substr(0, 1);
        out += " " + std::to_string(l.lineup.intervalMs) + (l.clientId ? " for " + *l.clientId : "") + "\n";
    }
    if (const auto list = store.listFile(ListKind::Languages))
        out += "languages " + escapeForLog(*list) + "\n";
    for (const auto& m : store.modules())
        out += "module " + m.key + "=" + m.name + "\n";
    for (const auto& d : store.dayTotals(Day, Day)) {
        if (d.displays || d.clicks || d.startups || d.installs || d.clients)
            out += "day " + std::to_string(d.displays) + " shown " + std::to_string(d.clicks) + " clicks "
                + std::to_string(d.startups) + " starts " + std::to_string(d.installs) + " installs "
                + std::to_string(d.clients) + " clients\n";
    }
    for (const auto& b : store.bannerDays(Day, Day, ""))
        out += "shown " + b.bannerId + " " + std::to_string(b.displays) + "/" + std::to_string(b.clicks) + "\n";
    if (const auto rejected = store.rejectedReports(Day, Day))
        out += "rejected " + std::to_string(rejected) + "\n";
    return out;
}

// Calls a store method that must refuse, and returns what it said.
std::string refusal(const std::function<void()>& call)
{
    try {
        call();
    } catch (const StoreRejected& e) {
        return std::string("refused: ") + e.what() + "\n";
    }
    return "accepted\n";
}

TEST_P(StoreTest, CallsAndTheStateTheyLeave)
{
    const struct {
        const char* what;
        std::function<std::string(Store&)> calls; // returns what the calls said
        std::string expected;
    } rows[] = {
        { "empty", [](Store&) { return ""; }, "" },
        { "banner with links",
            [](Store& s) { return s.addBanner(banner("100001", { "http://a/", "http://b/" })) + "\n"; },
            "100001\nbanner 100001 name 6 http://a/ http://b/\n" },
        { "duplicate id refused",
            [](Store& s) {
                s.addBanner(banner("100001"));
                return refusal([&] { s.addBanner(banner("100001")); });
            },
            "refused: banner 100001 exists already\nbanner 100001 name 6\n" },
        { "bad ids and types refused",
            [](Store& s) {
                auto bad = banner("100001");
                bad.imageType = "image/bmp";
                return refusal([&] { s.addBanner(banner("000000")); }) + refusal([&] { s.addBanner(banner("1/3456")); })
                    + refusal([&] { s.addBanner(bad); });
            },
            "refused: a banner id is six letters or digits, not 000000\n"
            "refused: a banner id is six letters or digits, not 000000\n"
            "refused: the image must be a GIF, PNG or JPEG\n" },
        { "update, retire, unknown",
            [](Store& s) {
                s.addBanner(banner("100001", { "http://a/" }));
                s.updateBanner("100001", "new", { "http://c/" });
                s.retireBanner("100001", true);
                return refusal([&] { s.retireBanner("999999", true); });
            },
            "refused: no banner 999999\nbanner 100001 new 6 retired http://c/\n" },
        { "line-ups: standing first, empty slots, unknown banner refused",
            [](Store& s) {
                s.addBanner(banner("100001"));
                auto planned = lineup({ "100001" }, 1000);
                planned.clientId = "1131";
                s.saveLineup(planned);
                s.saveLineup(lineup({ "000000", "100001" }));
                return refusal([&] { s.saveLineup(lineup({ "100002" })); })
                    + refusal([&] { s.saveLineup(lineup({ "100001" }, 0x1000000)); });
            },
            "refused: slot 0: no banner 100002\nrefused: the interval is at most 16777215 milliseconds\n"
            "banner 100001 name 6\nlineup 2 standing -1-------- 5000\nlineup 1 planned 1--------- 1000 for 1131\n" },
        { "retired banner: refused in a new slot, kept where it was",
            [](Store& s) {
                s.addBanner(banner("100001"));
                s.addBanner(banner("200002"));
                auto kept = lineup({ "100001" });
                kept.id = s.saveLineup(kept);
                s.retireBanner("100001", true);
                kept.lineup.ids[1] = "200002";
                s.saveLineup(kept);
                return refusal([&] { s.saveLineup(lineup({ "200002", "100001" })); });
            },
            "refused: slot 1: banner 100001 is retired\nbanner 100001 name 6 retired\nbanner 200002 name 6\n"
            "lineup 1 standing 12-------- 5000\n" },
        { "delete a line-up",
            [](Store& s) {
                s.deleteLineup(s.saveLineup(lineup({})));
                return "";
            },
            "" },
        { "lists: verbatim file, rendered entries",
            [](Store& s) {
                s.putListFile(ListKind::Languages, "[Languages]\r\n;c\r\nEnglish=english.lng\r\n");
                s.setModules({ { "Notes", "Notes" }, { "Clock", "Clock" } });
                return refusal([&] { s.setModules({ { "a=b", "x" } }); })
                    + refusal([&] { s.setLanguages({ { "Evil", "../x" } }); });
            },
            "refused: a=b: a name may not hold \"=\" or begin with \"[\" or \";\"\n"
            "refused: Evil: \"../x\" is not a plain file name\n"
            "languages [Languages]%0D%0A;c%0D%0AEnglish=english.lng%0D%0A\nmodule Notes=Notes\nmodule Clock=Clock\n" },
        { "displays: empty slots and zero counts add nothing",
            [](Store& s) {
                s.recordDisplays(report({ { "100001", 3 }, { "000000", 9 }, { "100002", 0 }, { "100001", 2 } }), "1131", Day);
                s.recordDisplays(report({ { "100001", 1 } }), "7", Day);
                return "";
            },
            "day 6 shown 0 clicks 0 starts 0 installs 2 clients\nshown 100001 6/0\n" },
        { "events, clicks, rejected",
            [](Store& s) {
                s.recordEvent(ClientEvent::Startup, "1131", Day, 4);
                s.recordEvent(ClientEvent::Install, "1131", Day, 1);
                s.recordEvent(ClientEvent::VersionCheck, "9", Day, 1);
                s.recordEvent(ClientEvent::Startup, "9", "2026-12-07", 5);
                s.recordClick("100001", Day);
                s.recordRejected("9", Day, "bad LOG");
                s.recordRejected("9", Day, "bad LOG");
                return refusal([&] { s.dayTotals("2026-12-09", Day); }) + refusal([&] { s.bannerDays("2026-13-01", Day, ""); });
            },
            "refused: the period ends before it begins\nrefused: a day is written YYYY-MM-DD\n"
            "day 0 shown 1 clicks 4 starts 1 installs 2 clients\nshown 100001 0/1\nrejected 2\n" },
        { "cache: its own write shows at once, a write behind its back after its time",
            [](Store& s) {
                std::chrono::steady_clock::time_point now {};
                CachedStore cached(s, std::chrono::seconds(2), CachedStore::DefaultMaxBytes, [&] { return now; });
                cached.setVersion("1");
                std::string said = *cached.version();
                cached.setVersion("2");
                said += *cached.version();
                s.setVersion("3");
                said += *cached.version();
                now += std::chrono::seconds(2);
                return said + *cached.version() + "\n";
            },
            "1223\n" },
        { "client ids are bytes",
            [](Store& s) {
                s.recordEvent(ClientEvent::Startup, std::string("\xE9\0x", 3), Day, 1);
                s.recordEvent(ClientEvent::Startup, std::string("\xE9\0y", 3), Day, 1);
                return "";
            },
            "day 0 shown 0 clicks 2 starts 0 installs 2 clients\n" },
    };
    for (const auto& row : rows) {
        const auto store = openStore(freshLocation());
        const auto said = row.calls(*store);
        EXPECT_EQ(said + describe(*store), row.expected) << row.what;
    }
}

TEST_P(StoreTest, ContentAndConsoleValuesComeBackExactly)
{
    const auto owned = openStore(freshLocation());
    Store& store = *owned;
    // An import whose second line-up names a missing banner writes nothing.
    TempDir content;
    testkit::writeVendorContent(content / "c", { "100001 000000 000000 000000 000000 000000 000000 000000 000000 000000 5000" });
    content.write("c/lineups/2.txt", "100009 000000 000000 000000 000000 000000 000000 000000 000000 000000 5000");
    EXPECT_EQ(importContent(ContentStore(content / "c"), store).error,
        "line-up 2: slot 0: no banner 100009 (banners/<id>.gif and .htm)");
    EXPECT_EQ(store.version(), std::nullopt);
    EXPECT_TRUE(store.banners().empty());
    const std::string bytes("GIF89a\0\xFF\r\n", 10);
    auto b = banner("A1B2C3", { "http://x/?a=1&b=2" });
    b.image = bytes;
    b.page = "";
    store.addBanner(b);
    const auto generated = store.addBanner(banner(""));
    EXPECT_TRUE(isBannerId(generated) && generated != "000000") << generated;
    EXPECT_EQ(store.banners().size(), 2u);
    EXPECT_EQ(store.bannerImage("A1B2C3")->bytes, bytes);
    EXPECT_EQ(store.bannerImage("A1B2C3")->type, "image/gif");
    EXPECT_EQ(store.bannerPage("A1B2C3"), "");
    EXPECT_EQ(store.linkTargets("A1B2C3"), std::vector<std::string> { "http://x/?a=1&b=2" });
    EXPECT_EQ(store.bannerImage("a1b2c3"), std::nullopt) << "ids are case-sensitive";
    store.putLanguageFile("d.lng", "[Texts]\n\xE4");
    EXPECT_EQ(store.languageFile("d.lng"), "[Texts]\n\xE4");
    EXPECT_EQ(store.languageFile("e.lng"), std::nullopt);
    store.setVersion("1.4\n");
    EXPECT_EQ(store.version(), "1.4\n");
    store.setUser("vendor", "$argon2id$x");
    EXPECT_EQ(store.passwordHash("vendor"), "$argon2id$x");
    EXPECT_TRUE(store.hasUsers());
    store.recordFailedLogin("vendor", 100);
    store.recordFailedLogin("vendor", 200);
    EXPECT_EQ(store.failedLoginsSince("vendor", 150), 1);
    store.clearFailedLogins("vendor");
    EXPECT_EQ(store.failedLoginsSince("vendor", 0), 0);
    store.saveSession({ "tok", "vendor", "csrf", 500 });
    EXPECT_EQ(store.session("tok", 499)->csrfToken, "csrf");
    EXPECT_EQ(store.session("tok", 500), std::nullopt) << "expired";
    store.deleteSession("tok");
    EXPECT_EQ(store.session("tok", 0), std::nullopt);
    // Forgotten rows are gone, not only out of their window.
    store.saveSession({ "old", "vendor", "csrf", 500 });
    store.saveSession({ "new", "vendor", "csrf", 501 });
    store.recordFailedLogin("vendor", 99);
    store.recordFailedLogin("vendor", 100);
    store.forgetLogins(500, 100);
    EXPECT_EQ(store.session("old", 0), std::nullopt);
    EXPECT_EQ(store.session("new", 0)->user, "vendor");
    EXPECT_EQ(store.failedLoginsSince("vendor", 0), 1);
}

TEST_P(StoreTest, OpensWhatItWroteAndRefusesANewerSchema)
{
    const auto location = freshLocation();
    openStore(location)->setVersion("1.3");
    EXPECT_EQ(openStore(location)->version(), "1.3") << "reopened without migrating again";
    execute(location, "INSERT INTO schema_migrations VALUES (999, 0)");
    try {
        openStore(location);
        ADD_FAILURE() << "a newer schema was opened";
    } catch (const StoreError& e) {
        EXPECT_NE(std::string(e.what()).find("newer than this program"), std::string::npos) << e.what();
    }
}

TEST(SqliteStoreTest, RefusesWhatItCannotOpen)
{
    TempDir dir;
    test::writeFile(dir / "junk.db", std::string(4096, 'x'));
    EXPECT_THROW(openStore(dir / "junk.db"), StoreError);
    EXPECT_THROW(openStore(dir / "no/such/folder/store.db"), StoreError);
}

// Two stores on one database stand in for two servers.
TEST_P(StoreTest, ThreadsOfTwoServersAddUpWithoutLoss)
{
    // Started at once on a new database: one of them makes the tables.
    const auto location = freshLocation();
    auto starting = std::async(std::launch::async, [&] { return openStore(location); });
    const std::unique_ptr<Store> servers[] = { openStore(location), starting.get() };
    constexpr int Threads = 6;
    constexpr int Reports = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&store = *servers[t % 2], t] {
            for (int i = 0; i < Reports; ++i) {
                // The slots in either order: the rows' locks must not be.
                store.recordDisplays(t % 3 ? report({ { "100001", 1 }, { "100002", 2 } })
                                           : report({ { "100002", 2 }, { "100001", 1 } }),
                    std::to_string(t), Day);
                store.lineups();
            }
        });
    for (auto& t : threads)
        t.join();
    const auto days = servers[0]->dayTotals(Day, Day);
    EXPECT_EQ(days.at(0).displays, 3 * Threads * Reports);
    EXPECT_EQ(days.at(0).clients, Threads);
    servers[1]->recordEvent(ClientEvent::Startup, "0", "2026-12-09", 1);
    EXPECT_EQ(servers[1]->distinctClients(Day, "2026-12-09"), Threads) << "client 0 on two days counts once";
}

// A writer killed while it writes: the file opens, and every report in it is
// whole (each added 1 to both of its banners).
TEST(SqliteStoreTest, KilledWriterLeavesWholeReports)
{
    TempDir dir;
    const std::string path = dir / "store.db";
    { SqliteStore create(path); }
    for (const std::int64_t killAfter : { 1, 200 }) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                SqliteStore store(path);
                for (;;)
                    store.recordDisplays(report({ { "100001", 1 }, { "100002", 1 } }), "1131", Day);
            } catch (...) {
            }
            _exit(1);
        }
        SqliteStore watcher(path);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::int64_t seen = 0;
        while (seen < killAfter && std::chrono::steady_clock::now() < deadline) {
            const auto rows = watcher.bannerDays(Day, Day, "");
            seen = rows.empty() ? 0 : rows[0].displays;
        }
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ASSERT_GE(seen, killAfter) << "the writer wrote nothing";
        SqliteStore store(path);
        const auto rows = store.bannerDays(Day, Day, "");
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].displays, rows[1].displays);
        EXPECT_GE(rows[0].displays, seen);
    }
}

// PostgreSQL restarted while a store uses it: meanwhile every call (and a
// new store) says the database is away; afterwards the same store works again
// and nothing counted before is lost.
TEST(PgStoreTest, OutageRaisesUnavailableAndKeepsTheTotals)
{
    VEXOR_NEED_POSTGRES();
    auto& cluster = PostgresEnvironment::cluster();
    const auto location = cluster.createDatabase();
    PgStore store(location);
    store.recordDisplays(report({ { "100001", 5 } }), "1131", Day);
    ASSERT_TRUE(cluster.stop()) << cluster.diagnostics();
    EXPECT_THROW(store.recordDisplays(report({ { "100001", 1 } }), "1131", Day), StoreUnavailable);
    EXPECT_THROW(store.dayTotals(Day, Day), StoreUnavailable);
    EXPECT_THROW(openStore(location), StoreUnavailable);
    ASSERT_TRUE(cluster.start()) << cluster.diagnostics();
    store.recordDisplays(report({ { "100001", 2 } }), "1131", Day);
    EXPECT_EQ(store.dayTotals(Day, Day).at(0).displays, 7);
}

TEST(DaysTest, TextAndNumber)
{
    EXPECT_EQ(utcDay(0), "1970-01-01");
    EXPECT_EQ(utcDay(1796860799), "2026-12-09");
    EXPECT_EQ(utcDay(1796860800), "2026-12-10");
    EXPECT_EQ(dayNumber("2026-12-09"), 20796);
    EXPECT_EQ(dayFromNumber(*dayNumber("2024-02-29")), "2024-02-29");
    for (const char* bad : { "2026-02-29", "2026-1-01", "26-01-01", "2026-01-01x", "+026-01-01", "1969-12-31", "" })
        EXPECT_EQ(dayNumber(bad), std::nullopt) << bad;
}

} // namespace
} // namespace vexor::server
