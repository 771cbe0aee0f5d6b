#pragma once

// A scripted TCP server on 127.0.0.1 and an ephemeral port for the network
// tests. Each accepted connection runs the script on the server's thread, one
// connection after the other; every wait also ends when Stop() is called, so
// a script that stalls never blocks the test's TearDown.

#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexor::net::testing {

class ServerConnection {
public:
    ServerConnection(int fd, int stopFd) : m_fd(fd), m_stopFd(stopFd) {}

    // Reads up to and including the empty line that ends a request header
    // (and `extra` bytes after it); the empty text when the peer closed.
    std::string ReadRequest(std::size_t extra = 0);
    // Sends all of it; false when the peer is gone or the server stops.
    bool Send(const std::string& bytes);
    // Sends one byte at a time, each after `gapMs` milliseconds.
    bool Drip(const std::string& bytes, int gapMs);
    // Waits (at most 5 s) until the peer has sent something; nothing is read.
    bool WaitForBytes() { return WaitFor(POLLIN, 5000); }
    // Blocks until the peer closes or the server stops.
    void WaitForPeerClose();
    // Sends `block` until the peer goes away or the server stops.
    void SendForever(const std::string& block);

private:
    bool WaitFor(short events, int timeoutMs);
    int m_fd;
    int m_stopFd;
};

class LoopbackServer {
public:
    using Script = std::function<void(ServerConnection&, int index)>;

    explicit LoopbackServer(Script script, bool ipv6 = false);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t Port() const { return m_port; }
    void Stop();  // wakes every wait and joins the thread

    // Request headers received so far, one entry per connection.
    std::vector<std::string> Requests() const;
    int Connections() const { return m_connections.load(); }
    // Waits (bounded by timeoutMs) until `count` connections have been served.
    bool WaitForConnections(int count, int timeoutMs);
    // For scripts: records the request text of a connection.
    void Record(const std::string& request);

private:
    void Serve();
    Script m_script;
    int m_listenFd = -1;
    int m_stopFd = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_served;
    std::vector<std::string> m_requests;
    std::atomic<int> m_connections{0};
};

// A free loopback TCP port at the time of the call (for peers that need a
// port in their configuration file).
std::uint16_t FreePort();

}  // namespace vexor::net::testing
