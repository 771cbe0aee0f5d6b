// The vexor-server binary over loopback: answer formats, hostile input, the
// log, rotation and connection handling.
#include "httpexchange.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vexor::server::test {
namespace {

// Ten ids of six letters or digits, then six upper-case hex digits.
bool isCountAnswer(const std::string& body)
{
    const auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    const auto hex = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'); };
    return body.size() == 66 && std::all_of(body.begin(), body.begin() + 60, alnum)
        && std::all_of(body.begin() + 60, body.end(), hex);
}

// "2026-12-08T17:00:00Z": 0 stands for any digit.
bool isUtcTime(std::string_view text)
{
    constexpr std::string_view Shape = "0000-00-00T00:00:00Z";
    if (text.size() != Shape.size())
        return false;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const bool ok = Shape[i] == '0' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0 : text[i] == Shape[i];
        if (!ok)
            return false;
    }
    return true;
}

enum class From { Content, Store };

// The shipped content, served as it comes from the folder, or from a store
// it was imported into: the answers are the same bytes.
class ShippedServerTest : public testing::TestWithParam<From> {
protected:
    static void TearDownTestSuite()
    {
        s_servers.clear();
        s_dir.reset();
    }
    void SetUp() override
    {
        auto& server = s_servers[GetParam()];
        if (!server)
            server = start(GetParam());
        ASSERT_TRUE(server->started()) << server->errorOutput();
    }

    static std::unique_ptr<VendorServer> start(From from)
    {
        if (from == From::Content)
            return std::make_unique<VendorServer>(VEXOR_SERVER_EXE, std::vector<std::string> { "--content", shippedContent().string() });
        s_dir = std::make_unique<TempDir>();
        const auto store = *s_dir / "store.db";
        const auto run = runServer({ "import", "--store", store, "--content", shippedContent().string() }, 30s);
        EXPECT_EQ(run.exitStatus, 0) << run.err;
        return std::make_unique<VendorServer>(VEXOR_SERVER_EXE, std::vector<std::string> { "--store", store });
    }

    static int port() { return s_servers[GetParam()]->port(); }
    static bool running() { return s_servers[GetParam()]->running(); }
    static inline std::map<From, std::unique_ptr<VendorServer>> s_servers;
    static inline std::unique_ptr<TempDir> s_dir;
};

INSTANTIATE_TEST_SUITE_P(Sources, ShippedServerTest, testing::Values(From::Content, From::Store),
    [](const testing::TestParamInfo<From>& info) { return info.param == From::Content ? "Content" : "Store"; });

TEST_P(ShippedServerTest, ListsAnswerWithTheirHeaderLine)
{
    const struct {
        const char* action;
        const char* file;
        const char* firstLine;
    } rows[] = { { "LANGL", "lang.ini", "[Languages]\r\n" }, { "MODL", "modl.ini", "[Modules]\r\n" } };
    for (const auto& row : rows) {
        const auto r = get(port(), query(row.action, "&L=English"));
        EXPECT_EQ(r.status, 200) << row.action;
        EXPECT_EQ(r.header("content-type"), "text/plain") << row.action;
        EXPECT_TRUE(r.body.starts_with(row.firstLine)) << row.action;
        EXPECT_EQ(r.body, readFile(shippedContent() / row.file)) << row.action;
    }
    const auto languages = get(port(), query("LANGL", "&L=English&STARTUP=4&INSTALL=True")).body;
    EXPECT_NE(languages.find("\r\nEnglish=english.lng\r\n"), std::string::npos);
    EXPECT_NE(languages.find("\r\nDeutsch=deutsch.lng\r\n"), std::string::npos);
    const auto modules = get(port(), query("MODL", "&L=English")).body;
    for (const char* line : { "\r\nNotes=Notes\r\n", "\r\nClock=Clock\r\n", "\r\nWeather=Weather\r\n" })
        EXPECT_NE(modules.find(line), std::string::npos) << line;
}

TEST_P(ShippedServerTest, VersionIsTheBareText)
{
    const auto r = get(port(), query("VERSION", "&L=English"));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "1.3");
    EXPECT_EQ(r.header("content-length"), "3");
}

TEST_P(ShippedServerTest, CountAnswerIsSixtySixCharacters)
{
    const auto r = get(port(), query("LCOUNT", "&LOGOIDS=" + std::string(60, '0') + "&LOG=" + std::string(60, '0') + "&LF=2"));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "100001100002100003100004100005100006000000000000000000000000001388");
    EXPECT_TRUE(isCountAnswer(r.body));
}

TEST_P(ShippedServerTest, BannersComeByteForByte)
{
    for (const auto& entry : fs::directory_iterator(shippedContent() / "banners")) {
        const auto id = entry.path().stem().string();
        const bool image = entry.path().extension() == ".gif";
        const auto r = get(port(), query(image ? "LOGO" : "HTML", "&LOGOID=" + id));
        EXPECT_EQ(r.status, 200) << entry.path();
        EXPECT_EQ(r.header("content-type"), image ? "image/gif" : "text/html") << entry.path();
        EXPECT_EQ(r.body, readFile(entry.path())) << entry.path();
    }
    EXPECT_EQ(get(port(), query("LOGO", "&LOGOID=999999")).status, 404);
    EXPECT_EQ(get(port(), query("HTML")).status, 400);
}

TEST_P(ShippedServerTest, LanguageFilesByName)
{
    for (const char* file : { "deutsch.lng", "english.lng" }) {
        const auto r = get(port(), query("LANGC", std::string("&L=") + file));
        EXPECT_EQ(r.status, 200) << file;
        EXPECT_EQ(r.body, readFile(shippedContent() / "languages" / file)) << file;
    }
}

TEST_P(ShippedServerTest, BadActionsGet400WithAShortText)
{
    for (const std::string& target : { scriptTarget(""), scriptTarget("MID=1"), query("FOO"), query("langl"),
             query(""), scriptTarget("A"), std::string("/cgi-bin/script/vexor_parser.pl") }) {
        const auto r = get(port(), target);
        EXPECT_EQ(r.status, 400) << target;
        EXPECT_FALSE(r.body.empty()) << target;
        EXPECT_LT(r.body.size(), 80u) << target;
    }
}

TEST_P(ShippedServerTest, BannerLinksGoThroughClick)
{
    const std::string faq = "http://localhost:8431/faq/index.htm";
    const auto click = get(port(), "/click?b=100001&to=http%3A%2F%2Flocalhost%3A8431%2Ffaq%2Findex.htm");
    EXPECT_EQ(click.status, 302);
    EXPECT_EQ(click.header("location"), faq);
    EXPECT_EQ(get(port(), "/click?b=100001&to=http%3A%2F%2Fevil.example%2F").status, 404) << "no open redirect";
    EXPECT_EQ(get(port(), "/click?b=100004&to=" + faq).status, 404) << "100004 links to the update page only";
}

TEST_P(ShippedServerTest, WebPages)
{
    const auto faq = readFile(shippedContent() / "web" / "faq.htm");
    for (const char* path : { "/faq", "/faq/index.htm" }) {
        const auto r = get(port(), path);
        EXPECT_EQ(r.status, 200) << path;
        EXPECT_EQ(r.header("content-type"), "text/html") << path;
        EXPECT_EQ(r.body, faq) << path;
    }
    const auto update = get(port(), "/update/index.php?MID=1&MCID=1131&MUID=1");
    EXPECT_EQ(update.status, 200);
    EXPECT_EQ(update.body, readFile(shippedContent() / "web" / "update.htm"));
    const auto missing = get(port(), "/nothing/here");
    EXPECT_EQ(missing.status, 404);
    EXPECT_FALSE(missing.body.empty());
}

TEST_P(ShippedServerTest, EncodedBlanksAndProxyUrlsAreUnderstood)
{
    // A language name may hold a blank; the client sends it as %20.
    const auto blank = get(port(), query("VERSION", "&L=Deutsch%20Schweiz"));
    EXPECT_EQ(blank.status, 200);
    EXPECT_EQ(blank.body, "1.3");
    EXPECT_EQ(get(port(), query("LANGC", "&L=no%20such%20file.lng")).status, 404);
    EXPECT_EQ(get(port(), query("VERSION", "&L=Deutsch Schweiz")).status, 400) << "a raw blank, as Apache answers";
    // Through a proxy the request line carries the whole URL.
    const auto proxied = get(port(), "http://127.0.0.1:" + std::to_string(port()) + query("VERSION"));
    EXPECT_EQ(proxied.status, 200);
    EXPECT_EQ(proxied.body, "1.3");
}

TEST_P(ShippedServerTest, Http10AnswerEndsWithTheClose)
{
    // No half-close from this side: the server alone ends the connection.
    const auto r = exchange(port(), "GET " + query("MODL") + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", false, 3s);
    ASSERT_TRUE(r.ended) << "the server kept the connection open";
    EXPECT_FALSE(r.reset);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body.size(), std::stoul(r.header("content-length")));
    EXPECT_EQ(r.body, readFile(shippedContent() / "modl.ini"));
}

// Clients get one answer per connection; a proxy's HTTP/1.1 requests may
// follow each other on one (nginx's upstream keepalive).
TEST_P(ShippedServerTest, OnlyHttp11KeepsTheConnection)
{
    for (const char* head : { "HTTP/1.0\r\n", "HTTP/1.0\r\nConnection: Keep-Alive\r\n",
             "HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\nHost: x\r\n", "HTTP/1.1\r\nHost: x\r\nConnection: close\r\n" }) {
        const auto r = exchange(port(), "GET " + query("VERSION") + " " + head + "\r\n", false, 3s);
        EXPECT_TRUE(r.ended) << head;
        EXPECT_EQ(r.header("connection"), "close") << head;
        EXPECT_EQ(r.body, "1.3") << head;
    }
    // The second request's line is repaired like the first's (a proxy's
    // absolute form), and it asks for the close. A line the parser refuses
    // ends the connection.
    const std::string second = "GET http://x" + query("VERSION") + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    const std::string answer = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 3\r\n"
                               "Content-Type: text/plain\r\n\r\n1.3";
    const auto kept = exchange(port(), "GET " + query("VERSION") + " HTTP/1.1\r\nHost: x\r\n\r\n" + second, false, 3s);
    EXPECT_TRUE(kept.ended);
    EXPECT_EQ(kept.header("connection"), "");
    EXPECT_EQ(kept.body, "1.3" + answer);
    const auto refused = exchange(port(), "GET " + query("VERSION", "&X=a b") + " HTTP/1.1\r\nHost: x\r\n\r\n" + second, false, 3s);
    EXPECT_TRUE(refused.ended);
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(refused.header("connection"), "close");
    EXPECT_EQ(refused.raw.find(answer), std::string::npos);
}

// nginx may keep more idle connections than a server has threads (64): a
// connection beyond them must not wait until an idle one times out.
TEST_P(ShippedServerTest, IdleKeptConnectionsMakeRoomForNewOnes)
{
    std::vector<int> kept;
    for (int n = 0; n < 72; ++n) {
        const auto [sock, answered]
            = keptExchange(port(), "GET " + query("VERSION") + " HTTP/1.1\r\nHost: x\r\n\r\n", "\r\n\r\n1.3");
        kept.push_back(sock);
        EXPECT_TRUE(answered) << "connection " << n;
    }
    for (const int sock : kept)
        ::close(sock);
}

TEST_P(ShippedServerTest, HeadAndOtherMethods)
{
    const auto head = exchange(port(), "HEAD " + query("VERSION") + " HTTP/1.0\r\n\r\n", false);
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.empty());
    const auto post = exchange(port(), "POST " + query("VERSION") + " HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", false);
    EXPECT_EQ(post.status, 405);
}

// A copy of the shipped content with a secret beside it and a link out of
// languages/, for the checks of hostile names.
class HostileNamesTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::copy(shippedContent(), content(), fs::copy_options::recursive);
        writeFile(m_dir / "secret.txt", Secret);
        writeFile(content() / "secret.txt", Secret);
        fs::create_symlink("../../secret.txt", content() / "languages" / "link.lng");
        m_server = std::make_unique<VendorServer>(VEXOR_SERVER_EXE, std::vector<std::string> { "--content", content().string() });
        ASSERT_TRUE(m_server->started()) << m_server->errorOutput();
    }

    fs::path content() const { return m_dir / "content"; }

    static constexpr const char* Secret = "TOP-SECRET-MARKER";
    TempDir m_dir;
    std::unique_ptr<VendorServer> m_server;
};

TEST_F(HostileNamesTest, LanguageFileNamesStayInTheFolder)
{
    const char* names[] = { "../secret.txt", "../../secret.txt", "..%2Fsecret.txt", "%2E%2E%2Fsecret.txt",
        "..\\secret.txt", "..%5Csecret.txt", "languages/../secret.txt", "/etc/passwd", "%2Fetc%2Fpasswd",
        "secret.txt", "link.lng", "..", ".", "", "deutsch.lng%00", "deutsch.lng/", "deutsch.lng%2F",
        "....//secret.txt", "nonexistent.lng", "deutsch.lng/../../secret.txt" };
    for (const char* name : names) {
        const auto r = get(m_server->port(), query("LANGC", std::string("&L=") + name));
        EXPECT_EQ(r.status, 404) << name;
        EXPECT_EQ(r.raw.find(Secret), std::string::npos) << name;
        EXPECT_EQ(r.raw.find("root:"), std::string::npos) << name;
    }
    // The same names as banner ids and as paths.
    for (const char* id : { "../secret.txt", "..%2F..", "%2E%2E%2F..", "secret" }) {
        EXPECT_EQ(get(m_server->port(), query("LOGO", std::string("&LOGOID=") + id)).raw.find(Secret), std::string::npos);
        EXPECT_EQ(get(m_server->port(), query("HTML", std::string("&LOGOID=") + id)).raw.find(Secret), std::string::npos);
    }
    for (const char* path : { "/../secret.txt", "/%2E%2E/secret.txt", "/secret.txt", "/web/../secret.txt" })
        EXPECT_EQ(get(m_server->port(), path).raw.find(Secret), std::string::npos) << path;
}

std::string randomBytes(std::mt19937& rng, std::size_t length, bool printable)
{
    std::uniform_int_distribution<int> any(0, 255);
    std::uniform_int_distribution<int> text(0x21, 0x7E);
    std::string out(length, '\0');
    for (auto& c : out)
        c = static_cast<char>(printable ? text(rng) : any(rng));
    return out;
}

// Requests no client should send; the server answers each or closes, and
// goes on serving.
std::vector<std::string> garbageRequests()
{
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<std::size_t> shortLength(1, 300);
    std::vector<std::string> requests;
    for (int i = 0; i < 80; ++i)
        requests.push_back(randomBytes(rng, shortLength(rng), false));
    for (int i = 0; i < 80; ++i)
        requests.push_back("GET " + scriptTarget(randomBytes(rng, shortLength(rng), true)) + " HTTP/1.0\r\n\r\n");
    for (int i = 0; i < 80; ++i)
        requests.push_back("GET " + scriptTarget(randomBytes(rng, shortLength(rng), false)) + " HTTP/1.0\r\n\r\n");
    for (const char* action : { "LANGL", "VERSION", "MODL", "LCOUNT", "LOGO", "HTML", "LANGC" }) {
        for (const std::size_t length : { 1000, 8000, 9000, 70000 }) {
            const std::string big(length, 'x');
            requests.push_back("GET " + query(action, "&L=" + big + "&LOGOID=" + big) + " HTTP/1.0\r\n\r\n");
        }
        requests.push_back("GET " + query(action, "&L=%%%%%0%zz%&LOGOID=%00%00%00%00%00%00") + " HTTP/1.0\r\n\r\n");
    }
    std::string manyPairs;
    for (int i = 0; i < 1500; ++i)
        manyPairs += "&k" + std::to_string(i) + "=v";
    requests.push_back("GET " + query("VERSION", manyPairs) + " HTTP/1.0\r\n\r\n");
    requests.push_back("GET " + query("VERSION") + " HTTP/1.0\r\n" + std::string(100000, 'h') + "\r\n\r\n");
    requests.push_back("GET " + query("VERSION") + " HTTP/1.0\r\nRange: bytes=99-1,zz\r\n\r\n");
    requests.push_back("GET " + query("VERSION") + " HTTP/1.0\r\nContent-Length: -5\r\n\r\n");
    requests.push_back("\r\n\r\n\r\n");
    requests.push_back("GET " + query("VERSION") + " HTTP/1.0\n\n");
    requests.push_back(std::string(20000, ' '));
    return requests;
}

TEST_P(ShippedServerTest, GarbageNeverStopsTheServer)
{
    const auto requests = garbageRequests();
    ASSERT_GE(requests.size(), 250u);
    int answered = 0;
    for (const auto& request : requests) {
        const auto r = exchange(port(), request, true, 5s);
        ASSERT_TRUE(r.ended) << "no end within the time-out for request #" << &request - requests.data();
        if (r.status != 0) {
            ++answered;
            EXPECT_LT(r.status, 500) << "request #" << &request - requests.data();
        }
    }
    EXPECT_GE(answered, static_cast<int>(requests.size()) / 2);
    ASSERT_TRUE(running());
    EXPECT_EQ(get(port(), query("VERSION")).body, "1.3");
}

// A copy of the shipped content with three known line-ups.
class RotationTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::copy(shippedContent(), content(), fs::copy_options::recursive);
        fs::remove_all(content() / "lineups");
        writeFile(content() / "lineups" / "1.txt", "100001 000000 000000 000000 000000 000000 000000 000000 000000 000000 1000");
        writeFile(content() / "lineups" / "2.txt", "# second\n100002 100003 000000 000000 000000 000000 000000 000000 000000 000000\n8000\n");
        writeFile(content() / "lineups" / "3.txt", "100004 100004 100004 100004 100004 100004 100004 100004 100004 100004 16777215");
    }

    std::vector<std::string> countAnswers(VendorServer& server, int n)
    {
        std::vector<std::string> answers;
        for (int i = 0; i < n; ++i)
            answers.push_back(get(server.port(), query("LCOUNT", "&LF=2")).body);
        return answers;
    }

    fs::path content() const { return m_dir / "content"; }

    const std::string First = "100001" + std::string(54, '0') + "0003E8";
    const std::string Second = "100002100003" + std::string(48, '0') + "001F40";
    const std::string Third = std::string("100004100004100004100004100004100004100004100004100004100004") + "FFFFFF";
    TempDir m_dir;
};

TEST_F(RotationTest, NextLineupAfterEveryNCountRequests)
{
    VendorServer server(VEXOR_SERVER_EXE, { "--content", content().string(), "--rotate-every", "2" });
    ASSERT_TRUE(server.started()) << server.errorOutput();
    // Other actions do not count.
    get(server.port(), query("VERSION"));
    get(server.port(), query("LOGO", "&LOGOID=100001"));
    EXPECT_EQ(countAnswers(server, 7), (std::vector<std::string> { First, First, Second, Second, Third, Third, First }));
}

TEST_F(RotationTest, WithoutRotationTheFirstLineupStays)
{
    VendorServer server(VEXOR_SERVER_EXE, { "--content", content().string() });
    ASSERT_TRUE(server.started()) << server.errorOutput();
    EXPECT_EQ(countAnswers(server, 4), std::vector<std::string>(4, First));
}

TEST_F(RotationTest, BrokenLineupStopsTheStart)
{
    writeFile(content() / "lineups" / "2.txt", "100002 8000");
    const auto run = runServer({ "--port", "0", "--content", content().string() }, 10s);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find("2.txt: expected ten banner ids and an interval, found 2 values"), std::string::npos) << run.err;
}

class LogTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.started()) << m_server.errorOutput(); }

    // The part after the time and the address; checks those on the way.
    static std::string afterAddress(const std::string& line)
    {
        constexpr std::string_view Address = " 127.0.0.1";
        EXPECT_TRUE(isUtcTime(std::string_view(line).substr(0, 20))) << line;
        EXPECT_EQ(line.substr(20, Address.size()), Address) << line;
        const auto rest = line.substr(std::min(line.size(), 20 + Address.size()));
        EXPECT_TRUE(rest.empty() || rest[0] == ' ') << line;
        return rest.empty() ? rest : rest.substr(1);
    }

    VendorServer m_server { VEXOR_SERVER_EXE, { "--content", shippedContent().string() } };
};

TEST_F(LogTest, OneLinePerRequestWithEveryValueInOrder)
{
    const std::string ids = "100001100002100003100004100005100006000000000000000000000000";
    const std::string counts = "00000A0000FF00000000000000000000000000000000000000000000000001";
    const struct {
        std::string target;
        std::string logged;
    } rows[] = {
        { query("LANGL", "&L=English&STARTUP=1&INSTALL=True"),
            "A=LANGL MID=1 MCID=1131 MUID=1 L=English STARTUP=1 INSTALL=True" },
        { query("VERSION", "&L=Deutsch%20Schweiz"), "A=VERSION MID=1 MCID=1131 MUID=1 L=Deutsch%20Schweiz" },
        { query("MODL", "&L=English"), "A=MODL MID=1 MCID=1131 MUID=1 L=English" },
        { query("LCOUNT", "&LOGOIDS=" + ids + "&LOG=" + counts + "&LF=2"),
            "A=LCOUNT MID=1 MCID=1131 MUID=1 LOGOIDS=" + ids + " LOG=" + counts + " LF=2" },
        { query("LOGO", "&LOGOID=100003"), "A=LOGO MID=1 MCID=1131 MUID=1 LOGOID=100003" },
        { query("HTML", "&LOGOID=100003"), "A=HTML MID=1 MCID=1131 MUID=1 LOGOID=100003" },
        { query("LANGC", "&L=deutsch.lng"), "A=LANGC MID=1 MCID=1131 MUID=1 L=deutsch.lng" },
        { query("NOPE", "&L=Fran\xE7" "ais&X=a%25b"), "A=NOPE MID=1 MCID=1131 MUID=1 L=Fran%E7ais X=a%25b" },
        { scriptTarget(""), "" },
        { "/update/index.php?MID=1&MCID=1131&MUID=1", "GET /update/index.php MID=1 MCID=1131 MUID=1" },
        { "/faq", "GET /faq" },
        { "/missing?x=1", "GET /missing x=1" },
    };
    for (const auto& row : rows)
        ASSERT_NE(get(m_server.port(), row.target).status, 0) << row.target;
    const auto lines = m_server.logLines();
    ASSERT_EQ(lines.size(), std::size(rows));
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(afterAddress(lines[i]), rows[i].logged) << rows[i].target;
}

TEST_F(LogTest, ConcurrentRequestsGiveWholeLines)
{
    constexpr int Clients = 8;
    constexpr int Requests = 25;
    std::vector<std::thread> clients;
    for (int c = 0; c < Clients; ++c)
        clients.emplace_back([this, c] {
            for (int i = 0; i < Requests; ++i)
                get(m_server.port(), query("VERSION", "&C=" + std::to_string(c) + "&I=" + std::to_string(i)));
        });
    for (auto& c : clients)
        c.join();
    std::set<std::string> seen;
    for (const auto& line : m_server.logLines()) {
        const std::string fixed = "A=VERSION MID=1 MCID=1131 MUID=1 C=";
        const auto rest = afterAddress(line);
        ASSERT_TRUE(rest.starts_with(fixed) && rest.find(" I=") != std::string::npos) << line;
        seen.insert(rest.substr(fixed.size()));
    }
    EXPECT_EQ(m_server.logLines().size(), static_cast<std::size_t>(Clients * Requests));
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(Clients * Requests));
}

} // namespace
} // namespace vexor::server::test
