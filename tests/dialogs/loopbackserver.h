#pragma once

// A scripted HTTP peer on 127.0.0.1 with an ephemeral port, for the dialog
// tests: it reads each request up to its empty line, records it, and then
// answers with fixed bytes and closes, or holds the connection open without a
// word until it is stopped.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    // AnswerAtOnce: the answer goes out on accept, before anything is read
    // (a plain server met by a TLS client).
    enum class Mode { Answer, Stall, AnswerAtOnce };

    explicit LoopbackServer(Mode mode, std::string answer = {}) : m_mode(mode), m_answer(std::move(answer))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listen, 8) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::pipe(m_stop) != 0)
            throw std::runtime_error("loopback server: cannot listen");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }

    ~LoopbackServer()
    {
        const char byte = 0;
        (void)!::write(m_stop[1], &byte, 1);
        m_thread.join();
        ::close(m_listen);
        ::close(m_stop[0]);
        ::close(m_stop[1]);
    }

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return m_port; }
    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(m_port); }

    // Every request head received so far (request line and header lines).
    std::vector<std::string> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    int connections() const { return m_connections.load(); }
    // True once a stalled connection has been closed by the client.
    bool clientClosed() const { return m_clientClosed.load(); }

private:
    void run()
    {
        for (;;) {
            pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            const int peer = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                continue;
            ++m_connections;
            serve(peer);
            ::close(peer);
        }
    }

    // False when the stop pipe fired or the peer went away before the head.
    bool readHead(int peer, std::string& head)
    {
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            pollfd fds[2] = {{peer, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return false;
            const ssize_t got = ::recv(peer, buffer, sizeof buffer, 0);
            if (got <= 0)
                return false;
            head.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }

    void serve(int peer)
    {
        std::string head;
        if (m_mode != Mode::AnswerAtOnce && !readHead(peer, head))
            return;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(head);
        }
        if (m_mode != Mode::Stall) {
            std::size_t sent = 0;
            while (sent < m_answer.size()) {
                const ssize_t n = ::send(peer, m_answer.data() + sent, m_answer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += static_cast<std::size_t>(n);
            }
            return;
        }
        // Stall: say nothing until the client gives up or the test ends.
        for (;;) {
            pollfd fds[2] = {{peer, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            char byte;
            if (::recv(peer, &byte, 1, 0) <= 0) {
                m_clientClosed = true;
                return;
            }
        }
    }

    Mode m_mode;
    std::string m_answer;
    int m_listen = -1;
    int m_stop[2] = {-1, -1};
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_clientClosed{false};
};

// A port on 127.0.0.1 that nothing listens on (bound once, then closed).
inline int closedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}
