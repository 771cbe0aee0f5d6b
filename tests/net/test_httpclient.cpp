// THttpClient against the scripted loopback server: whole requests, the bytes
// on the wire, events, file mode, redirects, failures and limits.

#include "net/httpclient.h"

#include "nettestutil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vexor::net::testing {
namespace {

const std::string AcceptLines =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const std::string FormLine = "Content-type: application/x-www-form-urlencoded\r\n";

// Answers every connection with the same bytes after reading the request.
LoopbackServer::Script answer(LoopbackServer& server, const std::string& bytes)
{
    return [&server, bytes](ServerConnection& connection, int) {
        server.record(connection.readRequest());
        connection.send(bytes);
    };
}

class HttpClientTest : public LoopbackTest {
protected:
    void Answer(const std::string& bytes) { Serve(answer(*m_server, bytes)); }

    // Records the events of the client in the order they fire.
    void TraceEvents()
    {
        m_client.OnAboutToSend = [this] { m_events.push_back("AboutToSend"); };
        m_client.OnConnect = [this] { m_events.push_back("Connect"); };
        m_client.OnConnectionFailed = [this] { m_events.push_back("ConnectionFailed"); };
        m_client.OnPacketRecvd = [this] {
            if (m_events.empty() || m_events.back() != "PacketRecvd")
                m_events.push_back("PacketRecvd");
        };
        m_client.OnSuccess = [this](CmdType cmd) { m_events.push_back("Success" + std::to_string(int(cmd))); };
        m_client.OnFailure = [this](CmdType cmd) { m_events.push_back("Failure" + std::to_string(int(cmd))); };
        m_client.OnDisconnect = [this] { m_events.push_back("Disconnect"); };
        m_client.OnAuthenticationNeeded = [this] { m_events.push_back("AuthenticationNeeded"); };
        m_client.OnRedirect = [this](bool&) { m_events.push_back("Redirect"); };
    }

    THttpClient m_client;
    std::vector<std::string> m_events;
};

TEST_F(HttpClientTest, GetIntoMemoryStoresHeaderBodyAndFiresEventsInOrder)
{
    Answer("HTTP/1.0 200 OK\r\nContent-Length: 5\r\nX-A: b\r\n\r\nhello");
    TraceEvents();
    m_client.Get(BaseUrl() + "/cgi-bin/x.pl?A=1");
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.Header, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\nX-A: b\r\n\r\n");
    EXPECT_EQ(m_client.Body, "hello");
    EXPECT_EQ(m_client.ContentLength, 5);
    EXPECT_EQ(m_client.BytesReceived, 5);
    const std::vector<std::string> expected = {"AboutToSend", "Connect", "PacketRecvd", "Success0", "Disconnect"};
    EXPECT_EQ(m_events, expected);
}

TEST_F(HttpClientTest, DirectRequestBytesAreExact)
{
    Answer(Reply("200 OK", "x"));
    m_client.Port = 4711;  // a URL with a scheme never uses the caller's port
    m_client.HeaderInfo.UserId = "user";  // without a password: no Authorization
    m_client.Get(BaseUrl() + "/cgi-bin/x.pl?A=1");
    ASSERT_EQ(m_server->requests().size(), 1u);
    EXPECT_EQ(m_server->requests()[0],
              "GET /cgi-bin/x.pl?A=1 HTTP/1.0\r\nHost: 127.0.0.1\r\n" + AcceptLines + FormLine + "\r\n");
}

TEST_F(HttpClientTest, ProxiedRequestBytesAreExactWithAndWithoutCredentials)
{
    Answer(Reply("200 OK", "proxied"));
    m_client.Proxy = "127.0.0.1";
    m_client.ProxyPort = m_server->port();
    m_client.Get("http://vendor.example:8080/cgi-bin/x.pl?A=1");
    m_client.HeaderInfo.UserId = "proxyuser";
    m_client.HeaderInfo.Password = "a rather long secret password: 0123456789";
    m_client.Get("http://vendor.example:8080/cgi-bin/x.pl?A=1");
    ASSERT_EQ(m_server->requests().size(), 2u);
    const std::string head = "GET http://vendor.example:8080/cgi-bin/x.pl?A=1 HTTP/1.0\r\n"
                             "Proxy-Connection: Keep-Alive\r\nHost: vendor.example\r\n"
        + AcceptLines;
    EXPECT_EQ(m_server->requests()[0], head + FormLine + "\r\n");
    EXPECT_EQ(m_server->requests()[1],
              head
                  + "Proxy-Authorization: Basic "
                    "cHJveHl1c2VyOmEgcmF0aGVyIGxvbmcgc2VjcmV0IHBhc3N3b3JkOiAwMTIzNDU2Nzg5\r\n"
                  + FormLine + "\r\n");
    EXPECT_EQ(m_client.Body, "proxied");
}

TEST_F(HttpClientTest, UrlWithoutSchemeUsesItsPortAndGetsSlashAppended)
{
    Answer(Reply("200 OK", "x"));
    m_client.Get("127.0.0.1:" + std::to_string(m_server->port()));
    EXPECT_EQ(m_client.Url, "127.0.0.1:" + std::to_string(m_server->port()) + "/");
    ASSERT_EQ(m_server->requests().size(), 1u);
    EXPECT_EQ(m_server->requests()[0].substr(0, 16), "GET / HTTP/1.0\r\n");
}

TEST_F(HttpClientTest, FileModeWritesBodyAndHeaderFiles)
{
    const std::string body(200000, 'b');
    Answer(Reply("200 OK", body));
    m_client.InputFileMode = true;
    m_client.OutputFileMode = true;
    m_client.Body = m_dir / "body.bin";
    m_client.Header = m_dir / "head.txt";
    // What a killed client left of an earlier download goes, once it is an
    // hour old; a younger one may still be written.
    const std::string stale = m_dir / ".body.bin.part-Ab12Cd", young = m_dir / ".body.bin.part-Ef34Gh";
    writeFile(stale, "cut");
    writeFile(young, "cut");
    std::filesystem::last_write_time(stale, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(61));
    m_client.Get(BaseUrl() + "/file");
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(young));
    EXPECT_EQ(readFile(m_dir / "body.bin"), body);
    EXPECT_EQ(readFile(m_dir / "head.txt"), "HTTP/1.0 200 OK\r\nContent-Length: 200000\r\n\r\n");
    EXPECT_EQ(m_client.BytesReceived, 200000);
}

TEST_F(HttpClientTest, BodyEndsAtItsLengthWhileTheConnectionStaysOpen)
{
    // A keep-alive peer: the reply, bytes that are not part of it, then silence.
    for (const std::string body : {"hello", ""}) {
        Serve([body](ServerConnection& connection, int) {
            connection.readRequest();
            connection.send(Reply("200 OK", body) + "EXTRA");
            connection.waitForPeerClose();
        });
        m_client.TimeOut = 5000;
        m_client.InputFileMode = false;
        m_client.Get(BaseUrl() + "/");
        EXPECT_EQ(m_client.Body, body);
        m_client.InputFileMode = true;
        m_client.Body = m_dir / "body.bin";
        m_client.Get(BaseUrl() + "/");
        EXPECT_EQ(readFile(m_dir / "body.bin"), body);
        EXPECT_FALSE(m_client.TimedOut);
    }
}

TEST_F(HttpClientTest, FileModeLeavesDestinationUntouchedWhenConnectFails)
{
    const std::uint16_t closedPort = freePort();
    const auto destination = m_dir / "lang.inibak";
    writeFile(destination, "old content");
    m_client.InputFileMode = true;
    m_client.Body = destination;
    TraceEvents();
    EXPECT_EQ(ErrorOf([&] { m_client.Get("http://127.0.0.1:" + std::to_string(closedPort) + "/x"); }),
              "Connection Failed");
    EXPECT_EQ(m_client.LastErrorCode, 10061);
    EXPECT_EQ(readFile(destination), "old content");
    const std::vector<std::string> expected = {"AboutToSend", "ConnectionFailed", "Disconnect"};
    EXPECT_EQ(m_events, expected);
}

TEST_F(HttpClientTest, FileModeFailsClearlyWhenDestinationCannotBeCreated)
{
    Answer(Reply("200 OK", "data"));
    m_client.InputFileMode = true;
    m_client.Body = m_dir / "missing-folder/x.gif";
    EXPECT_EQ(ErrorOf([&] { m_client.Get(BaseUrl() + "/x"); }), "Cannot create file " + m_client.Body);
    EXPECT_FALSE(m_client.Connected);
}

TEST_F(HttpClientTest, StatusLineInTwoPiecesIsReadWhole)
{
    Serve([](ServerConnection& connection, int) {
        connection.readRequest();
        connection.send("HTTP/1.0 20");
        connection.drip("0 OK\r", 5);
        connection.drip("\nContent-Length: 2\r\n\r\nok", 1);
    });
    m_client.Get(BaseUrl() + "/");
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.Header, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n");
    EXPECT_EQ(m_client.Body, "ok");
}

TEST_F(HttpClientTest, OneByteDripArrivesWholeWithAPacketEventPerByte)
{
    const std::string body = "one byte at a time";
    Serve([body](ServerConnection& connection, int) {
        connection.readRequest();
        connection.send("HTTP/1.0 200 OK\r\n\r\n");
        connection.drip(body, 10);
    });
    int packets = 0;
    m_client.OnPacketRecvd = [&] { ++packets; };
    m_client.Get(BaseUrl() + "/");
    EXPECT_EQ(m_client.Body, body);
    // One event per received block; on a busy machine two drips may arrive
    // in one block, but never more blocks than bytes, and never one block.
    EXPECT_GT(packets, 1);
    EXPECT_LE(packets, static_cast<int>(body.size()));
}

// A reply that is not whole or not framed as this client reads it fails, fires
// no OnSuccess, and leaves the previous body file in place.
TEST_F(HttpClientTest, CutOrMalformedRepliesFailWithoutSuccess)
{
    const struct {
        std::string reply, error;
        bool fileMode;
    } rows[] = {
        {"", "Invalid reply from server", false},
        {"HTTP/1.0 200 O", "Invalid reply from server", true},
        {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nshort", "Transfer incomplete", false},
        {"HTTP/1.0 404 No\r\nContent-Length: 10\r\n\r\nshort", "Transfer incomplete", true},
        {"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nchunk\r\n0\r\n\r\n",
         "Transfer-Encoding not supported", true},
    };
    const auto target = m_dir / "lang.inibak";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply);
        Serve([reply = row.reply](ServerConnection& connection, int) {
            connection.readRequest();
            connection.send(reply);
        });
        writeFile(target, "old content");
        m_events.clear();
        TraceEvents();
        m_client.InputFileMode = row.fileMode;
        m_client.Body = target;
        EXPECT_EQ(ErrorOf([&] { m_client.Get(BaseUrl() + "/"); }), row.error);
        EXPECT_EQ(std::count(m_events.begin(), m_events.end(), "Success0"), 0);
        EXPECT_EQ(readFile(target), "old content");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.path()), {}), 1);
    }
}

// A server that drips defeats the silence time-out; the transfer limits end it.
TEST_F(HttpClientTest, DrippingServerFailsAsTooSlow)
{
    Serve([](ServerConnection& connection, int) {
        connection.readRequest();
        connection.send("HTTP/1.0 200 OK\r\n\r\n");
        connection.drip(std::string(5000, 'd'), 5);
    });
    const struct {
        std::int32_t lowSpeedTime, maxTransferTime;
    } rows[] = {{200, 0}, {0, 300}};
    m_client.TimeOut = 5000;
    m_client.LowSpeedBytes = 1024;
    for (const auto& row : rows) {
        m_client.LowSpeedTime = row.lowSpeedTime;
        m_client.MaxTransferTime = row.maxTransferTime;
        EXPECT_EQ(ErrorOf([&] { m_client.Get(BaseUrl() + "/"); }), "Transfer too slow");
        EXPECT_FALSE(m_client.Connected);
    }
}

TEST_F(HttpClientTest, NotFoundFiresFailureAndKeepsTheBody)
{
    Answer(Reply("404 Not Found", "no such page"));
    TraceEvents();
    m_client.Get(BaseUrl() + "/missing");
    EXPECT_EQ(m_client.ReplyCode, 404);
    EXPECT_EQ(m_client.Body, "no such page");
    const std::vector<std::string> expected = {"AboutToSend", "Connect", "PacketRecvd", "Failure0", "Disconnect"};
    EXPECT_EQ(m_events, expected);
}

TEST_F(HttpClientTest, UnauthorizedFiresFailureThenAuthenticationNeeded)
{
    Answer(Reply("401 Unauthorized", "login"));
    TraceEvents();
    m_client.Get(BaseUrl() + "/private");
    const std::vector<std::string> expected = {"AboutToSend", "Connect",    "PacketRecvd",
                                               "Failure0",    "Disconnect", "AuthenticationNeeded"};
    EXPECT_EQ(m_events, expected);
}

TEST_F(HttpClientTest, RedirectChainFollowsRelativeLocationsAndCarriesTheCookie)
{
    const std::string other = "http://127.0.0.1:" + std::to_string(m_server->port());
    Serve([this, other](ServerConnection& connection, int index) {
        m_server->record(connection.readRequest());
        if (index == 0)
            connection.send(Reply("302 Found", "first", "Location: /dir/second?q=1\r\nSet-Cookie: id=42; path=/\r\n"));
        else if (index == 1)
            connection.send(Reply("301 Moved", "second", "Location: third.htm\r\n"));
        else if (index == 2)
            connection.send(Reply("302 Found", "third", "Location: " + other + "/final\r\n"));
        else
            connection.send(Reply("200 OK", "the end"));
    });
    TraceEvents();
    m_client.Get(BaseUrl() + "/start");
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.Body, "the end");
    EXPECT_EQ(m_client.Url, other + "/final");
    const auto requests = m_server->requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos);
    EXPECT_EQ(requests[1].substr(0, 31), "GET /dir/second?q=1 HTTP/1.0\r\nH");
    EXPECT_NE(requests[1].find("\r\nCookie: id=42; path=/\r\n"), std::string::npos);
    EXPECT_EQ(requests[2].substr(0, 29), "GET /dir/third.htm HTTP/1.0\r\n");
    EXPECT_NE(requests[3].find("\r\nCookie: id=42; path=/\r\n"), std::string::npos);
    EXPECT_EQ(std::count(m_events.begin(), m_events.end(), "Redirect"), 3);
}

TEST_F(HttpClientTest, RedirectLoopStopsAfterTwentyHopsWithTheLastReplyFinal)
{
    Answer(Reply("302 Found", "again", "Location: /loop\r\n"));
    m_client.Get(BaseUrl() + "/loop");
    EXPECT_EQ(m_client.ReplyCode, 302);
    EXPECT_EQ(m_client.Body, "again");
    EXPECT_EQ(m_server->requests().size(), static_cast<std::size_t>(THttpClient::MaxRedirects + 1));
}

TEST_F(HttpClientTest, RedirectHandlerThatSetsHandledStopsAtTheFirstReply)
{
    Answer(Reply("302 Found", "moved", "Location: http://elsewhere.invalid/x\r\n"));
    m_client.OnRedirect = [](bool& handled) { handled = true; };
    m_client.Get(BaseUrl() + "/a");
    EXPECT_EQ(m_client.ReplyCode, 302);
    EXPECT_EQ(m_client.Body, "moved");
    EXPECT_NE(m_client.Header.find("Location: http://elsewhere.invalid/x\r\n"), std::string::npos);
    EXPECT_EQ(m_server->requests().size(), 1u);
}

TEST_F(HttpClientTest, RedirectStatusesWithoutUsableLocationAreFinal)
{
    for (const char* status : {"299 Odd", "302 Found", "303 See Other", "304 Not Modified", "399 Odd"}) {
        SCOPED_TRACE(status);
        const auto before = m_server->requests().size();
        Answer(Reply(status, "final"));
        TraceEvents();
        m_events.clear();
        m_client.Get(BaseUrl() + "/a");
        EXPECT_EQ(m_client.Body, "final");
        EXPECT_EQ(m_server->requests().size(), before + 1);
        EXPECT_EQ(std::count(m_events.begin(), m_events.end(), "Redirect"), 0);
    }
}

TEST_F(HttpClientTest, AbortBeforeTheRequestHasNoEffect)
{
    Answer(Reply("200 OK", "fine"));
    m_client.Abort();
    m_client.OnAboutToSend = [this] { m_client.Abort(); };
    m_client.Get(BaseUrl() + "/");
    EXPECT_EQ(m_client.Body, "fine");
}

TEST_F(HttpClientTest, AbortBetweenRedirectHopsEndsTheRequest)
{
    Answer(Reply("302 Found", "again", "Location: /next\r\n"));
    TraceEvents();
    m_client.OnRedirect = [this](bool&) { m_client.Abort(); };
    EXPECT_EQ(ErrorOf([&] { m_client.Get(BaseUrl() + "/a"); }), "Connection Canceled");
    EXPECT_EQ(m_server->requests().size(), 1u);
    EXPECT_EQ(m_events.back(), "ConnectionFailed");
    // The component stays usable: the next request clears the flag.
    Answer(Reply("200 OK", "after"));
    m_client.OnRedirect = nullptr;
    m_client.Get(BaseUrl() + "/b");
    EXPECT_EQ(m_client.Body, "after");
}

TEST_F(HttpClientTest, HeaderLimitsRaiseClearErrors)
{
    std::string many = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 101; ++i)
        many += "X-Line: " + std::to_string(i) + "\r\n";
    const std::string longLine = "HTTP/1.0 200 OK\r\nX-Long: " + std::string(70000, 'a') + "\r\n\r\n";
    const std::string longLocation = "HTTP/1.0 302 Found\r\nLocation: /" + std::string(9000, 'a') + "\r\n\r\n";
    const struct {
        std::string reply, error;
    } rows[] = {
        {many + "\r\n", "Reply header has more than 100 lines"},
        {longLine, "Reply line longer than 65536 bytes"},
        {longLocation, "Location header longer than 8192 bytes"},
        {"HTTP/1.0 200 OK\r\nSet-Cookie: " + std::string(9000, 'c') + "\r\n\r\n",
         "Set-Cookie header longer than 8192 bytes"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        Answer(row.reply);
        EXPECT_EQ(ErrorOf([&] { m_client.Get(BaseUrl() + "/"); }), row.error);
        EXPECT_FALSE(m_client.Connected);
    }
}

TEST_F(HttpClientTest, ExactlyOneHundredHeaderLinesAreAccepted)
{
    std::string reply = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 100; ++i)
        reply += "X-Line: " + std::to_string(i) + "\r\n";
    Answer(reply + "\r\nbody");
    m_client.Get(BaseUrl() + "/");
    EXPECT_EQ(m_client.Body, "body");
}

TEST_F(HttpClientTest, BodyInMemoryIsCapped)
{
    Serve([](ServerConnection& connection, int) {
        connection.readRequest();
        connection.send("HTTP/1.0 200 OK\r\n\r\n");
        connection.sendForever(std::string(65536, 'z'));
    });
    m_client.MaxCaptureBytes = 1u << 20;
    EXPECT_EQ(ErrorOf([&] { m_client.Get(BaseUrl() + "/"); }), "Reply body larger than 1048576 bytes");
    EXPECT_LE(m_client.Body.size(), 1u << 20);
    EXPECT_GT(m_client.Body.size(), 0u);
}

TEST_F(HttpClientTest, PostSendsFormEncodedDataWithItsLength)
{
    Serve([this](ServerConnection& connection, int) {
        m_server->record(connection.readRequest(std::string("a+b%2Fc%E9").size()));
        connection.send(Reply("200 OK", "posted"));
    });
    m_client.Post(BaseUrl() + "/form", "a b/c\xE9");
    ASSERT_EQ(m_server->requests().size(), 1u);
    const std::string request = m_server->requests()[0];
    EXPECT_EQ(request.substr(0, 21), "POST /form HTTP/1.0\r\n");
    EXPECT_NE(request.find(FormLine + "Content-Length: 10\r\n\r\na+b%2Fc%E9"), std::string::npos);
}

TEST_F(HttpClientTest, Ipv6LiteralUrlConnectsAndSendsABracketedHost)
{
    std::unique_ptr<LoopbackServer> server6;
    try {
        server6 = std::make_unique<LoopbackServer>(
            [&](ServerConnection& connection, int) {
                server6->record(connection.readRequest());
                connection.send(Reply("200 OK", "six"));
            },
            true);
    } catch (const std::exception&) {
        GTEST_SKIP() << "IPv6 loopback is not available on this machine";
    }
    m_client.Get("http://[::1]:" + std::to_string(server6->port()) + "/v6");
    server6->stop();
    EXPECT_EQ(m_client.Body, "six");
    ASSERT_EQ(server6->requests().size(), 1u);
    EXPECT_EQ(server6->requests()[0].substr(0, 31), "GET /v6 HTTP/1.0\r\nHost: [::1]\r\n");
}

}  // namespace
}  // namespace vexor::net::testing
