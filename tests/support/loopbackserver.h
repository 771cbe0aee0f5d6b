#pragma once

// A scripted TCP server on 127.0.0.1 (or ::1) and an ephemeral port. Each
// accepted connection runs the script on the server's thread, one connection
// after the other; every wait also ends when stop() is called, so a script
// that stalls never blocks the end of a test. Beside it the other loopback
// stand-ins: a free port, a port that refuses or never answers, a black hole.

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexor::testkit {

class ServerConnection {
public:
    ServerConnection(int fd, int stopFd) : m_fd(fd), m_stopFd(stopFd) {}

    // Reads up to and including the empty line that ends a request header
    // (and `extra` bytes after it); what came when the peer closed or 5 s passed.
    std::string readRequest(std::size_t extra = 0);
    // Sends all of it; false when the peer is gone or the server stops.
    bool send(const std::string& bytes);
    // Sends one byte at a time, each after `gapMs` milliseconds.
    bool drip(const std::string& bytes, int gapMs);
    // Waits (at most 5 s) until the peer has sent something; nothing is read.
    bool waitForBytes() { return waitFor(POLLIN, 5000); }
    // Blocks until the peer closes (true) or the server stops (false).
    bool waitForPeerClose();
    // Sends `block` until the peer goes away or the server stops.
    void sendForever(const std::string& block);
    // For scripts that move bytes themselves: the connection, and a
    // descriptor that turns readable when the server stops.
    int descriptor() const { return m_fd; }
    int stopDescriptor() const { return m_stopFd; }

private:
    bool waitFor(short events, int timeoutMs);
    int m_fd;
    int m_stopFd;
};

class LoopbackServer {
public:
    using Script = std::function<void(ServerConnection&, int index)>;
    // The usual scripts: read the request head, record it and answer the
    // given bytes; answer them at once without reading (a plain server met by
    // a TLS client); or read and record the head and then say nothing until
    // the peer gives up (counted by peerClosed()) or the server stops.
    enum class Canned { Answer, AnswerUnread, Stall };

    explicit LoopbackServer(Script script, bool ipv6 = false);
    explicit LoopbackServer(Canned canned, std::string answer = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    void stop();  // wakes every wait and joins the thread

    // Request heads recorded so far.
    std::vector<std::string> requests() const;
    // For scripts: records the request text of a connection.
    void record(const std::string& request);
    int connections() const { return m_connections.load(); }  // accepted so far
    int peerClosed() const { return m_peerClosed.load(); }    // stalls the peer ended

private:
    void start(bool ipv6);
    void serve();
    void runCanned(Canned canned, ServerConnection& connection);

    Script m_script;
    std::string m_answer;
    int m_listenFd = -1;
    int m_stopFd = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::atomic<int> m_connections{0};
    std::atomic<int> m_peerClosed{0};
};

// A free loopback TCP port at the time of the call (for peers that need a
// port in their configuration file).
std::uint16_t freePort();

// True when something accepts a connection on 127.0.0.1:`port`.
bool acceptsOnLoopback(std::uint16_t port);

// A loopback port held for the life of the object: bound but not listening,
// so a connect is refused at once; with `listening`, it listens but never
// accepts, so a connect completes in the kernel's queue and hears nothing.
class QuietPort {
public:
    explicit QuietPort(bool listening = false);
    ~QuietPort();
    QuietPort(const QuietPort&) = delete;
    QuietPort& operator=(const QuietPort&) = delete;
    std::uint16_t port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

}  // namespace vexor::testkit
