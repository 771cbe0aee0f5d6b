// THttpClient over TLS against nginx on loopback: one server per certificate
// (made by make-tls-certs with the openssl tool), one that speaks TLS 1.0
// only, a plain one for redirects, and tinyproxy for the CONNECT tunnel. The
// test's own authority is the only one trusted (SSL_CERT_FILE).

#include "net/httpclient.h"
#include "net/tlschannel.h"

#include "nettestutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <thread>

namespace vexor::net::testing {
namespace {

// Relays one connection to 127.0.0.1:`port` and cuts it the way someone on
// the path can: the server's TLS records go back to the client except its
// alerts (TLS 1.2 sends them as records of type 21), so the server's closing
// alert is dropped and the client sees a bare TCP close.
LoopbackServer::Script alertDroppingRelay(std::uint16_t port)
{
    return [port](ServerConnection& client, int) {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(server);
            return;
        }
        std::string records;
        char buffer[16384];
        for (bool open = true; open;) {
            pollfd fds[3] = {
                {client.descriptor(), POLLIN, 0}, {server, POLLIN, 0}, {client.stopDescriptor(), POLLIN, 0}};
            if (::poll(fds, 3, 10000) <= 0 || fds[2].revents != 0)
                break;
            if (fds[0].revents != 0) {
                const auto n = ::recv(client.descriptor(), buffer, sizeof buffer, 0);
                if (n <= 0 || ::send(server, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
                    break;
            }
            if (fds[1].revents != 0) {
                const auto n = ::recv(server, buffer, sizeof buffer, 0);
                open = n > 0;
                records.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
            }
            while (records.size() >= 5) {
                const std::size_t length = 5 + (static_cast<unsigned char>(records[3]) << 8)
                    + static_cast<unsigned char>(records[4]);
                if (records.size() < length)
                    break;
                if (records[0] != 21)
                    client.send(records.substr(0, length));
                records.erase(0, length);
            }
        }
        ::close(server);
    };
}

class TlsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::access(NginxBinary, X_OK) != 0)
            GTEST_SKIP() << NginxBinary << " is missing (Debian package nginx-light)";
        const std::filesystem::path dir = m_dir.path();
        const std::string d = dir.string();
        const std::string make = VEXOR_SOURCE_DIR "/scripts/make-tls-certs " + d + " > " + d + "/certs.log 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0) << readFile(dir / "certs.log");
        m_big = writeNginxSite(dir, 11);
        const char* const names[] = {"plain",      "good",  "wronghost", "expired",
                                     "untrusted", "selfsigned", "tls10", "tls12"};
        for (const char* name : names)
            m_ports[name] = freePort();
        std::string servers;
        for (const char* name : names) {
            const std::uint16_t port = m_ports[name];
            const std::string cert = std::string(name).rfind("tls", 0) == 0 ? "good" : name;
            servers += "  server {\n    listen 127.0.0.1:" + std::to_string(port)
                + (cert == "plain" ? ";\n" : " ssl;\n    ssl_certificate " + d + "/" + cert + ".pem;\n"
                                             "    ssl_certificate_key " + d + "/" + cert + ".key;\n")
                + (name == std::string("tls10") ? "    ssl_protocols TLSv1;\n    ssl_ciphers DEFAULT:@SECLEVEL=0;\n"
                   : name == std::string("tls12") ? "    ssl_protocols TLSv1.2;\n"
                                                  : "")
                + "    root " + d + "/www;\n"
                  "    location = /tohttps { return 301 " + Url("good", "/small.txt") + "; }\n"
                  "    location = /tohttp { return 302 " + Url("plain", "/small.txt") + "; }\n"
                  "    location = /cookie { add_header Set-Cookie id=42 always; return 302 "
                + Url("good", "/small.txt") + "; }\n"
                  // A filter drops the length: the body ends when the server closes.
                  "    location = /nolength.txt { alias " + d + "/www/small.txt; sub_filter_types *; "
                  "sub_filter small small; }\n  }\n";
        }
        m_nginx = startNginx(dir, servers);
        for (const auto& [name, port] : m_ports)
            ASSERT_TRUE(m_nginx->waitAccepts(port)) << name << readFile(dir / "nginx-error.log");
        m_trust.emplace("SSL_CERT_FILE", d + "/ca.pem");
        m_client.TimeOut = 5000;
        m_client.OnConnectionFailed = [this] { ++m_connectionFailures; };
    }

    std::string Url(const std::string& server, const std::string& path, const std::string& host = "127.0.0.1")
    {
        return (server == "plain" ? "http://" : "https://") + host + ":" + std::to_string(m_ports[server]) + path;
    }

    TempDir m_dir;
    std::string m_big;
    std::map<std::string, std::uint16_t> m_ports;
    std::unique_ptr<ChildProcess> m_nginx;
    std::optional<ScopedEnv> m_trust;
    THttpClient m_client;
    int m_connectionFailures = 0;
};

// The light start rests on OpenSSL being opened at the first https request
// (the libraries link with --as-needed); first in this file, so that no other
// case of the process has opened it.
TEST_F(TlsTest, LibsslIsMappedOnlyFromTheFirstHttpsRequest)
{
    const auto libsslMapped = [] { return readFile("/proc/self/maps").find("/libssl.so") != std::string::npos; };
    m_client.Get(Url("plain", "/small.txt"));
    EXPECT_FALSE(libsslMapped());
    m_client.Get(Url("good", "/small.txt"));
    EXPECT_EQ(m_client.Body, "small file\n");
    EXPECT_TRUE(libsslMapped());
}

TEST_F(TlsTest, TrustedCertificateByAddressAndByName)
{
    m_client.Get(Url("good", "/small.txt"));
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.Body, "small file\n");

    m_client.InputFileMode = true;
    m_client.Body = m_dir / "big.copy";
    m_client.Get(Url("good", "/big.bin", "localhost"));
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_TRUE(readFile(m_dir / "big.copy") == m_big);
    EXPECT_EQ(m_connectionFailures, 0);
}

TEST_F(TlsTest, RefusedCertificatesAndOldProtocolsWriteNothing)
{
    const struct {
        const char* server;
        const char* host;
        std::string error;
        std::int32_t code;
    } rows[] = {
        {"wronghost", "127.0.0.1", "Certificate verify failed: IP address mismatch (127.0.0.1)", ErrTlsCertificate},
        {"wronghost", "localhost", "Certificate verify failed: hostname mismatch (localhost)", ErrTlsCertificate},
        {"expired", "127.0.0.1", "Certificate verify failed: certificate has expired (127.0.0.1)", ErrTlsCertificate},
        {"untrusted", "127.0.0.1", "Certificate verify failed: unable to get local issuer certificate (127.0.0.1)",
         ErrTlsCertificate},
        {"selfsigned", "127.0.0.1", "Certificate verify failed: self-signed certificate (127.0.0.1)", ErrTlsCertificate},
        {"tls10", "127.0.0.1", "TLS handshake failed: tlsv1 alert protocol version (127.0.0.1)", ErrTlsHandshake},
    };
    const auto target = m_dir / "never.bin";
    m_client.InputFileMode = true;
    m_client.Body = target;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.server) + " " + row.host);
        m_connectionFailures = 0;
        const std::string error = ErrorOf([&] { m_client.Get(Url(row.server, "/small.txt", row.host)); });
        EXPECT_EQ(error.substr(0, row.error.size()), row.error);
        EXPECT_EQ(m_client.LastErrorCode, row.code);
        EXPECT_EQ(m_connectionFailures, 1);
        EXPECT_FALSE(std::filesystem::exists(target));
    }
}

TEST_F(TlsTest, StalledHandshakeEndsAtCancelAndAtTheTimeOut)
{
    std::promise<void> helloArrived;
    LoopbackServer silent([&](ServerConnection& connection, int index) {
        if (connection.waitForBytes() && index == 0)
            helloArrived.set_value();
        connection.waitForPeerClose();
    });
    const std::string url = "https://127.0.0.1:" + std::to_string(silent.port()) + "/";
    // Without a time-out only the Cancel can end the handshake.
    m_client.TimeOut = 0;
    auto request = std::async(std::launch::async, [&] { return ErrorOf([&] { m_client.Get(url); }); });
    ASSERT_EQ(helloArrived.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    m_client.Cancel();
    ASSERT_EQ(request.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "Cancel was lost";
    EXPECT_EQ(request.get(), "TLS handshake aborted");

    m_client.TimeOut = 200;
    EXPECT_EQ(ErrorOf([&] { m_client.Get(url); }), "TLS handshake aborted");
    EXPECT_TRUE(m_client.TimedOut);
    silent.stop();
}

TEST_F(TlsTest, BareCloseEndsABodyOnlyWhenItsLengthWasMet)
{
    LoopbackServer relay(alertDroppingRelay(m_ports["tls12"]));
    const struct {
        std::uint16_t port;
        const char* path;
        std::string error;
    } rows[] = {
        {relay.port(), "/nolength.txt", "Transfer incomplete"},
        {relay.port(), "/small.txt", ""},
        {m_ports["tls12"], "/nolength.txt", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.port) + row.path);
        m_client.Body.clear();
        const std::string url = "https://127.0.0.1:" + std::to_string(row.port) + row.path;
        EXPECT_EQ(ErrorOf([&] { m_client.Get(url); }), row.error);
        if (row.error.empty()) {
            EXPECT_EQ(m_client.Body, "small file\n");
        }
    }
    relay.stop();
}

TEST_F(TlsTest, CookieSetOverHttpsStaysOffPlainRequests)
{
    m_client.Get(Url("good", "/cookie"));
    EXPECT_EQ(m_client.Body, "small file\n");
    LoopbackServer plain(LoopbackServer::Canned::Answer, Reply("200 OK", "plain"));
    m_client.Get("http://" + plain.host() + "/");
    plain.stop();
    ASSERT_EQ(plain.requests().size(), 1u);
    EXPECT_EQ(plain.requests()[0].find("Cookie"), std::string::npos) << plain.requests()[0];
}

TEST_F(TlsTest, HttpToHttpsIsFollowedHttpsToHttpIsRefused)
{
    m_client.Get(Url("plain", "/tohttps"));
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.Body, "small file\n");
    EXPECT_EQ(m_client.Url, Url("good", "/small.txt"));

    const auto target = m_dir / "never.bin";
    m_client.InputFileMode = true;
    m_client.Body = target;
    EXPECT_EQ(ErrorOf([&] { m_client.Get(Url("good", "/tohttp")); }),
              "Redirect from https to http refused: " + Url("plain", "/small.txt"));
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(TlsTest, TunnelThroughTinyproxyWithAndWithoutCredentials)
{
    const std::uint16_t proxyPort = freePort();
    const auto proxy = startTinyproxy(m_dir.path(), proxyPort);
    if (!proxy)
        GTEST_SKIP() << "tinyproxy did not start (Debian package tinyproxy)";
    m_client.Proxy = "127.0.0.1";
    m_client.ProxyPort = proxyPort;
    m_client.HeaderInfo.UserId = "vexor";
    m_client.HeaderInfo.Password = "s3cret-pass";
    m_client.Get(Url("good", "/small.txt", "localhost"));
    EXPECT_EQ(m_client.ReplyCode, 200);
    EXPECT_EQ(m_client.Body, "small file\n");

    m_client.HeaderInfo = {};
    const std::string error = ErrorOf([&] { m_client.Get(Url("good", "/small.txt")); });
    const std::string expected = "Proxy refused the tunnel to 127.0.0.1:" + std::to_string(m_ports["good"]) + ": HTTP/1.";
    EXPECT_EQ(error.substr(0, expected.size()), expected);
    EXPECT_NE(error.find(" 407 "), std::string::npos) << error;
    EXPECT_EQ(m_client.ReplyCode, 407);
    EXPECT_EQ(m_connectionFailures, 1);
}

}  // namespace
}  // namespace vexor::net::testing
