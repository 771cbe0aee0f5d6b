// The reply side: the small parsers and ReadHeader fed through a socketpair,
// with hostile header sections.

#include "net/httpparse.h"

#include "net/httpclient.h"
#include "nettestutil.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

namespace vexor::net::testing {
namespace {

TEST(StatusLineTest, OnlyHttpVersionBlankAndThreeDigits)
{
    const struct {
        std::string line;
        int code;
    } rows[] = {
        {"HTTP/1.0 200 OK\r\n", 200},
        {"HTTP/1.1 404\r\n", 404},
        {"HTTP/1.0 200 \xFF\xFE\n", 200},
        {"HTTP/1.0  302  Found\n", -1},
        {"HTTP/1.0 2OO OK\r\n", -1},
        {"HTTP/1.0\r\n", -1},
        {"", -1},
        {"HTTP/1.0 99999 Big\r\n", -1},
        {"HTTP/1.0 -1 Odd\r\n", -1},
        {"HTTP/1.0 000 Zero\r\n", -1},
        {"\xEF\xBB\xBFHTTP/1.0 200 OK\r\n", -1},
        {"HTTP/1.0\t200 OK\r\n", -1},
        {"HTTP/10 200 OK\r\n", -1},
        {"ICY 200 OK\r\n", -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(http::StatusOfLine(row.line), row.code) << row.line;
}

TEST(ContentLengthTest, DigitsOnly)
{
    const struct {
        std::string value;
        std::int64_t length;
    } rows[] = {
        {"1234", 1234}, {" 7\t", 7}, {"0", 0}, {"-5", -1}, {"+5", -1}, {"X12Y34", -1},
        {"", -1}, {"5, 5", -1}, {"99999999999999999999999", -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(http::ContentLengthValue(row.value), row.length) << row.value;
}

// ReadHeader over a socketpair: the peer writes the reply and closes.
struct HeaderResult {
    std::string header, error, cookie, location;
    int code = 0;
    std::int64_t length = 0;
    std::string rest;  // what a capture reads after the header
};

HeaderResult readHeader(const std::string& reply)
{
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    std::thread writer([&] {
        std::size_t done = 0;
        while (done < reply.size()) {
            const auto n = ::send(fds[1], reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fds[1]);
    });
    THttpClient client;
    client.AttachSocket(fds[0]);
    HeaderResult result;
    result.error = ErrorOf([&] {
        client.ReadHeader();
        client.CaptureString(result.rest, -1);
    });
    client.Disconnect();
    writer.join();
    result.header = client.Header;
    result.code = client.ReplyCode;
    result.length = client.ContentLength;
    result.cookie = client.ReceivedCookie;
    result.location = client.RedirectLocation;
    return result;
}

TEST(ReadHeaderTest, HeaderSectionsGoodAndHostile)
{
    const std::string many = [] {
        std::string lines;
        for (int i = 0; i < 150; ++i)
            lines += "X: " + std::to_string(i) + "\r\n";
        return lines;
    }();
    const struct {
        const char* name;
        std::string reply;
        int code;
        std::string header, rest, error;
    } rows[] = {
        {"plain", "HTTP/1.0 200 OK\r\nA: 1\r\n\r\nbody", 200, "HTTP/1.0 200 OK\r\nA: 1\r\n\r\n", "body", ""},
        {"lf only", "HTTP/1.0 200 OK\nA: 1\n\nbody", 200, "HTTP/1.0 200 OK\nA: 1\n\n", "body", ""},
        {"empty", "", 0, "", "", "Invalid reply from server"},
        {"cut status line", "HTTP/1.0 200 O", 0, "", "", "Invalid reply from server"},
        {"negative status", "HTTP/1.0 -1 Odd\r\n\r\nbody", 0, "", "", "Invalid reply from server"},
        {"not HTTP", "XTTP/1.0 200 OK\r\n\r\nbody", 0, "", "", "Invalid reply from server"},
        {"negative length", "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nbody", 200, "", "",
         "Invalid reply from server"},
        {"two lengths", "HTTP/1.0 200 OK\r\nContent-Length: 4\r\ncontent-length:  9\r\n\r\nbody", 200, "", "",
         "Invalid reply from server"},
        {"chunked", "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nbody\r\n0\r\n\r\n", 200, "",
         "",
         "Transfer-Encoding not supported"},
        {"identity coding", "HTTP/1.0 200 OK\r\nTransfer-Encoding: Identity\r\n\r\nb", 200,
         "HTTP/1.0 200 OK\r\nTransfer-Encoding: Identity\r\n\r\n", "b", ""},
        {"no blank line", "HTTP/1.0 200 OK\r\nA: 1\r\n", 200, "", "", "Transfer incomplete"},
        {"no separator", "HTTP/1.0 200 OK\r\nnonsense line\r\n\r\nb", 200,
         "HTTP/1.0 200 OK\r\nnonsense line\r\n\r\n", "b", ""},
        {"high bytes", "HTTP/1.0 200 \xFF\xFE\r\nX-\xE9: \x80\r\n\r\n\xFF", 200,
         "HTTP/1.0 200 \xFF\xFE\r\nX-\xE9: \x80\r\n\r\n", "\xFF", ""},
        {"zero bytes", std::string("HTTP/1.0 200 OK\r\nA: \0\0\r\n\r\n\0", 27), 200,
         std::string("HTTP/1.0 200 OK\r\nA: \0\0\r\n\r\n", 26), std::string(1, '\0'), ""},
        {"endless header", "HTTP/1.0 200 OK\r\n" + many, 200, "", "", "Reply header has more than 100 lines"},
        {"overlong line", "HTTP/1.0 200 OK\r\nX: " + std::string(70000, 'l') + "\r\n\r\n", 200, "", "",
         "Reply line longer than 65536 bytes"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const HeaderResult result = readHeader(row.reply);
        EXPECT_EQ(result.error, row.error);
        EXPECT_EQ(result.code, row.code);
        if (row.error.empty()) {
            EXPECT_EQ(result.header, row.header);
            EXPECT_EQ(result.rest, row.rest);
        }
    }
}

TEST(ReadHeaderTest, NamedLinesAndTheirQuirks)
{
    const HeaderResult dup = readHeader("HTTP/1.0 302 Found\r\nLocation: /first\r\nlocation: /second\r\n"
                                        "Set-Cookie: a=1\r\nSET-COOKIE: b=2; path=/\r\nContent-Length: 20\r\n"
                                        "content-length: 20\r\n\r\n");
    EXPECT_EQ(dup.location, "/second");
    EXPECT_EQ(dup.cookie, "b=2; path=/");
    EXPECT_EQ(dup.length, 20);

    // Without a blank after the colon a name does not match, except the
    // length, which frames the body.
    const HeaderResult tight = readHeader("HTTP/1.0 200 OK\r\nLocation:/x\r\nContent-Length:5\r\nSet-Cookie:\r\n\r\n");
    EXPECT_EQ(tight.location, "");
    EXPECT_EQ(tight.length, 5);
    EXPECT_EQ(tight.cookie, "");

    const std::string longCookie(5000, 'c');
    const HeaderResult whole = readHeader("HTTP/1.0 200 OK\r\nSet-Cookie: " + longCookie + "\r\nLocation: /"
                                          + std::string(3000, 'L') + "\r\n\r\n");
    EXPECT_EQ(whole.cookie, longCookie);
    EXPECT_EQ(whole.location.size(), 3001u);
}

}  // namespace
}  // namespace vexor::net::testing
