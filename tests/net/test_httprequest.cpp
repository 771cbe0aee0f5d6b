// The request side of THttpClient without a connection: ParseUrl, BuildHeader
// and the resolution of Location values.

#include "net/httpclient.h"

#include "net/httpparse.h"

#include <gtest/gtest.h>

#include <string>

namespace vexor::net {
namespace {

struct UrlRow {
    std::string url;
    std::int32_t presetPort;
    std::string host, path, urlAfter;
    std::int32_t port;
};

TEST(ParseUrlTest, SplitsHostPortAndPath)
{
    const std::string longPath = "/" + std::string(300, 'p');
    const UrlRow rows[] = {
        {"http://h.example/cgi-bin/x.pl?A=1", 4711, "h.example", "/cgi-bin/x.pl?A=1", "http://h.example/cgi-bin/x.pl?A=1", 80},
        {"http://h.example:8080/x", 0, "h.example", "/x", "http://h.example:8080/x", 8080},
        {"http://h.example", 0, "h.example", "/", "http://h.example/", 80},
        {"http://h.example/", 0, "h.example", "/", "http://h.example/", 80},
        {"HTTP://H.example/A", 0, "H.example", "/A", "HTTP://H.example/A", 80},
        {"gopher://g.example/1", 0, "g.example", "/1", "gopher://g.example/1", 70},
        {"ftp://f.example/pub", 0, "f.example", "/pub", "ftp://f.example/pub", 21},
        {"h.example/x", 0, "h.example", "/x", "h.example/x", 80},
        {"h.example/x", 8000, "h.example", "/x", "h.example/x", 8000},
        {"h.example:81", 0, "h.example", "/", "h.example:81/", 81},
        {"/only/a/path", 0, "previous", "/only/a/path", "/only/a/path", 80},
        {"http://[::1]:8080/six", 0, "[::1]", "/six", "http://[::1]:8080/six", 8080},
        {"http://[fe80::1]/", 0, "[fe80::1]", "/", "http://[fe80::1]/", 80},
        {"http://h.example" + longPath, 0, "h.example", longPath, "http://h.example" + longPath, 80},
        {"http://h.example/caf\xC3\xA9", 0, "h.example", "/caf\xC3\xA9", "http://h.example/caf\xC3\xA9", 80},
        {"https://h.example/x", 80, "h.example", "/x", "https://h.example/x", 443},
        {"HTTPS://h.example:8443", 0, "h.example", "/", "HTTPS://h.example:8443/", 8443},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        THttpClient client;
        client.Host = "previous";
        client.Port = row.presetPort;
        client.Url = row.url;
        client.ParseUrl();
        EXPECT_EQ(client.Host, row.host);
        EXPECT_EQ(client.Port, row.port);
        EXPECT_EQ(client.RequestPath, row.path);
        EXPECT_EQ(client.Url, row.urlAfter);
    }
}

TEST(ParseUrlTest, BadUrlsRaiseClearErrors)
{
    const struct {
        std::string url, error;
    } rows[] = {
        {"", "Empty URL"},
        {"http://h.example:abc/", "'abc' is not a valid integer value"},
        {"http://h.example:/", "'' is not a valid integer value"},
        {"http://h.example:-1/", "'-1' is not a valid integer value"},
        {"http://h.example:99999/", "'99999' is not a valid port number"},
        {"http://user:pw@h.example/", "'pw@h.example' is not a valid integer value"},
        {"http://[::1/", "Invalid host in URL: [::1"},
        {"http://[::1]x/", "Invalid host in URL: [::1]x"},
        {"https://a b\tHTTP:443/", "Invalid host in URL: a b\tHTTP:443"},
    };
    for (const auto& row : rows) {
        THttpClient client;
        client.Url = row.url;
        try {
            client.ParseUrl();
            ADD_FAILURE() << "no error for " << row.url;
        } catch (const vexor::Exception& error) {
            EXPECT_EQ(error.what(), row.error) << row.url;
        }
    }
}

std::string headerOf(THttpClient& client, const std::string& url)
{
    client.Url = url;
    client.ParseUrl();
    client.BuildHeader();
    return client.RequestHeader.Text();
}

const std::string Accepts = "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                            "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const std::string Form = "Content-type: application/x-www-form-urlencoded\r\n";

TEST(BuildHeaderTest, OptionalLinesComeInTheirOrder)
{
    THttpClient client;
    client.HeaderInfo = {"me@example.org", "Vexor/1.3", "id=1", "http://ref.example/", "u", "p"};
    EXPECT_EQ(headerOf(client, "http://h.example/x"),
              "GET /x HTTP/1.0\r\nHost: h.example\r\n" + Accepts
                  + "User-Agent: Vexor/1.3\r\nFrom: me@example.org\r\nCookie: id=1\r\n"
                    "Referer: http://ref.example/\r\n"
                  + Form);
    client.HeaderInfo = {};
    client.HeaderInfo.Password = "p";  // a password alone sends no credentials
    EXPECT_EQ(headerOf(client, "http://h.example/x"), "GET /x HTTP/1.0\r\nHost: h.example\r\n" + Accepts + Form);
}

TEST(BuildHeaderTest, CommandsSetMethodExtraLineAndLength)
{
    const struct {
        CmdType command;
        std::string first, extra, length;
    } rows[] = {
        {CmdType::Options, "OPTIONS /x HTTP/1.0\r\n", "", ""},
        {CmdType::Head, "HEAD /x HTTP/1.0\r\n", "", ""},
        {CmdType::Post, "POST /x HTTP/1.0\r\n", "", "Content-Length: 4\r\n"},
        {CmdType::Put, "PUT /x HTTP/1.0\r\n", "", "Content-Length: 4\r\n"},
        {CmdType::Patch, "PATCH /x HTTP/1.0\r\n", "", "Content-Length: 4\r\n"},
        {CmdType::Copy, "COPY /x HTTP/1.0\r\n", "URI-header: /dest\r\n", ""},
        {CmdType::Move, "MOVE /x HTTP/1.0\r\n", "URI-header: /dest\r\n", ""},
        {CmdType::Delete, "DELETE /x HTTP/1.0\r\n", "", ""},
        {CmdType::Link, "LINK /x HTTP/1.0\r\n", "Link: /dest\r\n", "Content-Length: 4\r\n"},
        {CmdType::Unlink, "UNLINK /x HTTP/1.0\r\n", "Link: /dest\r\n", "Content-Length: 4\r\n"},
        {CmdType::Trace, "TRACE /x HTTP/1.0\r\n", "", "Content-Length: 4\r\n"},
        {CmdType::RawRequest, "", "", "Content-Length: 4\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.command));
        THttpClient client;
        client.Command = row.command;
        client.SendData = "data";
        client.ExtraHeaderValue = "/dest";
        EXPECT_EQ(headerOf(client, "http://h.example/x"),
                  row.first + "Host: h.example\r\n" + Accepts + Form + row.extra + row.length);
    }
}

TEST(BuildHeaderTest, ProxyGetsTheWholeUrlAndOneHostLine)
{
    THttpClient client;
    client.Proxy = "proxy.example";
    const std::string longUrl = "http://h.example:8080/" + std::string(300, 'q');
    EXPECT_EQ(headerOf(client, longUrl),
              "GET " + longUrl + " HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\nHost: h.example\r\n" + Accepts + Form);
    client.HeaderInfo.UserId = "u";
    client.HeaderInfo.Password = "p";
    EXPECT_EQ(headerOf(client, "http://h.example/"),
              "GET http://h.example/ HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\nHost: h.example\r\n" + Accepts
                  + "Proxy-Authorization: Basic dTpw\r\n" + Form);
    // https goes through a tunnel: the request is the origin server's, and
    // the proxy's credentials went on the CONNECT alone.
    EXPECT_EQ(headerOf(client, "https://h.example/"), "GET / HTTP/1.0\r\nHost: h.example\r\n" + Accepts + Form);
}

TEST(BuildHeaderTest, OverlongRequestLineAndInjectedLinesAreRefused)
{
    THttpClient client;
    client.Url = "http://h.example/" + std::string(8200, 'a');
    client.ParseUrl();
    EXPECT_THROW(client.BuildHeader(), vexor::Exception);
    client.Url = "http://h.example/" + std::string(8100, 'a');
    client.ParseUrl();
    EXPECT_NO_THROW(client.BuildHeader());
    for (const std::string& cookie : {std::string("a\r\nX-Evil: 1"), std::string("a\nb"), std::string("a\0b", 3)}) {
        client.HeaderInfo.Cookie = cookie;
        try {
            client.BuildHeader();
            ADD_FAILURE() << "no error";
        } catch (const vexor::Exception& error) {
            EXPECT_STREQ(error.what(), "Invalid character in request header");
        }
    }
}

TEST(BuildHeaderTest, FileDataLengthIsTheFileSize)
{
    THttpClient client;
    client.Command = CmdType::Put;
    client.OutputFileMode = true;
    client.SendData = "/nonexistent/file.dat";
    client.Url = "http://h.example/x";
    client.ParseUrl();
    EXPECT_THROW(client.BuildHeader(), vexor::Exception);
    client.SendData = "/proc/self/exe";  // any regular file of known size
    client.BuildHeader();
    EXPECT_EQ(client.RequestHeader[client.RequestHeader.Count() - 1].rfind("Content-Length: ", 0), 0u);
    EXPECT_NE(client.RequestHeader[client.RequestHeader.Count() - 1], "Content-Length: 0");
}

TEST(ResolveLocationTest, RelativeAndAbsoluteLocations)
{
    const struct {
        std::string location, host;
        std::int32_t port;
        std::string path, expected;
        bool secure = false;
    } rows[] = {
        {"http://other.example/x", "h", 80, "/a/b", "http://other.example/x"},
        {"//other.example/x", "h", 80, "/a/b", "http://other.example/x"},
        {"/root", "h", 80, "/a/b", "http://h/root"},
        {"/root", "h", 8080, "/a/b", "http://h:8080/root"},
        {"next.htm", "h", 8080, "/a/b?q=/z", "http://h:8080/a/next.htm"},
        {"next.htm", "[::1]", 81, "/", "http://[::1]:81/next.htm"},
        {"sub/page", "h", 80, "/dir/", "http://h/dir/sub/page"},
        {"ftp://f/x", "h", 80, "/", "ftp://f/x"},
        {"weird:thing", "h", 80, "/a", "http://h/weird:thing"},
        {"/root", "h", 443, "/a", "https://h/root", true},
        {"//other.example/x", "h", 8443, "/", "https://other.example/x", true},
        {"next", "h", 8443, "/a/b", "https://h:8443/a/next", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(http::ResolveLocation(row.location, row.host, row.port, row.path, row.secure), row.expected)
            << row.location;
}

}  // namespace
}  // namespace vexor::net
