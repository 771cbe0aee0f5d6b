#include "socketstream.h"

#include "requestline.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

namespace vexor::server {

namespace {

constexpr std::size_t ReceiveBlock = 4096;

void addressOf(const sockaddr_storage& addr, socklen_t len, std::string& ip, int& port)
{
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), len, host, sizeof host, service, sizeof service,
            NI_NUMERICHOST | NI_NUMERICSERV)
        != 0)
        return;
    ip = host;
    port = std::atoi(service);
}

} // namespace

bool waitForSocket(int sock, short events, std::chrono::microseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd { sock, events, 0 };
        const int ready = ::poll(&fd, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

RepairingSocketStream::RepairingSocketStream(int sock, std::chrono::microseconds readTimeout,
    std::chrono::microseconds writeTimeout)
    : m_sock(sock)
    , m_readTimeout(readTimeout)
    , m_writeTimeout(writeTimeout)
{
}

bool RepairingSocketStream::is_readable() const
{
    return m_offset < m_buffer.size() || waitForSocket(m_sock, POLLIN, m_readTimeout);
}

bool RepairingSocketStream::is_writable() const
{
    return waitForSocket(m_sock, POLLOUT, m_writeTimeout);
}

ssize_t RepairingSocketStream::receive(char* ptr, std::size_t size) const
{
    if (!waitForSocket(m_sock, POLLIN, m_readTimeout))
        return -1;
    for (;;) {
        const ssize_t n = ::recv(m_sock, ptr, size, 0);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

void RepairingSocketStream::readRequestLine()
{
    m_lineDone = true;
    std::size_t end = m_buffer.find('\n');
    char block[ReceiveBlock];
    while (end == std::string::npos && m_buffer.size() <= MaxRequestLine) {
        const ssize_t n = receive(block, sizeof block);
        if (n <= 0)
            return; // the parser meets the end of the stream and answers or gives up
        m_buffer.append(block, static_cast<std::size_t>(n));
        end = m_buffer.find('\n');
    }
    if (end == std::string::npos)
        return;
    std::string_view line(m_buffer.data(), end);
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    const std::string repaired = repairRequestLine(line);
    // A line the parser will refuse (a blank in the target) ends the
    // connection with its 400: what follows it is no request to trust.
    m_http11 = repaired.ends_with(" HTTP/1.1") && std::count(repaired.begin(), repaired.end(), ' ') == 2;
    m_buffer = repaired + "\r\n" + m_buffer.substr(end + 1);
}

bool RepairingSocketStream::http11()
{
    if (!m_lineDone)
        readRequestLine();
    return m_http11;
}

void RepairingSocketStream::nextRequest()
{
    m_buffer.erase(0, m_offset);
    m_offset = 0;
    m_lineDone = false;
    m_http11 = false;
}

ssize_t RepairingSocketStream::read(char* ptr, size_t size)
{
    if (!m_lineDone)
        readRequestLine();
    if (m_offset >= m_buffer.size()) {
        m_buffer.resize(ReceiveBlock);
        m_offset = 0;
        const ssize_t n = receive(m_buffer.data(), m_buffer.size());
        m_buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        if (n <= 0)
            return n;
    }
    const std::size_t count = std::min(size, m_buffer.size() - m_offset);
    std::memcpy(ptr, m_buffer.data() + m_offset, count);
    m_offset += count;
    return static_cast<ssize_t>(count);
}

ssize_t RepairingSocketStream::write(const char* ptr, size_t size)
{
    if (!waitForSocket(m_sock, POLLOUT, m_writeTimeout))
        return -1;
    for (;;) {
        // MSG_NOSIGNAL: a client that went away must not raise SIGPIPE.
        const ssize_t n = ::send(m_sock, ptr, size, MSG_NOSIGNAL);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

void RepairingSocketStream::get_remote_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage addr {};
    socklen_t len = sizeof addr;
    if (::getpeername(m_sock, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        addressOf(addr, len, ip, port);
}

void RepairingSocketStream::get_local_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage addr {};
    socklen_t len = sizeof addr;
    if (::getsockname(m_sock, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        addressOf(addr, len, ip, port);
}

} // namespace vexor::server
