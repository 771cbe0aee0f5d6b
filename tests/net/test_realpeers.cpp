// THttpClient against real peers from the distribution: nginx serving files
// and a redirect, tinyproxy with Basic credentials in front of it, and Squid,
// which keeps the client's connection open after a reply with a length. All
// run on loopback with configuration generated in a temporary folder.

#include "net/httpclient.h"

#include "nettestutil.h"
#include "peers.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace vexor::net::testing {
namespace {

const char* const TinyproxyBinary = "/usr/bin/tinyproxy";

class RealPeersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(NginxBinary, X_OK) != 0)
            GTEST_SKIP() << NginxBinary << " is missing (Debian package nginx-light)";
        const std::filesystem::path dir = m_dir.path();
        m_big = writeNginxSite(dir, 7);
        m_nginxPort = freePort();
        m_nginx = startNginx(dir, "  server {\n    listen 127.0.0.1:" + std::to_string(m_nginxPort) + ";\n"
                                  "    root " + dir.string() + "/www;\n"
                                  "    location = /old { return 302 /small.txt; }\n"
                                  "    location = /relative { absolute_redirect off; return 301 /small.txt; }\n"
                                  "  }\n");
        ASSERT_TRUE(m_nginx->waitAccepts(m_nginxPort)) << readFile(dir / "nginx.out")
                                                     << readFile(dir / "nginx-error.log");
        m_client.TimeOut = 5000;
    }

    void UseTinyproxy()
    {
        if (::access(TinyproxyBinary, X_OK) != 0)
            GTEST_SKIP() << TinyproxyBinary << " is missing (Debian package tinyproxy)";
        m_proxyPort = freePort();
        m_proxy = startTinyproxy(m_dir.path(), m_proxyPort);
        ASSERT_TRUE(m_proxy) << readFile(m_dir / "tinyproxy.out");
        m_client.Proxy = "127.0.0.1";
        m_client.ProxyPort = m_proxyPort;
    }

    std::string Url(const std::string& path) const
    {
        return "http://127.0.0.1:" + std::to_string(m_nginxPort) + path;
    }

    TempDir m_dir;
    std::string m_big;
    std::uint16_t m_nginxPort = 0;
    std::uint16_t m_proxyPort = 0;
    std::unique_ptr<ChildProcess> m_nginx;
    std::unique_ptr<ChildProcess> m_proxy;
    THttpClient m_client;
};

TEST_F(RealPeersTest, NginxServesFilesIntoMemoryAndIntoAFile)
{
    m_client.Get(Url("/small.txt"));
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.Body, "small file\n");
    EXPECT_EQ(m_client.ContentLength, 11);

    m_client.InputFileMode = true;
    m_client.Body = m_dir / "big.copy";
    m_client.Get(Url("/big.bin"));
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.ContentLength, static_cast<std::int64_t>(m_big.size()));
    EXPECT_TRUE(readFile(m_dir / "big.copy") == m_big);
}

TEST_F(RealPeersTest, NginxMissingFileIsAFailureWithABody)
{
    int failures = 0;
    m_client.OnFailure = [&](CmdType) { ++failures; };
    m_client.Get(Url("/missing.txt"));
    EXPECT_EQ(m_client.ReplyCode, 404);
    EXPECT_EQ(failures, 1);
    EXPECT_NE(m_client.Body.find("404 Not Found"), std::string::npos);
}

TEST_F(RealPeersTest, NginxRedirectsAreFollowed)
{
    for (const char* path : {"/old", "/relative"}) {
        SCOPED_TRACE(path);
        int redirects = 0;
        m_client.OnRedirect = [&](bool&) { ++redirects; };
        m_client.Get(Url(path));
        EXPECT_EQ(m_client.ReplyCode, 200);
        EXPECT_EQ(m_client.Body, "small file\n");
        EXPECT_EQ(m_client.Url, Url("/small.txt"));
        EXPECT_EQ(redirects, 1);
    }
}

TEST_F(RealPeersTest, TinyproxyPassesAGetWithTheRightCredentials)
{
    UseTinyproxy();
    if (IsSkipped() || HasFatalFailure())
        return;
    m_client.HeaderInfo.UserId = "vexor";
    m_client.HeaderInfo.Password = "s3cret-pass";
    m_client.Get(Url("/small.txt"));
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.Body, "small file\n");
}

TEST_F(RealPeersTest, TinyproxyRefusesWrongOrMissingCredentials)
{
    UseTinyproxy();
    if (IsSkipped() || HasFatalFailure())
        return;
    int failures = 0;
    m_client.OnFailure = [&](CmdType) { ++failures; };
    m_client.HeaderInfo.UserId = "vexor";
    m_client.HeaderInfo.Password = "wrong";
    m_client.Get(Url("/small.txt"));
    EXPECT_EQ(m_client.ReplyCode, 401);
    m_client.HeaderInfo = {};
    m_client.Get(Url("/small.txt"));
    EXPECT_EQ(m_client.ReplyCode, 407);
    EXPECT_EQ(failures, 2);
    EXPECT_EQ(m_client.Body.find("small file"), std::string::npos);
}

// Squid answers a reply with a length with "Connection: keep-alive" and holds
// the connection: the body must end at the length, not at a close.
TEST_F(RealPeersTest, SquidWithCredentialsKeepsTheConnectionOpen)
{
    if (!SquidPeer::available())
        GTEST_SKIP() << "squid or htpasswd is missing (Debian packages squid, apache2-utils)";
    SquidPeer squid(m_dir / "squid", "vexor", "s3cret pass");
    ASSERT_TRUE(squid.ready()) << squid.diagnostics();
    m_client.Proxy = "127.0.0.1";
    m_client.ProxyPort = squid.port();
    m_client.HeaderInfo.UserId = "vexor";
    m_client.HeaderInfo.Password = "s3cret pass";
    m_client.Get(Url("/small.txt"));
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.Body, "small file\n");
    m_client.InputFileMode = true;
    m_client.Body = m_dir / "big.copy";
    m_client.Get(Url("/big.bin"));
    EXPECT_TRUE(readFile(m_dir / "big.copy") == m_big);

    m_client.InputFileMode = false;
    m_client.HeaderInfo.Password = "wrong";
    m_client.Get(Url("/small.txt"));
    EXPECT_EQ(m_client.ReplyCode, 407);
}

}  // namespace
}  // namespace vexor::net::testing
