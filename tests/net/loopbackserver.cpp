#include "loopbackserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace vexor::net::testing {

namespace {

int listenOn(bool ipv6, std::uint16_t& port)
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
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return fd;
}

}  // namespace

bool ServerConnection::WaitFor(short events, int timeoutMs)
{
    pollfd fds[2] = {{m_fd, events, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && fds[1].revents == 0 && fds[0].revents != 0;
    }
}

std::string ServerConnection::ReadRequest(std::size_t extra)
{
    std::string request;
    std::size_t end = std::string::npos;
    while (end == std::string::npos || request.size() < end + 4 + extra) {
        if (!WaitFor(POLLIN, 5000))
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

bool ServerConnection::Send(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        if (!WaitFor(POLLOUT, 5000))
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

bool ServerConnection::Drip(const std::string& bytes, int gapMs)
{
    for (const char c : bytes) {
        pollfd stop{m_stopFd, POLLIN, 0};
        if (::poll(&stop, 1, gapMs) != 0)
            return false;
        if (!Send(std::string(1, c)))
            return false;
    }
    return true;
}

void ServerConnection::WaitForPeerClose()
{
    char buffer[4096];
    while (WaitFor(POLLIN, -1)) {
        if (::recv(m_fd, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

void ServerConnection::SendForever(const std::string& block)
{
    while (Send(block)) {
    }
}

LoopbackServer::LoopbackServer(Script script, bool ipv6) : m_script(std::move(script))
{
    m_listenFd = listenOn(ipv6, m_port);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer()
{
    Stop();
    ::close(m_listenFd);
    ::close(m_stopFd);
}

void LoopbackServer::Stop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(m_stopFd, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
}

void LoopbackServer::Serve()
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
        ServerConnection connection(fd, m_stopFd);
        m_script(connection, index);
        ::close(fd);
        {
            std::lock_guard lock(m_mutex);
            ++m_connections;
        }
        m_served.notify_all();
    }
}

void LoopbackServer::Record(const std::string& request)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
}

std::vector<std::string> LoopbackServer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool LoopbackServer::WaitForConnections(int count, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_served.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return m_connections.load() >= count; });
}

std::uint16_t FreePort()
{
    std::uint16_t port = 0;
    const int fd = listenOn(false, port);
    ::close(fd);
    return port;
}

}  // namespace vexor::net::testing
