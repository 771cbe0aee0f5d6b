// The vendor's console in this process over a fresh SQLite store, driven
// through cpp-httplib's client on loopback; and its checks of form values.
#include "console/auth.h"
#include "console/console.h"
#include "console/forms.h"
#include "console/html.h"
#include "console/service.h"
#include "httpexchange.h"
#include "sqlitestore.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <unistd.h>

namespace vexor::server::console {
namespace {

const std::string Password = "correct horse";
constexpr UnixTime Start = 1796774400; // 2026-12-09T00:00:00Z
const std::string Gif = "GIF89a\x01\x00\x01\x00\x80\x00\x00";

// cpp-httplib's client whose requests fail the test, instead of crashing it,
// when no answer comes; Argon2id on a loaded machine takes its time.
class ConsoleClient {
public:
    explicit ConsoleClient(int port)
        : m_client("127.0.0.1", port)
    {
        m_client.set_read_timeout(120, 0);
        m_client.set_write_timeout(120, 0);
    }
    template <class... Args>
    std::unique_ptr<httplib::Response> Get(Args&&... args) { return answer(m_client.Get(std::forward<Args>(args)...)); }
    template <class... Args>
    std::unique_ptr<httplib::Response> Post(Args&&... args) { return answer(m_client.Post(std::forward<Args>(args)...)); }

private:
    static std::unique_ptr<httplib::Response> answer(httplib::Result result)
    {
        if (!result)
            throw std::runtime_error("no answer: " + httplib::to_string(result.error()));
        return std::make_unique<httplib::Response>(result.value());
    }
    httplib::Client m_client;
};

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_store = std::make_unique<SqliteStore>(m_dir.path() + "store.db");
        ASSERT_FALSE(setPassword(*m_store, "vendor", Password));
        startConsole(false);
    }

    void startConsole(bool tls)
    {
        stopConsole();
        m_server = std::make_unique<httplib::Server>();
        mountConsole(*m_server, *m_store, { tls, storeLineupChooser(*m_store, 0), [this] { return m_now.load(); } });
        m_port = m_server->bind_to_any_port("127.0.0.1");
        ASSERT_GT(m_port, 0);
        m_thread = std::thread([this] { m_server->listen_after_bind(); });
        m_client = std::make_unique<ConsoleClient>(m_port);
    }

    void stopConsole()
    {
        if (m_server)
            m_server->stop();
        if (m_thread.joinable())
            m_thread.join();
    }

    void TearDown() override { stopConsole(); }

    std::unique_ptr<httplib::Response> logIn(const std::string& password)
    {
        return m_client->Post("/console/login", httplib::Params { { "user", "vendor" }, { "password", password } });
    }

    // Logs in; the cookie header of the session and its CSRF token.
    std::pair<httplib::Headers, std::string> session()
    {
        const auto res = logIn(Password);
        const auto cookie = res->get_header_value("Set-Cookie");
        httplib::Headers headers { { "Cookie", cookie.substr(0, cookie.find(';')) } };
        const auto page = m_client->Get("/console/banners", headers);
        const auto at = page->body.find("name=\"csrf\" value=\"") + 19;
        return { headers, page->body.substr(at, 64) };
    }

    std::unique_ptr<httplib::Response> uploadBanner(const httplib::Headers& headers, const std::string& csrf, const std::string& name,
        const std::string& image)
    {
        const httplib::MultipartFormDataItems items { { "csrf", csrf, "", "" }, { "name", name, "", "" },
            { "targets", "https://example.org/\n", "", "" }, { "image", image, "a.gif", "image/gif" },
            { "page", "<img src=\"a.gif\">", "a.htm", "text/html" } };
        return m_client->Post("/console/banners", headers, items);
    }

    testkit::TempDir m_dir;
    std::unique_ptr<SqliteStore> m_store;
    std::atomic<UnixTime> m_now { Start };
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::unique_ptr<ConsoleClient> m_client;
};

TEST_F(ConsoleTest, LoginAnswersByPasswordAndSetsAStrictCookie)
{
    struct Row {
        std::string user, password;
        int status;
    };
    for (const Row& row : { Row { "vendor", "wrong", 401 }, Row { "nobody", Password, 401 }, Row { "", Password, 400 },
             Row { "vendor", "", 400 }, Row { "vendor", Password, 303 } }) {
        const auto res = m_client->Post("/console/login", httplib::Params { { "user", row.user }, { "password", row.password } });
        EXPECT_EQ(res->status, row.status) << row.user << "/" << row.password;
        EXPECT_EQ(res->has_header("Set-Cookie"), row.status == 303);
        EXPECT_NE(res->get_header_value("Content-Security-Policy").find("script-src 'self'"), std::string::npos);
    }
    const auto cookie = logIn(Password)->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("; HttpOnly; SameSite=Strict"), std::string::npos) << cookie;
    EXPECT_EQ(cookie.find("Secure"), std::string::npos) << cookie;
    const auto proxied = m_client->Post("/console/login", httplib::Headers { { "X-Forwarded-Proto", "https" } },
        httplib::Params { { "user", "vendor" }, { "password", Password } });
    EXPECT_NE(proxied->get_header_value("Set-Cookie").find("; Secure"), std::string::npos) << "behind nginx with TLS";
    startConsole(true);
    EXPECT_NE(logIn(Password)->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
}

// A browser opens more connections to a page than the console has threads
// (its own and the sandboxed previews' apart): none may wait for another
// to idle out.
TEST_F(ConsoleTest, ConnectionsLeftOpenHoldNoThread)
{
    std::vector<int> open;
    for (int n = 0; n < 12; ++n) {
        const auto [sock, answered]
            = server::test::keptExchange(m_port, "GET /console/login HTTP/1.1\r\nHost: x\r\n\r\n", "</html>\n");
        open.push_back(sock);
        EXPECT_TRUE(answered) << "connection " << n;
    }
    for (const int sock : open)
        ::close(sock);
}

TEST_F(ConsoleTest, FiveFailuresLockTheUserOutForTenMinutes)
{
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(logIn("wrong")->status, 401);
        m_now += 60;
    }
    EXPECT_EQ(logIn("wrong")->status, 429);
    EXPECT_EQ(logIn(Password)->status, 429);
    m_now += LockOutSeconds - 1;
    EXPECT_EQ(logIn(Password)->status, 429);
    m_now += 1;
    EXPECT_EQ(logIn("wrong")->status, 401);
    EXPECT_EQ(m_store->failedLoginsSince("vendor", 0), 1) << "failures out of the window are dropped";
    EXPECT_EQ(logIn(Password)->status, 303);
}

TEST_F(ConsoleTest, PagesNeedASessionAndChangesTheSessionsToken)
{
    EXPECT_EQ(m_client->Get("/console/banners")->get_header_value("Location"), "/console/login");
    const auto [headers, csrf] = session();
    for (const char* path : { "/console/", "/console/banners", "/console/lineups", "/console/lineups/new",
             "/console/lists", "/console/statistics", "/console/lineups/now?client=1131" })
        EXPECT_EQ(m_client->Get(path, headers)->status, 200) << path;
    struct Row {
        std::string token;
        int status;
    };
    for (const Row& row : { Row { "", 403 }, Row { std::string(64, '0'), 403 }, Row { csrf, 303 } }) {
        const auto res = m_client->Post("/console/lists/version", headers,
            httplib::Params { { "csrf", row.token }, { "version", "1.4" } });
        EXPECT_EQ(res->status, row.status) << row.token;
        EXPECT_EQ(m_store->version().value_or(""), row.status == 303 ? "1.4" : "") << row.token;
    }
    EXPECT_EQ(m_client->Post("/console/logout", headers, httplib::Params { { "csrf", csrf } })->status, 303);
    EXPECT_EQ(m_client->Get("/console/", headers)->status, 303);
}

TEST_F(ConsoleTest, UploadsShowNamesAsTextAndARefusedOneChangesNothing)
{
    const auto [headers, csrf] = session();
    EXPECT_EQ(uploadBanner(headers, csrf, "<script>alert(1)</script>", Gif)->status, 303);
    const auto list = m_client->Get("/console/banners", headers)->body;
    EXPECT_NE(list.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_EQ(list.find("<script>alert"), std::string::npos);
    const auto id = m_store->banners().at(0).id;
    EXPECT_EQ(m_store->bannerPage(id).value_or(""), "<img src=\"" + id + ".gif\">");

    const auto refused = uploadBanner(headers, csrf, "bitmap", "BM\x3e\x00");
    EXPECT_EQ(refused->status, 400);
    EXPECT_NE(refused->body.find("not a GIF, PNG or JPEG image"), std::string::npos);
    EXPECT_EQ(uploadBanner(headers, csrf, "huge", Gif + std::string(3 << 20, 'x'))->status, 413);
    EXPECT_EQ(m_store->banners().size(), 1u);
}

TEST_F(ConsoleTest, CsvExportListsEveryBannerDayWithCounts)
{
    const auto [headers, csrf] = session();
    for (const char* id : { "AAAAAA", "BBBBBB" })
        m_store->addBanner({ id, id, "image/gif", Gif, "<p>", {}, false, Start });
    DisplayReport report;
    report.ids.fill(std::string(EmptySlotId));
    report.ids[0] = "AAAAAA";
    report.ids[1] = "BBBBBB";
    report.counts = { 3, 0 };
    m_store->recordDisplays(report, "1131", "2026-12-08");
    report.counts = { 1, 2 };
    m_store->recordDisplays(report, "1131", "2026-12-09");
    m_store->recordClick("BBBBBB", "2026-12-09");
    struct Row {
        std::string query;
        int status;
        std::string body;
    };
    const std::string header = "date,banner_id,displays,clicks\r\n";
    for (const Row& row : {
             Row { "from=2026-12-08&to=2026-12-09", 200,
                 header + "2026-12-08,AAAAAA,3,0\r\n2026-12-09,AAAAAA,1,0\r\n2026-12-09,BBBBBB,2,1\r\n" },
             Row { "from=2026-12-09&to=2026-12-09&banner=BBBBBB", 200, header + "2026-12-09,BBBBBB,2,1\r\n" },
             Row { "from=2026-12-10&to=2026-12-31", 200, header },
             Row { "from=2026-12-09&to=2026-12-08", 400, "to: the last day is before the first\n" },
             Row { "from=2026-02-30&to=2026-12-08", 400, "from: enter a date as YYYY-MM-DD\n" } }) {
        const auto res = m_client->Get("/console/export/displays.csv?" + row.query, headers);
        EXPECT_EQ(res->status, row.status) << row.query;
        EXPECT_EQ(res->body, row.body) << row.query;
    }
    EXPECT_EQ(m_client->Get("/console/export/displays.csv?from=2026-12-08&to=2026-12-09")->status, 303);
}

TEST_F(ConsoleTest, LineupFormsAreCheckedAndTheNewOneIsWhatClientsGet)
{
    const auto [headers, csrf] = session();
    m_store->addBanner({ "AAAAAA", "a", "image/gif", Gif, "<p>", {}, false, Start });
    m_store->addBanner({ "RRRRRR", "r", "image/gif", Gif, "<p>", {}, true, Start });
    struct Row {
        std::string slot0, interval, from, until, client;
        int status;
        std::string message; // in the answer
    };
    for (const Row& row : { Row { "AAAAAA", "x", "", "", "", 400, "enter milliseconds from 0 to 16777215" },
             Row { "AAAAAA", "1000", "2026-12-09T10:00", "2026-12-09T09:00", "", 400, "the end must come after the start" },
             Row { "RRRRRR", "1000", "", "", "", 400, "The line-up was not saved: " },
             Row { "AAAAAA", "1000", "2026-12-08T00:00", "", "1131", 303, "" } }) {
        const auto res = m_client->Post("/console/lineups/new", headers, httplib::Params { { "csrf", csrf },
            { "name", "planned" }, { "slot0", row.slot0 }, { "interval", row.interval }, { "from", row.from },
            { "until", row.until }, { "client", row.client } });
        EXPECT_EQ(res->status, row.status) << row.interval << row.slot0;
        EXPECT_NE(res->body.find(row.message), std::string::npos) << res->body;
        EXPECT_EQ(m_store->lineups().size(), row.status == 303 ? 1u : 0u);
    }
    const auto now = m_client->Get("/console/lineups/now?client=1131", headers)->body;
    EXPECT_NE(now.find(">AAAAAA" + std::string(54, '0') + "0003E8<"), std::string::npos) << now;
    const auto other = m_client->Get("/console/lineups/now?client=1132", headers)->body;
    EXPECT_NE(other.find(">" + std::string(60, '0') + "00EA60<"), std::string::npos) << other;
}

TEST(ConsoleHtml, ValuesAreEscapedAndMissingSlotsAreFaults)
{
    EXPECT_EQ(escapeHtml("<a href=\"x\" onclick='y'>&`"), "&lt;a href&#61;&quot;x&quot; onclick&#61;&#39;y&#39;&gt;&amp;&#96;");
    EXPECT_EQ(escapeHtml("Grüße 1.3"), "Grüße 1.3");
    EXPECT_EQ(templateNamed("layout.error").render({ { "field", "x\"" }, { "message", "<b>" } }).str(),
        "<p class=\"field-error\" id=\"x&quot;-error\">&lt;b&gt;</p>\n");
    EXPECT_THROW(templateNamed("layout.error").render({ { "field", "x" } }), std::logic_error);
    EXPECT_THROW(templateNamed("no.such"), std::logic_error);
}

TEST(ConsoleForms, ChecksEveryKindOfField)
{
    struct Row {
        const char* what;
        std::string error; // what the check says; empty: accepted
        std::string expected;
    };
    const std::string texts = "[Texts]\r\nMainCaption=Vexor\r\n";
    const Row rows[] = {
        { "png", checkBannerImage("\x89PNG\r\n\x1a\nrest").error, "" },
        { "jpeg", checkBannerImage("\xFF\xD8\xFF\xE0").error, "" },
        { "gif87", checkBannerImage("GIF87a").error, "" },
        { "html as image", checkBannerImage("<html>").error, "the file is not a GIF, PNG or JPEG image" },
        { "big image", checkBannerImage("GIF89a" + std::string(MaxImageBytes, 'x')).error, "the image is larger than 1 MiB" },
        { "empty image", checkBannerImage("").error, "choose an image file (GIF, PNG or JPEG)" },
        { "image as page", checkBannerPage("GIF89a<p>").error, "the file is not an HTML page" },
        { "big page", checkBannerPage("<p>" + std::string(MaxPageBytes, 'x')).error, "the page is larger than 64 KiB" },
        { "page with NUL", checkBannerPage(std::string("<p>\0", 4)).error, "the file is not an HTML page" },
        { "leap day", checkDay("2028-02-29").error, "" },
        { "no such day", checkDay("2026-02-29").error, "enter a date as YYYY-MM-DD" },
        { "short day", checkDay("2026-1-01").error, "enter a date as YYYY-MM-DD" },
        { "minute", checkUtcMinute("2026-12-09T23:59").error, "" },
        { "hour 24", checkUtcMinute("2026-12-09T24:00").error, "enter a time as YYYY-MM-DDTHH:MM (UTC)" },
        { "targets", checkLinkTargets("https://a.example/x?y=1\r\n\r\nhttp://b.example").error, "" },
        { "script target", checkLinkTargets("https://a.example/\njavascript:alert(1)").error, "line 2: enter an http:// or https:// address" },
        { "blank target", checkLinkTargets("https://a.example/a b").error, "line 1: the address has blanks or characters that must be %-encoded" },
        { "languages", checkLanguageList("English=english.lng\nDeutsch=deutsch.lng").error, "" },
        { "language path", checkLanguageList("Evil=../x.lng").error, "line 1: \"../x.lng\" is not a plain file name" },
        { "language no =", checkLanguageList("English").error, "line 1: write name=..." },
        { "section as name", checkModuleList("[Modules]=x").error, "line 1: \"[Modules]\" cannot be a key" },
        { "language file", checkLanguageFile("x.lng", texts + "[Errors]\r\nE=e\r\n").error, "" },
        { "no errors", checkLanguageFile("x.lng", texts).error,
            "the file has no [Errors] section, so the client would show no texts from it" },
        { "empty texts", checkLanguageFile("x.lng", "[Texts]\r\n; none\r\n[Errors]\r\nE=e\r\n").error,
            "the [Texts] section has no key=value lines" },
        { "hidden file", checkLanguageFile(".x.lng", texts).error, "the file name is not a plain file name" },
        { "interval", checkInterval("16777215").error, "" },
        { "interval over", checkInterval("16777216").error, "enter milliseconds from 0 to 16777215" },
        { "interval sign", checkInterval("-1").error, "enter milliseconds from 0 to 16777215" },
        { "client blank", checkClientFilter("11 31").error, "a client id is 1 to 64 plain characters without blanks" },
        { "version line", checkVersionText("1.3\n").error, "the version is one line of at most 32 plain characters" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.error, row.expected) << row.what;
}

} // namespace
} // namespace vexor::server::console
