#include "loopbackserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace vexor::testkit {

namespace {

// A socket bound to the loopback address and an ephemeral port.
int bindLoopback(bool ipv6, std::uint16_t& port)
{
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (ipv6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&address);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *a;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot bind a loopback port");
    }
    port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return fd;
}

}  // namespace

bool ServerConnection::waitFor(short events, int timeoutMs)
{
    pollfd fds[2] = {{m_fd, events, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && fds[1].revents == 0 && fds[0].revents != 0;
    }
}

std::string ServerConnection::readRequest(std::size_t extra)
{
    std::string request;
    std::size_t end = std::string::npos;
    while (end == std::string::npos || request.size() < end + 4 + extra) {
        if (!waitFor(POLLIN, 5000))
            return request;
        char buffer[4096];
        const auto n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return request;
        request.append(buffer, static_cast<std::size_t>(n));
        end = request.find("\r\n\r\n");
    }
    return request;
}

bool ServerConnection::send(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (!waitFor(POLLOUT, 5000))
            return false;
        const auto n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ServerConnection::drip(const std::string& bytes, int gapMs)
{
    for (const char c : bytes) {
        pollfd stop{m_stopFd, POLLIN, 0};
        if (::poll(&stop, 1, gapMs) != 0)
            return false;
        if (!send(std::string(1, c)))
            return false;
    }
    return true;
}

bool ServerConnection::waitForPeerClose()
{
    char buffer[4096];
    while (waitFor(POLLIN, -1)) {
        if (::recv(m_fd, buffer, sizeof buffer, 0) <= 0)
            return true;
    }
    return false;
}

void ServerConnection::sendForever(const std::string& block)
{
    while (send(block)) {
    }
}

LoopbackServer::LoopbackServer(Script script, bool ipv6) : m_script(std::move(script))
{
    start(ipv6);
}

LoopbackServer::LoopbackServer(Canned canned, std::string answer) : m_answer(std::move(answer))
{
    m_script = [this, canned](ServerConnection& connection, int) { runCanned(canned, connection); };
    start(false);
}

void LoopbackServer::start(bool ipv6)
{
    m_listenFd = bindLoopback(ipv6, m_port);
    if (::listen(m_listenFd, 16) != 0)
        throw std::runtime_error("listen failed");
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer()
{
    stop();
    ::close(m_listenFd);
    ::close(m_stopFd);
}

void LoopbackServer::stop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(m_stopFd, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
}

void LoopbackServer::serve()
{
    for (int index = 0;; ++index) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno == EINTR)
            continue;
        if (fds[1].revents != 0)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_connections;
        ServerConnection connection(fd, m_stopFd);
        m_script(connection, index);
        ::close(fd);
    }
}

void LoopbackServer::runCanned(Canned canned, ServerConnection& connection)
{
    if (canned == Canned::AnswerUnread) {
        record({});
        connection.send(m_answer);
        return;
    }
    const std::string head = connection.readRequest();
    if (head.find("\r\n\r\n") == std::string::npos)
        return;  // the peer went away before the end of its request
    record(head);
    if (canned == Canned::Answer)
        connection.send(m_answer);
    else if (connection.waitForPeerClose())
        ++m_peerClosed;
}

void LoopbackServer::record(const std::string& request)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
}

std::vector<std::string> LoopbackServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::uint16_t freePort()
{
    std::uint16_t port = 0;
    ::close(bindLoopback(false, port));
    return port;
}

bool acceptsOnLoopback(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

QuietPort::QuietPort(bool listening)
{
    m_fd = bindLoopback(false, m_port);
    if (listening && ::listen(m_fd, 16) != 0)
        throw std::runtime_error("listen failed");
}

QuietPort::~QuietPort()
{
    ::close(m_fd);
}

}  // namespace vexor::testkit
