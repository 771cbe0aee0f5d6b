#include "vendorscript.h"

#include "httpexchange.h"
#include "importer.h"
#include "sqlitedb.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace vexor::server {
namespace {

using test::writeFile;

// 2026-12-09T23:59:59Z: the last second of its day.
constexpr UnixTime Now = 1796860799;
const std::string Today = "2026-12-09";
const std::string ClickLink = "http://localhost:8431/click?b=aaaaaa&amp;to=http%3A%2F%2Fx.example%2Fa%3Fq%3D1";

enum class From { Content, Store };

// The same content, answered from the folder or from a store it was imported into.
class VendorScriptTest : public testing::TestWithParam<From> {
protected:
    VendorScriptTest()
    {
        const auto root = m_dir / "content/";
        writeFile(root + "lang.ini", "[Languages]\nEnglish=english.lng\n");
        writeFile(root + "modl.ini", "[Modules]\nNotes=Notes\n");
        writeFile(root + "version.txt", "1.3\n");
        writeFile(root + "languages/deutsch.lng", "[Texts]\nFPButton2=Abbrechen\n");
        writeFile(root + "banners/aaaaaa.gif", "GIF89a-aaaaaa");
        writeFile(root + "banners/aaaaaa.htm", "<title>Ad\nA</title><img src=\"aaaaaa.gif\"><a href=\"" + ClickLink + "\">x</a>");
        writeFile(root + "banners/bbbbbb.gif", "GIF89a-bbbbbb");
        writeFile(root + "banners/bbbbbb.htm", "<img src=\"bbbbbb.gif\">");
        writeFile(root + "web/update.htm", "update page");
        writeFile(root + "web/faq.htm", "faq page");
        writeFile(root + "lineups/1.txt", "aaaaaa 000000 000000 000000 000000 000000 000000 000000 000000 000000 5000");
        writeFile(root + "lineups/2.txt", "bbbbbb 000000 000000 000000 000000 000000 000000 000000 000000 000000 1000");
        m_content = std::make_unique<ContentStore>(root);
        m_source = makeSource(*m_content);
        m_script = std::make_unique<VendorScript>(*m_source, std::nullopt, [] { return Now; });
    }

    // A source over `content`: the folder itself, or a fresh store it is imported into.
    std::unique_ptr<ScriptSource> makeSource(const ContentStore& content)
    {
        if (GetParam() == From::Content) {
            auto load = content.loadLineups();
            m_rotations.push_back(std::make_unique<LineupRotation>(
                load.lineups.empty() ? std::vector<Lineup>(1) : load.lineups, 1));
            return std::make_unique<ContentSource>(content, *m_rotations.back());
        }
        m_stores.push_back(openStore(m_dir / ("store" + std::to_string(m_stores.size()) + ".db")));
        if (fs::is_directory(content.root())) {
            EXPECT_EQ(importContent(content, *m_stores.back()).error, "");
        }
        return std::make_unique<StoreSource>(*m_stores.back(), 1);
    }

    Answer ask(std::vector<QueryPair> pairs) { return m_script->answerQuery(pairs); }

    test::TempDir m_dir;
    std::vector<std::unique_ptr<LineupRotation>> m_rotations;
    std::vector<std::unique_ptr<Store>> m_stores;
    std::unique_ptr<ContentStore> m_content;
    std::unique_ptr<ScriptSource> m_source;
    std::unique_ptr<VendorScript> m_script;
};

INSTANTIATE_TEST_SUITE_P(Sources, VendorScriptTest, testing::Values(From::Content, From::Store),
    [](const testing::TestParamInfo<From>& info) { return info.param == From::Content ? "Content" : "Store"; });

TEST_P(VendorScriptTest, Actions)
{
    const struct {
        std::vector<QueryPair> query;
        int status;
        std::string contentType;
        std::string body;
    } rows[] = {
        { { { "A", "LANGL" }, { "L", "English" }, { "STARTUP", "2" } }, 200, "text/plain",
            "[Languages]\r\nEnglish=english.lng\r\n" },
        { { { "A", "VERSION" } }, 200, "text/plain", "1.3" },
        { { { "A", "MODL" } }, 200, "text/plain", "[Modules]\r\nNotes=Notes\r\n" },
        { { { "A", "LOGO" }, { "LOGOID", "aaaaaa" } }, 200, "image/gif", "GIF89a-aaaaaa" },
        { { { "A", "HTML" }, { "LOGOID", "bbbbbb" } }, 200, "text/html", "<img src=\"bbbbbb.gif\">" },
        { { { "A", "LANGC" }, { "L", "deutsch.lng" } }, 200, "text/plain", "[Texts]\r\nFPButton2=Abbrechen\r\n" },
        // The first A counts.
        { { { "A", "VERSION" }, { "A", "MODL" } }, 200, "text/plain", "1.3" },
        { {}, 400, "text/plain", "missing action (A)\n" },
        { { { "a", "VERSION" } }, 400, "text/plain", "missing action (A)\n" },
        { { { "A", "" } }, 400, "text/plain", "unknown action\n" },
        { { { "A", "version" } }, 400, "text/plain", "unknown action\n" },
        { { { "A", "VERSION " } }, 400, "text/plain", "unknown action\n" },
        { { { "A", "LOGO" } }, 400, "text/plain", "missing banner id (LOGOID)\n" },
        { { { "A", "HTML" } }, 400, "text/plain", "missing banner id (LOGOID)\n" },
        { { { "A", "LOGO" }, { "LOGOID", "cccccc" } }, 404, "text/plain", "no such banner\n" },
        { { { "A", "HTML" }, { "LOGOID", "../../" } }, 404, "text/plain", "no such banner\n" },
        { { { "A", "LOGO" }, { "LOGOID", "000000" } }, 404, "text/plain", "no such banner\n" },
        { { { "A", "LANGC" } }, 400, "text/plain", "missing language file name (L)\n" },
        { { { "A", "LANGC" }, { "L", "../lang.ini" } }, 404, "text/plain", "no such language file\n" },
        { { { "A", "LANGC" }, { "L", "english.lng" } }, 404, "text/plain", "no such language file\n" },
    };
    for (const auto& row : rows) {
        const auto answer = ask(row.query);
        const std::string shown = row.query.empty() ? "(none)" : row.query[0].key + "=" + row.query[0].value;
        EXPECT_EQ(answer.status, row.status) << shown;
        EXPECT_EQ(answer.contentType, row.contentType) << shown;
        EXPECT_EQ(answer.body, row.body) << shown;
    }
}

TEST_P(VendorScriptTest, CountAnswersFollowTheRotation)
{
    const std::string first = "aaaaaa" + std::string(54, '0') + "001388";
    const std::string second = "bbbbbb" + std::string(54, '0') + "0003E8";
    EXPECT_EQ(ask({ { "A", "LCOUNT" } }).body, first);
    EXPECT_EQ(ask({ { "A", "LCOUNT" }, { "LOGOIDS", std::string(60, '0') }, { "LF", "2" } }).body, second);
    EXPECT_EQ(ask({ { "A", "LCOUNT" } }).body, first);
    // Other actions do not move the rotation.
    ask({ { "A", "VERSION" } });
    EXPECT_EQ(ask({ { "A", "LCOUNT" } }).body, second);
}

TEST_P(VendorScriptTest, VersionAnswerOverridesTheFile)
{
    VendorScript script(*m_source, "1.4");
    EXPECT_EQ(script.answerQuery({ { "A", "VERSION" } }).body, "1.4");
}

TEST_P(VendorScriptTest, MissingContentGives404)
{
    const ContentStore empty(m_dir / "nowhere");
    const auto source = makeSource(empty);
    VendorScript script(*source, std::nullopt);
    for (const char* action : { "LANGL", "VERSION", "MODL" }) {
        const auto answer = script.answerQuery({ { "A", action } });
        EXPECT_EQ(answer.status, 404) << action;
        EXPECT_FALSE(answer.body.empty()) << action;
    }
    EXPECT_EQ(script.answerPage("/faq").status, 404);
}

TEST_P(VendorScriptTest, Pages)
{
    const struct {
        const char* path;
        int status;
        const char* body;
    } rows[] = {
        { "/update/index.php", 200, "update page" },
        { "/faq", 200, "faq page" },
        { "/faq/", 200, "faq page" },
        { "/faq/index.htm", 200, "faq page" },
        { "/", 404, "not found\n" },
        { "/update/", 404, "not found\n" },
        { "/faq/../update/index.php", 404, "not found\n" },
        { "/web/faq.htm", 404, "not found\n" },
    };
    for (const auto& row : rows) {
        const auto answer = m_script->answerPage(row.path);
        EXPECT_EQ(answer.status, row.status) << row.path;
        EXPECT_EQ(answer.body, row.body) << row.path;
    }
}

TEST_P(VendorScriptTest, ClicksGoOnlyToTheBannersOwnTargets)
{
    const std::string target = "http://x.example/a?q=1";
    const struct {
        std::vector<QueryPair> query;
        int status;
    } rows[] = {
        { { { "b", "aaaaaa" }, { "to", target } }, 302 },
        { { { "b", "aaaaaa" }, { "to", "http://evil.example/" } }, 404 },
        { { { "b", "aaaaaa" }, { "to", target + "#" } }, 404 },
        { { { "b", "bbbbbb" }, { "to", target } }, 404 },
        { { { "b", "AAAAAA" }, { "to", target } }, 404 },
        { { { "b", "../x" }, { "to", target } }, 404 },
        { { { "to", target } }, 404 },
        { { { "b", "aaaaaa" } }, 404 },
    };
    for (const auto& row : rows) {
        const auto answer = m_script->answerPage("/click", row.query);
        EXPECT_EQ(answer.status, row.status) << row.query.back().value;
        EXPECT_EQ(answer.location, row.status == 302 ? target : "") << row.query.back().value;
    }
    EXPECT_EQ(m_script->answerPage("/click", rows[0].query, false).status, 302) << "a HEAD redirects but counts nothing";
    if (GetParam() == From::Store) {
        EXPECT_EQ(m_stores[0]->bannerDays(Today, Today, "").at(0).clicks, 1);
        EXPECT_EQ(m_stores[0]->banners().at(0).name, "Ad A") << "the import names a banner by its page's title";
    }
}

// What the store records of the queries; only a store records.
class RecordingTest : public VendorScriptTest {
protected:
    std::string recorded()
    {
        Store& store = *m_stores.at(0);
        std::string out;
        for (const auto& row : store.bannerDays(Today, Today, ""))
            out += row.bannerId + "=" + std::to_string(row.displays) + " ";
        const auto day = store.dayTotals(Today, Today).at(0);
        sqlite::Connection db(m_dir / "store0.db");
        auto checks = db.prepare("SELECT COALESCE(SUM(version_checks), 0) FROM client_days");
        checks.step();
        return out + "starts=" + std::to_string(day.startups) + " installs=" + std::to_string(day.installs)
            + " checks=" + std::to_string(checks.integer(0)) + " clients=" + std::to_string(day.clients)
            + " rejected=" + std::to_string(store.rejectedReports(Today, Today));
    }
};

INSTANTIATE_TEST_SUITE_P(Store, RecordingTest, testing::Values(From::Store));

std::vector<QueryPair> report(const std::string& client, const std::string& ids, const std::string& log)
{
    return { { "A", "LCOUNT" }, { "MID", "1" }, { "MCID", client }, { "MUID", "1" }, { "LOGOIDS", ids }, { "LOG", log },
        { "LF", "2" } };
}

TEST_P(RecordingTest, ReportsAddUpPerBannerDayAndClient)
{
    const std::string ids = "aaaaaabbbbbb" + std::string(48, '0');
    const std::string log = "00000A000002000009" + std::string(42, '0');
    const std::string zero(42, '0');
    const struct {
        const char* what;
        std::vector<QueryPair> query;
        std::string expected; // the totals so far
    } rows[] = {
        { "report; an empty slot's count adds nothing", report("7", ids, log),
            "aaaaaa=10 bbbbbb=2 starts=0 installs=0 checks=0 clients=1 rejected=0" },
        { "lower-case hex", report("7", ids, "00000a000000" + std::string(48, '0')),
            "aaaaaa=20 bbbbbb=2 starts=0 installs=0 checks=0 clients=1 rejected=0" },
        { "LOG too short", report("7", ids, log.substr(1)),
            "aaaaaa=20 bbbbbb=2 starts=0 installs=0 checks=0 clients=1 rejected=1" },
        { "a count of seven digits", report("7", ids, "1000000" + log.substr(6)),
            "aaaaaa=20 bbbbbb=2 starts=0 installs=0 checks=0 clients=1 rejected=2" },
        { "not hexadecimal", report("7", ids, "00000G" + log.substr(6)),
            "aaaaaa=20 bbbbbb=2 starts=0 installs=0 checks=0 clients=1 rejected=3" },
        { "an id with a dash", report("7", "aa-aaa" + ids.substr(6), log),
            "aaaaaa=20 bbbbbb=2 starts=0 installs=0 checks=0 clients=1 rejected=4" },
        { "no report at all", { { "A", "LCOUNT" }, { "MCID", "7" } },
            "aaaaaa=20 bbbbbb=2 starts=0 installs=0 checks=0 clients=1 rejected=5" },
        { "start-ups and an installation", { { "A", "LANGL" }, { "MCID", "8" }, { "STARTUP", "3" }, { "INSTALL", "True" } },
            "aaaaaa=20 bbbbbb=2 starts=3 installs=1 checks=0 clients=2 rejected=5" },
        { "counts that are no counts",
            { { "A", "LANGL" }, { "MCID", "8" }, { "STARTUP", "-1" }, { "STARTUP", "x" }, { "INSTALL", "true" } },
            "aaaaaa=20 bbbbbb=2 starts=3 installs=1 checks=0 clients=2 rejected=5" },
        { "zero start-ups", { { "A", "LANGL" }, { "MCID", "8" }, { "STARTUP", "0" } },
            "aaaaaa=20 bbbbbb=2 starts=3 installs=1 checks=0 clients=2 rejected=5" },
        { "version check", { { "A", "VERSION" }, { "MCID", "9" } },
            "aaaaaa=20 bbbbbb=2 starts=3 installs=1 checks=1 clients=3 rejected=5" },
    };
    for (const auto& row : rows) {
        const auto answer = ask(row.query);
        EXPECT_EQ(answer.status, 200) << row.what;
        if (row.query[0].value == "LCOUNT") {
            EXPECT_EQ(answer.body.size(), 66u) << row.what << ": the answer is the same";
        }
        EXPECT_EQ(recorded(), row.expected) << row.what;
    }
}

TEST_P(RecordingTest, StoreErrorsAnswer503WithOneLine)
{
    sqlite::Connection(m_dir / "store0.db").exec("DROP TABLE client_days");
    for (const auto& query : { std::vector<QueryPair> { { "A", "LANGL" }, { "STARTUP", "1" } },
             std::vector<QueryPair> { { "A", "VERSION" } },
             report("7", "aaaaaa" + std::string(54, '0'), std::string(60, '1')) }) {
        const auto answer = ask(query);
        EXPECT_EQ(answer.status, 503) << query[0].value;
        EXPECT_EQ(answer.body, "the store is not available; try again later\n") << query[0].value;
    }
    EXPECT_EQ(ask({ { "A", "LOGO" }, { "LOGOID", "aaaaaa" } }).status, 200) << "what records nothing still answers";
}

} // namespace
} // namespace vexor::server
