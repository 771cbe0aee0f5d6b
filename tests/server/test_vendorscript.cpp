#include "vendorscript.h"

#include "httpexchange.h"

#include <gtest/gtest.h>

namespace vexor::server {
namespace {

using test::writeFile;

Lineup lineupWith(const char* first, std::uint32_t interval)
{
    Lineup lineup;
    lineup.ids.fill("000000");
    lineup.ids[0] = first;
    lineup.intervalMs = interval;
    return lineup;
}

class VendorScriptTest : public testing::Test {
protected:
    VendorScriptTest()
        : m_content(m_dir.path())
        , m_rotation({ lineupWith("aaaaaa", 5000), lineupWith("bbbbbb", 1000) }, 1)
        , m_script(m_content, m_rotation, std::nullopt)
    {
        writeFile(m_dir / "lang.ini", "[Languages]\nEnglish=english.lng\n");
        writeFile(m_dir / "modl.ini", "[Modules]\nNotes=Notes\n");
        writeFile(m_dir / "version.txt", "1.3\n");
        writeFile(m_dir / "languages/deutsch.lng", "[Texts]\nFPButton2=Abbrechen\n");
        writeFile(m_dir / "banners/aaaaaa.gif", "GIF89a-aaaaaa");
        writeFile(m_dir / "banners/aaaaaa.htm", "<img src=\"aaaaaa.gif\">");
        writeFile(m_dir / "web/update.htm", "update page");
        writeFile(m_dir / "web/faq.htm", "faq page");
    }

    Answer ask(std::vector<QueryPair> pairs) { return m_script.answerQuery(pairs); }

    test::TempDir m_dir;
    ContentStore m_content;
    LineupRotation m_rotation;
    VendorScript m_script;
};

TEST_F(VendorScriptTest, Actions)
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
        { { { "A", "HTML" }, { "LOGOID", "aaaaaa" } }, 200, "text/html", "<img src=\"aaaaaa.gif\">" },
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
        { { { "A", "LOGO" }, { "LOGOID", "bbbbbb" } }, 404, "text/plain", "no such banner\n" },
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

TEST_F(VendorScriptTest, CountAnswersFollowTheRotation)
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

TEST_F(VendorScriptTest, VersionAnswerOverridesTheFile)
{
    VendorScript script(m_content, m_rotation, "1.4");
    EXPECT_EQ(script.answerQuery({ { "A", "VERSION" } }).body, "1.4");
}

TEST_F(VendorScriptTest, MissingContentGives404)
{
    const ContentStore empty(m_dir / "nowhere");
    VendorScript script(empty, m_rotation, std::nullopt);
    for (const char* action : { "LANGL", "VERSION", "MODL" }) {
        const auto answer = script.answerQuery({ { "A", action } });
        EXPECT_EQ(answer.status, 404) << action;
        EXPECT_FALSE(answer.body.empty()) << action;
    }
    EXPECT_EQ(script.answerPage("/faq").status, 404);
}

TEST_F(VendorScriptTest, Pages)
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
        const auto answer = m_script.answerPage(row.path);
        EXPECT_EQ(answer.status, row.status) << row.path;
        EXPECT_EQ(answer.body, row.body) << row.path;
    }
}

} // namespace
} // namespace vexor::server
