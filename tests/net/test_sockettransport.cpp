// TSocketTransport: error texts, line reads and writes over a socketpair,
// lookups through an injected resolver, time-outs, the pump, and Abort from
// another thread in every wait (lookup, connect, header, body).

#include "net/sockettransport.h"

#include "net/httpclient.h"
#include "nettestutil.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace vexor::net::testing {
namespace {

TEST(SocketErrorTextTest, TableEntriesAndUnknownNumbers)
{
    const struct {
        std::int32_t number;
        const char* text;
    } rows[] = {
        {10061, "10061:Connection refused"},
        {10004, "10004:Interrupted system call"},
        {10035, "10035:Operation would block"},
        {10093, "10093:Successful WSAStartup not yet performed"},
        {11004, "11004:Valid name, no data record of requested type"},
        {0, "Unknown Error No. 0"},
        {10000, "Unknown Error No. 10000"},
        {10072, "Unknown Error No. 10072"},
        {-5, "Unknown Error No. -5"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(SocketErrorText(row.number), row.text) << row.number;
}

TEST(SocketErrorTextTest, ErrnoAndLookupErrorsMapToWindowsSocketsNumbers)
{
    EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WinsockErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WinsockErrorFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(WinsockErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(WinsockErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(WinsockErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(WinsockErrorFromErrno(ENOTCONN), 10057);
    EXPECT_EQ(WinsockErrorFromErrno(0), 0);
    // No counterpart: outside the table, never mistaken for one of its numbers.
    EXPECT_EQ(SocketErrorText(WinsockErrorFromErrno(EIO)), "Unknown Error No. " + std::to_string(12000 + EIO));
    EXPECT_EQ(WinsockErrorFromLookup(EAI_NONAME), 11001);
    EXPECT_EQ(WinsockErrorFromLookup(EAI_AGAIN), 11002);
    EXPECT_EQ(WinsockErrorFromLookup(EAI_FAIL), 11003);
}

TEST(SocketTransportInfoTest, CloseErrorNeverLeavesTheDestructor)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    auto transport = std::make_unique<TSocketTransport>();
    transport->AttachSocket(fds[0]);
    ::close(fds[0]);  // behind the component's back: its own close() fails
    EXPECT_NO_THROW(transport.reset());
    ::close(fds[1]);
}

// A transport attached to one end of a socketpair; the test drives the other.
class SocketPairTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        m_transport.AttachSocket(fds[0]);
        m_peer = fds[1];
    }
    void TearDown() override
    {
        if (m_peer >= 0)
            ::close(m_peer);
    }
    void PeerSends(const std::string& bytes) { ASSERT_EQ(::send(m_peer, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }
    void PeerCloses()
    {
        ::close(m_peer);
        m_peer = -1;
    }
    std::string PeerReceives()
    {
        std::string got;
        char buffer[70000];
        ssize_t n;
        while ((n = ::recv(m_peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            got.append(buffer, static_cast<std::size_t>(n));
        return got;
    }

    TSocketTransport m_transport;
    int m_peer = -1;
};

TEST_F(SocketPairTest, ReadLnReturnsOneLineAndLeavesTheRestUnread)
{
    PeerSends("first\r\nsecond\nrest of the body");
    EXPECT_EQ(m_transport.ReadLn(), "first\r\n");
    EXPECT_EQ(m_transport.ReadLn(), "second\n");
    EXPECT_TRUE(m_transport.DataAvailable());
    PeerCloses();
    std::string rest;
    m_transport.CaptureString(rest, -1);
    EXPECT_EQ(rest, "rest of the body");
    EXPECT_EQ(m_transport.BytesReceived, 16);
}

TEST_F(SocketPairTest, ReadLnDropsAPartialLineWhenThePeerCloses)
{
    PeerSends("no line end");
    PeerCloses();
    EXPECT_EQ(m_transport.ReadLn(), "");
}

TEST_F(SocketPairTest, ReadLnHandlesLinesAtTheBufferLimit)
{
    const std::string fits(TSocketTransport::BlockSize - 1, 'a');
    PeerSends(fits + "\n");
    EXPECT_EQ(m_transport.ReadLn().size(), TSocketTransport::BlockSize);
    std::thread writer([this] { PeerSends(std::string(TSocketTransport::BlockSize + 10, 'b') + "\n"); });
    EXPECT_EQ(ErrorOf([&] { m_transport.ReadLn(); }), "Reply line longer than 65536 bytes");
    PeerCloses();
    writer.join();
}

TEST_F(SocketPairTest, ReadsWithoutAConnectionEndNormally)
{
    m_transport.Disconnect();
    EXPECT_EQ(m_transport.ReadLn(), "");
    EXPECT_EQ(m_transport.LastErrorCode, 10057);
    std::string text = "old";
    m_transport.CaptureString(text, -1);
    EXPECT_EQ(text, "");
    EXPECT_FALSE(m_transport.DataAvailable());
}

TEST_F(SocketPairTest, WriteSendsUpToTheFirstZeroByteAndRejectsOverlongTexts)
{
    m_transport.Write(std::string("abc\0def", 7));
    m_transport.Writeln("line");
    EXPECT_EQ(PeerReceives(), "abcline\r\n");
    EXPECT_EQ(ErrorOf([&] { m_transport.Write(std::string(65536, 'x')); }), "Write text longer than 65535 characters");
    m_transport.Write(std::string(65535, 'y'));
    EXPECT_EQ(PeerReceives().size(), 65535u);
}

TEST_F(SocketPairTest, SendBufferWithLengthSendsZeroBytesToo)
{
    const char block[] = {'a', '\0', 'b'};
    m_transport.SendBuffer(block, 3);
    EXPECT_EQ(PeerReceives(), std::string(block, 3));
}

TEST_F(SocketPairTest, TransactionTakesTheLeadingDigitsAsReplyCode)
{
    PeerSends("250 fine\r\n999999 big\r\nabc\r\n");
    EXPECT_EQ(m_transport.Transaction("HELO"), "250 fine\r\n");
    EXPECT_EQ(m_transport.ReplyCode, 250);
    m_transport.Transaction("A");
    EXPECT_EQ(m_transport.ReplyCode, 0);
    m_transport.Transaction("B");
    EXPECT_EQ(m_transport.ReplyCode, 0);
    EXPECT_EQ(PeerReceives(), "HELO\r\nA\r\nB\r\n");
}

TEST_F(SocketPairTest, CaptureStringTakesNothingPastItsMaximum)
{
    PeerSends("0123456789\n");
    std::string text;
    m_transport.CaptureString(text, 4);
    EXPECT_EQ(text, "0123");
    EXPECT_EQ(m_transport.ReadLn(), "456789\n");
}

TEST_F(SocketPairTest, SendFileAndCaptureFileMoveWholeFiles)
{
    TempDir dir;
    std::string content;
    for (int i = 0; i < 30000; ++i)
        content += static_cast<char>(i * 7);
    writeFile(dir / "out.bin", content);
    int sentEvents = 0;
    m_transport.OnPacketSent = [&] { ++sentEvents; };
    m_transport.SendFile(dir / "out.bin");
    EXPECT_EQ(m_transport.BytesSent, 30000);
    EXPECT_GE(sentEvents, 1);
    const std::string received = PeerReceives();
    EXPECT_EQ(received, content);
    PeerSends(received);
    PeerCloses();
    m_transport.CaptureFile(dir / "in.bin");
    EXPECT_EQ(readFile(dir / "in.bin"), content);
    EXPECT_EQ(ErrorOf([&] { m_transport.SendFile(dir / "none"); }),
              "Cannot open file " + dir / "none");
}

TEST_F(SocketPairTest, TimeOutEndsASilentReadWithTheAbortText)
{
    m_transport.TimeOut = 50;
    try {
        m_transport.ReadLn();
        FAIL() << "no time-out";
    } catch (const EAbortError& error) {
        EXPECT_STREQ(error.what(), "Socket readln aborted");
    }
    EXPECT_TRUE(m_transport.TimedOut);
    EXPECT_FALSE(m_transport.Canceled.load());
    // The component stays usable.
    PeerSends("next\n");
    EXPECT_EQ(m_transport.ReadLn(), "next\n");
}

TEST_F(SocketPairTest, TimeOutCountsSilenceNotTheWholeTransfer)
{
    // A slow link: one byte every 20 ms for longer than the time-out.
    std::thread drip([this] {
        for (int i = 0; i < 40; ++i) {
            ::send(m_peer, i == 39 ? "\n" : "x", 1, MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::send(m_peer, "y", 1, MSG_NOSIGNAL);
        ::shutdown(m_peer, SHUT_WR);
    });
    m_transport.TimeOut = 400;
    EXPECT_EQ(m_transport.ReadLn(), std::string(39, 'x') + "\n");
    std::string text;
    m_transport.CaptureString(text, -1);
    drip.join();
    EXPECT_EQ(text, "y");
    EXPECT_FALSE(m_transport.TimedOut);
}

TEST_F(SocketPairTest, PumpRunsDuringWaitsAndMayAbort)
{
    int turns = 0;
    m_transport.setPump([&] {
        if (++turns == 3)
            m_transport.Abort();
    });
    EXPECT_EQ(ErrorOf([&] { m_transport.ReadLn(); }), "Socket readln aborted");
    EXPECT_EQ(turns, 3);
}

TEST_F(SocketPairTest, StatusHandlerMayAbortAndSeesTheLevels)
{
    std::vector<std::string> seen;
    m_transport.ReportLevel = 8;
    m_transport.OnStatus = [&](const std::string& status) {
        seen.push_back(status);
        if (status == "ReadLn")
            m_transport.Abort();
    };
    EXPECT_EQ(ErrorOf([&] { m_transport.ReadLn(); }), "Socket readln aborted");
    const std::vector<std::string> expected = {"ReadLn", "Abort", "Canceling", "Timer On", "Timer Off"};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(m_transport.StatusText(), "Timer Off");
    m_transport.ReportLevel = 4;
    seen.clear();
    m_transport.Write("x");
    EXPECT_EQ(seen, std::vector<std::string>{"Sending Buffer"});
}

TEST(SocketTransportConnectTest, RefusedConnectFailsWithTheConnectEvent)
{
    TSocketTransport transport;
    int failed = 0;
    transport.OnConnectionFailed = [&] { ++failed; };
    transport.Host = "127.0.0.1";
    transport.Port = freePort();
    EXPECT_EQ(ErrorOf([&] { transport.Connect(); }), "Connection Failed");
    EXPECT_EQ(transport.LastErrorCode, 10061);
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(transport.Connected);
}

TEST(SocketTransportConnectTest, SecondConnectWhileConnectedIsRefused)
{
    LoopbackServer server([](ServerConnection& c, int) { c.waitForPeerClose(); });
    TSocketTransport transport;
    transport.Host = "127.0.0.1";
    transport.Port = server.port();
    transport.Connect();
    EXPECT_EQ(ErrorOf([&] { transport.Connect(); }), "Already connected");
    transport.Disconnect();
}

// Resolver stand-ins: a table of names, and one that hangs until released.
LookupAnswer loopbackFor(const std::string& name, std::vector<std::string>* asked, std::mutex* mutex)
{
    {
        std::lock_guard lock(*mutex);
        asked->push_back(name);
    }
    if (name != "vendor.test" && name != "proxy.test")
        return {11001, {}};
    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return {0, {address}};
}

class LookupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_server = std::make_unique<LoopbackServer>([](ServerConnection& c, int) { c.waitForPeerClose(); });
        m_transport.setResolver([this](const std::string& name) { return loopbackFor(name, &m_asked, &m_mutex); });
        m_transport.OnHostResolved = [this] { ++m_resolved; };
        m_transport.Port = m_server->port();
    }
    std::vector<std::string> Asked()
    {
        std::lock_guard lock(m_mutex);
        return m_asked;
    }

    std::unique_ptr<LoopbackServer> m_server;
    TSocketTransport m_transport;
    std::mutex m_mutex;
    std::vector<std::string> m_asked;
    int m_resolved = 0;
};

TEST_F(LookupTest, DottedAddressConnectsWithoutALookup)
{
    m_transport.Host = "127.0.0.1";
    m_transport.Connect();
    EXPECT_TRUE(m_transport.Connected);
    EXPECT_EQ(m_resolved, 0);
    EXPECT_TRUE(Asked().empty());
}

TEST_F(LookupTest, NameIsResolvedOnceAndReported)
{
    m_transport.Host = "vendor.test";
    m_transport.Connect();
    EXPECT_TRUE(m_transport.Connected);
    EXPECT_EQ(m_resolved, 1);
}

TEST_F(LookupTest, ProxyNameAndPortReplaceHostAndPort)
{
    m_transport.Host = "unknown.test";
    m_transport.Port = 1;
    m_transport.Proxy = "proxy.test";
    m_transport.ProxyPort = m_server->port();
    m_transport.Connect();
    EXPECT_TRUE(m_transport.Connected);
    EXPECT_EQ(Asked(), std::vector<std::string>{"proxy.test"});
}

TEST_F(LookupTest, InvalidHostHandlerIsAskedOnceAndMayRetry)
{
    m_transport.Host = "nowhere.test";
    int calls = 0;
    m_transport.OnInvalidHost = [&](bool&) { ++calls; };
    EXPECT_EQ(ErrorOf([&] { m_transport.Connect(); }), "Null Remote Address");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(m_transport.LastErrorCode, 11001);
    EXPECT_EQ(Asked().size(), 1u);

    calls = 0;
    m_transport.OnInvalidHost = [&](bool& handled) {
        ++calls;
        handled = true;
    };
    EXPECT_EQ(ErrorOf([&] { m_transport.Connect(); }), "Null Remote Address");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Asked().size(), 3u);

    m_transport.OnInvalidHost = [&](bool& handled) {
        m_transport.Host = "vendor.test";
        handled = true;
    };
    m_transport.Connect();
    EXPECT_TRUE(m_transport.Connected);
}

// Every address of a name is tried in the resolver's order until one connects
// (the next one 250 ms after the last, at once after a failure); the connect
// time-out bounds the whole race.
TEST(AddressRaceTest, EveryAddressIsTriedAndTheFirstConnectionWins)
{
    LoopbackServer server([](ServerConnection& c, int) { c.waitForPeerClose(); });
    BlackHole blackHole("127.0.0.2", server.port());
    const std::uint16_t closed = freePort();
    const struct {
        const char* what;
        std::vector<std::string> addresses;
        std::uint16_t port;
        std::int32_t timeOut;
        std::string error;
    } rows[] = {
        {"IPv6 refuses, IPv4 answers", {"::1", "127.0.0.1"}, server.port(), 0, ""},
        {"first address black-holed", {"127.0.0.2", "127.0.0.1"}, server.port(), 0, ""},
        {"every address refuses", {"::1", "127.0.0.1"}, closed, 0, "Connection Failed"},
        {"the time-out covers the race", {"127.0.0.2", "127.0.0.2"}, server.port(), 600, "Connection Timed out"},
    };
    for (const auto& row : rows) {
        TSocketTransport transport;
        std::vector<sockaddr_storage> addresses;
        for (const std::string& address : row.addresses)
            addresses.push_back(AddressOf(address));
        transport.setResolver([addresses](const std::string&) { return LookupAnswer{0, addresses}; });
        int failed = 0;
        transport.OnConnectionFailed = [&] { ++failed; };
        transport.Host = "dual.test";
        transport.Port = row.port;
        transport.TimeOut = row.timeOut;
        EXPECT_EQ(ErrorOf([&] { transport.Connect(); }), row.error) << row.what;
        EXPECT_EQ(transport.Connected, row.error.empty()) << row.what;
        EXPECT_EQ(failed, row.error.empty() ? 0 : 1) << row.what;
        if (row.error == "Connection Failed") {
            EXPECT_EQ(transport.LastErrorCode, 10061) << row.what;
        }
    }
    EXPECT_EQ(server.connections(), 2);
}

TEST(SocketTransportConnectTest, StopHoldsForEveryLaterConnect)
{
    LoopbackServer server([](ServerConnection& c, int) { c.waitForPeerClose(); });
    TSocketTransport transport;
    transport.Host = "127.0.0.1";
    transport.Port = server.port();
    transport.Stop();  // lands before the connect, which clears an Abort
    EXPECT_EQ(ErrorOf([&] { transport.Connect(); }), "Connection Canceled");
    EXPECT_EQ(ErrorOf([&] { transport.Connect(); }), "Connection Canceled");
    EXPECT_EQ(server.connections(), 0);
}

// A resolver that hangs until the test lets it go; its late answer is dropped.
// The state is shared with the lookup thread, which may outlive the test.
class HangingResolver {
public:
    ResolveFunction Function()
    {
        return [state = m_state](const std::string&) {
            std::unique_lock lock(state->mutex);
            state->started = true;
            state->changed.notify_all();
            state->changed.wait(lock, [&] { return state->released; });
            return LookupAnswer{11001, {}};
        };
    }
    void WaitStarted()
    {
        std::unique_lock lock(m_state->mutex);
        m_state->changed.wait(lock, [this] { return m_state->started; });
    }
    void Release()
    {
        std::lock_guard lock(m_state->mutex);
        m_state->released = true;
        m_state->changed.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool started = false;
        bool released = false;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

TEST(LookupTimeOutTest, HangingLookupTimesOut)
{
    HangingResolver resolver;
    TSocketTransport transport;
    transport.setResolver(resolver.Function());
    transport.Host = "hangs.test";
    transport.Port = 80;
    transport.TimeOut = 50;
    EXPECT_EQ(ErrorOf([&] { transport.Connect(); }), "Host Lookup Timed Out");
    resolver.Release();
}

// Abort from another thread once the client reports a status text: the
// blocking call must end with the text of the step it was in. Nothing else
// ends these waits (no time-out is set), so a lost Abort shows as a request
// that does not return within the bound.
class CancelTest : public LoopbackTest {
protected:
    std::string AbortedGet(const std::string& url, const std::string& trigger)
    {
        std::promise<void> reached;
        auto reachedFuture = reached.get_future();
        m_client.ReportLevel = 8;
        m_client.OnStatus = [&reached, trigger, once = false](const std::string& status) mutable {
            if (status == trigger && !once) {
                once = true;
                reached.set_value();
            }
        };
        std::thread aborter([&] {
            if (reachedFuture.wait_for(std::chrono::seconds(20)) == std::future_status::ready)
                m_client.Abort();
        });
        auto request = std::async(std::launch::async, [&] { return ErrorOf([&] { m_client.Get(url); }); });
        const bool ended = request.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        EXPECT_TRUE(ended) << "the request did not end within 20 s of reaching " << trigger;
        if (!ended)
            m_client.Stop();
        const std::string error = request.get();
        aborter.join();
        m_client.OnStatus = nullptr;
        return error;
    }

    THttpClient m_client;
};

TEST_F(CancelTest, AbortFromAnotherThreadEndsEveryWait)
{
    HangingResolver resolver;
    BlackHole blackHole;
    const LoopbackServer::Script silent = [](ServerConnection& connection, int) {
        connection.readRequest();
        connection.waitForPeerClose();
    };
    const LoopbackServer::Script endless = [](ServerConnection& connection, int) {
        connection.readRequest();
        connection.send("HTTP/1.0 200 OK\r\n\r\n");
        connection.sendForever(std::string(4096, 'e'));
    };
    const LoopbackServer::Script partial = [](ServerConnection& connection, int) {
        connection.readRequest();
        connection.send("HTTP/1.0 200 OK\r\n\r\npartial");
        connection.waitForPeerClose();
    };
    const struct {
        const char* trigger;
        std::string url;
        LoopbackServer::Script script;
        bool fileMode;
        std::string error;
        int connectionFailures;
    } rows[] = {
        {"Resolve Host", "http://hangs.test/x", nullptr, false, "Host Lookup Canceled", 0},
        // The first timed step after a numeric host is the connect wait.
        {"Timer On", "http://127.0.0.1:" + std::to_string(blackHole.port()) + "/", nullptr, false,
         "Connection Canceled", 1},
        {"ReadLn", BaseUrl() + "/", silent, false, "Socket readln aborted", 0},
        {"Capture String", BaseUrl() + "/", endless, false, "Socket capture aborted", 0},
        {"CaptureFile", BaseUrl() + "/", partial, true, "Socket send aborted", 0},
    };
    m_client.setResolver(resolver.Function());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.trigger);
        if (row.script)
            Serve(row.script);
        m_client.InputFileMode = row.fileMode;
        m_client.Body = m_dir / "body.bin";
        int failures = 0;
        m_client.OnConnectionFailed = [&failures] { ++failures; };
        EXPECT_EQ(AbortedGet(row.url, row.trigger), row.error);
        EXPECT_EQ(failures, row.connectionFailures);
        if (row.script) {
            EXPECT_FALSE(m_client.Canceled.load()) << "a read clears the cancel it saw";
        }
    }
    resolver.Release();
}

TEST_F(CancelTest, TimeOutWhileTheServerNeverAnswers)
{
    Serve([](ServerConnection& connection, int) {
        connection.readRequest();
        connection.waitForPeerClose();
    });
    m_client.TimeOut = 100;
    EXPECT_EQ(ErrorOf([&] { m_client.Get(BaseUrl() + "/"); }), "Socket readln aborted");
    EXPECT_TRUE(m_client.TimedOut);
}

TEST_F(CancelTest, TimeOutDuringAConnectThatHangs)
{
    BlackHole blackHole;
    m_client.TimeOut = 100;
    EXPECT_EQ(ErrorOf([&] { m_client.Get("http://127.0.0.1:" + std::to_string(blackHole.port()) + "/"); }),
              "Connection Timed out");
}

TEST_F(CancelTest, PumpedGetCanBeAbortedFromThePump)
{
    Serve([](ServerConnection& connection, int) {
        connection.readRequest();
        connection.waitForPeerClose();
    });
    int turns = 0;
    m_client.setPump([&] {
        if (++turns == 5)
            m_client.Abort();
    });
    EXPECT_EQ(ErrorOf([&] { m_client.Get(BaseUrl() + "/"); }), "Socket readln aborted");
    EXPECT_EQ(turns, 5);
}

}  // namespace
}  // namespace vexor::net::testing
